// CFingerprintDlg: the wexhash window. The user names a file by typing,
// browsing or dropping it, asks for its fingerprint, compares it with an
// expected value, clears the fields or copies the fingerprint to the
// clipboard. Hashing runs on a thread of its own, with progress and Cancel.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <memory>

#include "hash_task.h"
#include "varn/sha256_digest.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace wexhash {

// Window title, also the program's description.
inline constexpr char kDialogCaption[] = "TARN Fingerprint Utility";

class CFingerprintDlg : public QDialog {
public:
    // A non-empty initialPath is hashed at once; a file that cannot be
    // opened is reported before the dialog appears.
    explicit CFingerprintDlg(const QString& initialPath = {}, QWidget* parent = nullptr);
    ~CFingerprintDlg() override;

    bool IsHashing() const { return task_ != nullptr; }

    // Ending the dialog in any way (OK, Esc, the close box) cancels hashing.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void FillExpectedFromClipboard();
    void StartHash(const QString& path);
    void CancelHash();
    void OnHashDone(unsigned taskId, const THashResult& result);
    void ShowIdle();
    void ShowProgress();
    void ShowComparison();
    void OnGetHash();
    void OnBrowse();
    void OnClear();
    void OnCopy();

    Varn::TSha256Digest digest_;
    std::unique_ptr<THashTask> task_;  // the run in progress, if any
    unsigned taskId_ = 0;              // tells a finished run from a dropped one
    QElapsedTimer elapsed_;
    QTimer progressTimer_;

    QLineEdit* filePath_ = nullptr;
    QPlainTextEdit* hashValue_ = nullptr;
    QLineEdit* expected_ = nullptr;
    QLabel* comparison_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* getHash_ = nullptr;
};

// The "Could not open file." message box; owner may be null.
void ShowOpenError(QWidget* owner);

}  // namespace wexhash
