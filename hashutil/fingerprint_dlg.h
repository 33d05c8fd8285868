// CFingerprintDlg: the wexhash window. The user names a file by typing,
// browsing or dropping it, asks for its fingerprint, clears the fields or
// copies the fingerprint to the clipboard.
#pragma once

#include <QDialog>
#include <QString>

#include "varn/sha256_digest.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace wexhash {

// Window title, also the program's description.
inline constexpr char kDialogCaption[] = "TARN Fingerprint Utility";

class CFingerprintDlg : public QDialog {
public:
    // A non-empty initialPath is shown with its fingerprint at once, so a
    // file that cannot be opened is reported before the dialog appears.
    explicit CFingerprintDlg(const QString& initialPath = {}, QWidget* parent = nullptr);

    // The fingerprint of the file at path, or "" after telling the user that
    // the file could not be opened.
    QString ComputeFileHash(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void OnGetHash();
    void OnBrowse();
    void OnClear();
    void OnCopy();

    Varn::TSha256Digest digest_;
    QLineEdit* filePath_ = nullptr;
    QPlainTextEdit* hashValue_ = nullptr;
};

// The "Could not open file." message box; owner may be null.
void ShowOpenError(QWidget* owner);

}  // namespace wexhash
