#include "fingerprint_dlg.h"

#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "dialog_geometry.h"
#include "file_hash.h"

namespace wexhash {
namespace {

enum class TKind { Edit, Label, OutputEdit, Button };

// Size of the dialog's client area in dialog units.
constexpr int kTemplateWidth = 322;
constexpr int kTemplateHeight = 162;

QWidget* MakeControl(TKind kind, const char* text, QWidget* parent) {
    switch (kind) {
        case TKind::Edit: {
            auto* edit = new QLineEdit(parent);
            edit->setAcceptDrops(false);  // a dropped file is the dialog's business
            return edit;
        }
        case TKind::Label: {
            auto* label = new QLabel(QString::fromUtf8(text), parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case TKind::OutputEdit: {
            // Read-only, one long line that scrolls sideways, reachable by Tab.
            auto* edit = new QPlainTextEdit(parent);
            edit->setReadOnly(true);
            edit->setLineWrapMode(QPlainTextEdit::NoWrap);
            edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setTabChangesFocus(true);
            edit->setAcceptDrops(false);
            edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            edit->setFocusPolicy(Qt::StrongFocus);
            return edit;
        }
        case TKind::Button: {
            // Not the default, and not made one by taking the focus:
            // keyPressEvent decides what Enter does.
            auto* button = new QPushButton(QString::fromUtf8(text), parent);
            button->setAutoDefault(false);
            return button;
        }
    }
    return nullptr;
}

}  // namespace

CFingerprintDlg::CFingerprintDlg(const QString& initialPath, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kDialogCaption));
    setAcceptDrops(true);
    CreateControls();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(CentreIn(screen->availableGeometry(), frameGeometry().size()));
    }
    filePath_->setFocus();
    if (!initialPath.isEmpty()) {
        filePath_->setText(initialPath);
        hashValue_->setPlainText(ComputeFileHash(initialPath));
    }
}

void CFingerprintDlg::CreateControls() {
    // The dialog template: each control's kind, name, text and rectangle in
    // dialog units. Template order is also the tab order.
    struct TControl {
        TKind kind;
        const char* name;
        const char* text;
        int x, y, width, height;
        void (CFingerprintDlg::*onClick)();
    };
    static constexpr TControl kControls[] = {
        {TKind::Edit, "filePath", "", 7, 31, 233, 14, nullptr},
        {TKind::Label, "", "File to be hashed:", 7, 18, 130, 9, nullptr},
        {TKind::OutputEdit, "hashValue", "", 7, 66, 292, 47, nullptr},
        {TKind::Button, "getHash", "Get Hash Value", 63, 136, 63, 14, &CFingerprintDlg::OnGetHash},
        {TKind::Button, "browse", "Browse...", 253, 31, 50, 14, &CFingerprintDlg::OnBrowse},
        {TKind::Label, "", "Output SHA-256 hash value:", 7, 51, 143, 8, nullptr},
        {TKind::Button, "clear", "Clear", 135, 136, 50, 14, &CFingerprintDlg::OnClear},
        {TKind::Button, "copy", "Copy To Clipboard", 198, 136, 66, 14, &CFingerprintDlg::OnCopy},
    };

    const TDialogUnits units(font());
    setFixedSize(units.ToPixels(kTemplateWidth, kTemplateHeight));
    QWidget* previous = nullptr;
    for (const TControl& control : kControls) {
        QWidget* widget = MakeControl(control.kind, control.text, this);
        widget->setObjectName(control.name);
        widget->setGeometry(units.ToPixels(control.x, control.y, control.width, control.height));
        if (control.onClick) {
            connect(static_cast<QPushButton*>(widget), &QPushButton::clicked, this,
                    control.onClick);
        }
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous) setTabOrder(previous, widget);
            previous = widget;
        }
    }
    filePath_ = findChild<QLineEdit*>("filePath");
    hashValue_ = findChild<QPlainTextEdit*>("hashValue");
}

QString CFingerprintDlg::ComputeFileHash(const QString& path) {
    const std::optional<std::string> text =
        HashFile(digest_, QFile::encodeName(path).toStdString());
    if (!text) {
        ShowOpenError(this);
        return {};
    }
    return QString::fromLatin1(*text);
}

void CFingerprintDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        // No button is the default, so Enter presses the push button that has
        // the focus and anywhere else ends the dialog as OK.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);  // Esc ends the dialog as Cancel
}

void CFingerprintDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CFingerprintDlg::dropEvent(QDropEvent* event) {
    // The first file only; the user asks for its fingerprint.
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    filePath_->setText(QDir::toNativeSeparators(urls.first().toLocalFile()));
    event->acceptProposedAction();
}

void CFingerprintDlg::OnGetHash() {
    const QString path = filePath_->text();
    if (path.isEmpty()) return;  // the last fingerprint stays visible
    hashValue_->setPlainText(ComputeFileHash(path));
}

void CFingerprintDlg::OnBrowse() {
    // Any name may be chosen, existing or not; the choice only fills the path.
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted) return;
    const QStringList files = dialog.selectedFiles();
    if (!files.isEmpty()) filePath_->setText(QDir::toNativeSeparators(files.first()));
}

void CFingerprintDlg::OnClear() {
    filePath_->clear();
    hashValue_->clear();
    filePath_->setFocus();
}

void CFingerprintDlg::OnCopy() {
    const QString text = hashValue_->toPlainText();
    if (text.isEmpty()) return;  // leave the clipboard as it was
    QGuiApplication::clipboard()->setText(text);
}

void ShowOpenError(QWidget* owner) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kOpenErrorCaption),
                    QString::fromUtf8(kOpenErrorText), QMessageBox::Ok, owner);
    box.exec();
}

}  // namespace wexhash
