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
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "dialog_geometry.h"
#include "expected_hash.h"
#include "file_hash.h"

namespace wexhash {
namespace {

enum class TKind { Edit, Label, OutputEdit, Progress, Button };

// Size of the dialog's client area in dialog units: the original template
// and one row more for the comparison.
constexpr int kTemplateWidth = 322;
constexpr int kTemplateHeight = 182;

// A run that ends sooner than this never shows its progress bar, so small
// files do not make it flicker.
constexpr int kProgressDelayMs = 250;
constexpr int kProgressIntervalMs = 100;
constexpr int kProgressSteps = 1000;

const char kGetHashText[] = "Get Hash Value";
const char kCancelText[] = "Cancel";

QWidget* MakeControl(TKind kind, const char* text, QWidget* parent) {
    switch (kind) {
        case TKind::Edit: {
            auto* edit = new QLineEdit(parent);
            edit->setAcceptDrops(false);  // a dropped file is the dialog's business
            return edit;
        }
        case TKind::Label: {
            auto* label = new QLabel(QString::fromUtf8(text), parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
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
        case TKind::Progress: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, kProgressSteps);
            bar->setAlignment(Qt::AlignCenter);
            bar->hide();
            return bar;
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

// "37% - 412 MB/s", or the speed alone when the size is not known.
QString ProgressText(uint64_t done, uint64_t size, qint64 milliseconds) {
    const double megabytesPerSecond =
        milliseconds > 0 ? static_cast<double>(done) / 1000.0 / static_cast<double>(milliseconds)
                         : 0.0;
    const QString speed = QString("%1 MB/s").arg(megabytesPerSecond, 0, 'f', 0);
    if (size == 0) return speed;
    return QString("%1% \u2013 %2").arg(done * 100 / size).arg(speed);
}

}  // namespace

CFingerprintDlg::CFingerprintDlg(const QString& initialPath, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kDialogCaption));
    setAcceptDrops(true);
    CreateControls();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(CentreIn(screen->availableGeometry(), frameGeometry().size()));
    }
    progressTimer_.setInterval(kProgressIntervalMs);
    connect(&progressTimer_, &QTimer::timeout, this, &CFingerprintDlg::ShowProgress);
    connect(expected_, &QLineEdit::textChanged, this, &CFingerprintDlg::ShowComparison);
    connect(hashValue_, &QPlainTextEdit::textChanged, this, &CFingerprintDlg::ShowComparison);
    FillExpectedFromClipboard();

