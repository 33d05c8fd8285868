// Placing the dialog: template units to pixels, and centring on the screen.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace wexhash {

// Dialog templates measure in dialog units: an x unit is a quarter of the
// font's average character width, a y unit an eighth of its height.
class TDialogUnits {
public:
    TDialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}
    explicit TDialogUnits(const QFont& font);

    QSize ToPixels(int width, int height) const;
    QRect ToPixels(int x, int y, int width, int height) const;

private:
    int baseX_;
    int baseY_;
};

// Top-left corner that centres a window of size in area, moved back inside
// the area where it would stick out (the left or top edge wins).
QPoint CentreIn(const QRect& area, const QSize& size);

}  // namespace wexhash
