#include "dialog_geometry.h"

#include <QFontMetrics>
#include <QString>

namespace wexhash {
namespace {

// value * numerator / denominator, rounded to the nearest integer.
int Scale(int value, int numerator, int denominator) {
    return (2 * value * numerator + denominator) / (2 * denominator);
}

// One axis of the centring: integer halves rounding toward zero, then clamped
// to the area, the near edge winning when the window is larger than the area.
int CentreAxis(int low, int high, int extent) {
    int start = (low + high) / 2 - extent / 2;
    if (start < low) {
        start = low;
    } else if (start + extent > high) {
        start = high - extent;
    }
    return start;
}

}  // namespace

TDialogUnits::TDialogUnits(const QFont& font) {
    // The average width is measured over the alphabet in both cases.
    const QFontMetrics metrics(font);
    const QString alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    baseX_ = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    baseY_ = metrics.height();
}

QSize TDialogUnits::ToPixels(int width, int height) const {
    return {Scale(width, baseX_, 4), Scale(height, baseY_, 8)};
}

QRect TDialogUnits::ToPixels(int x, int y, int width, int height) const {
    return {QPoint(Scale(x, baseX_, 4), Scale(y, baseY_, 8)), ToPixels(width, height)};
}

QPoint CentreIn(const QRect& area, const QSize& size) {
    // QRect's right() and bottom() are inclusive; the edges here are not.
    return {CentreAxis(area.left(), area.left() + area.width(), size.width()),
            CentreAxis(area.top(), area.top() + area.height(), size.height())};
}

}  // namespace wexhash