    filePath_->setFocus();
    if (!initialPath.isEmpty()) {
        filePath_->setText(initialPath);
        StartHash(initialPath);
    }
}

CFingerprintDlg::~CFingerprintDlg() {
    task_.reset();  // before the members it reports to go away
}

void CFingerprintDlg::CreateControls() {
    // The dialog template: each control's kind, name, text and rectangle in
    // dialog units. Template order is also the tab order. The comparison
    // row and the progress bar are new; the buttons moved down one row.
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
        {TKind::Progress, "progress", "", 7, 116, 292, 10, nullptr},
        {TKind::Label, "", "Expected hash value:", 7, 132, 86, 9, nullptr},
        {TKind::Edit, "expected", "", 95, 129, 135, 14, nullptr},
        {TKind::Label, "comparison", "", 236, 132, 80, 9, nullptr},
        {TKind::Button, "getHash", kGetHashText, 63, 156, 63, 14, &CFingerprintDlg::OnGetHash},
        {TKind::Button, "browse", "Browse...", 253, 31, 50, 14, &CFingerprintDlg::OnBrowse},
        {TKind::Label, "", "Output SHA-256 hash value:", 7, 51, 143, 8, nullptr},
        {TKind::Button, "clear", "Clear", 135, 156, 50, 14, &CFingerprintDlg::OnClear},
        {TKind::Button, "copy", "Copy To Clipboard", 198, 156, 66, 14, &CFingerprintDlg::OnCopy},
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
    expected_ = findChild<QLineEdit*>("expected");
    comparison_ = findChild<QLabel*>("comparison");
    progress_ = findChild<QProgressBar*>("progress");
    getHash_ = findChild<QPushButton*>("getHash");
}

// People copy the published value before they open the tool; take it.
void CFingerprintDlg::FillExpectedFromClipboard() {
    const QString text = QGuiApplication::clipboard()->text().trimmed();
    if (ParseExpected(text.toStdString()).kind == TExpectedKind::Value) expected_->setText(text);
}

void CFingerprintDlg::StartHash(const QString& path) {
    // Opening is quick and tells at once whether there is anything to read.
    TFile file(QFile::encodeName(path).toStdString());
    hashValue_->clear();
    if (!file.IsOpen()) {
        ShowOpenError(this);
        return;
    }
    const unsigned id = ++taskId_;
    task_ = std::make_unique<THashTask>(digest_, std::move(file), [this, id](const THashResult& r) {
        QMetaObject::invokeMethod(
            this, [this, id, r] { OnHashDone(id, r); }, Qt::QueuedConnection);
    });
    getHash_->setText(kCancelText);
    elapsed_.start();
    progressTimer_.start();
}

void CFingerprintDlg::CancelHash() {
    task_.reset();
    ShowIdle();
}

void CFingerprintDlg::OnHashDone(unsigned taskId, const THashResult& result) {
    if (!task_ || taskId != taskId_) return;  // cancelled before this arrived
    task_.reset();
    ShowIdle();
    if (result.Ok()) {
        hashValue_->setPlainText(QString::fromLatin1(result.hex));
    } else if (result.end == TReadEnd::Failed) {
        ShowOpenError(this);
    }
}

void CFingerprintDlg::ShowIdle() {
    progressTimer_.stop();
    progress_->hide();
    getHash_->setText(kGetHashText);
}

void CFingerprintDlg::ShowProgress() {
    if (!task_ || elapsed_.elapsed() < kProgressDelayMs) return;
    const uint64_t done = task_->BytesDone();
    const uint64_t size = task_->Size();
    if (size == 0) {
        progress_->setRange(0, 0);  // busy, with no end in sight
    } else {
        progress_->setRange(0, kProgressSteps);
        progress_->setValue(static_cast<int>(std::min(done, size) * kProgressSteps / size));
    }
    progress_->setFormat(ProgressText(done, size, elapsed_.elapsed()));
    progress_->show();
}

void CFingerprintDlg::ShowComparison() {
    const TVerdict verdict =
        Compare(expected_->text().toStdString(), hashValue_->toPlainText().toStdString());
    QString text;
    QString color;
    switch (verdict) {
        case TVerdict::None:
            break;
        case TVerdict::Match:
            text = QString::fromUtf8("\u2713 Match");
            color = "#1a7f37";
            break;
        case TVerdict::NoMatch:
            text = QString::fromUtf8("\u2717 No match");
            color = "#c62828";
            break;
        case TVerdict::NotSha256:
            text = "Not a SHA-256 value";
            break;
    }
    comparison_->setText(text);
    comparison_->setStyleSheet(color.isEmpty() ? QString() : "color: " + color + ";");
}

void CFingerprintDlg::done(int result) {
    CancelHash();
    QDialog::done(result);
}

void CFingerprintDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        // No button is the default, so Enter presses the push button that has
        // the focus and anywhere else ends the dialog as OK.
        // In the expected-value field Enter only confirms the pasted value:
        // the comparison is already shown, and closing would lose it.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else if (focusWidget() != expected_) {
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
    // While a run goes on, the button reads "Cancel".
    if (IsHashing()) {
        CancelHash();
        return;
    }
    const QString path = filePath_->text();
    if (path.isEmpty()) return;  // the last fingerprint stays visible
    StartHash(path);
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
    CancelHash();
    filePath_->clear();
    hashValue_->clear();
    expected_->clear();
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
