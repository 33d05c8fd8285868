#include <gtest/gtest.h>

#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

#include "dialog_geometry.h"
#include "fingerprint_dlg.h"
#include "test_util.h"

namespace {

using namespace wexhash;
using namespace wexhash_test;

const QString kAbcHash = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

// Acts on the next modal window (a message box, the Open dialog) that the
// code under test opens, from inside its own event loop, and again every
// 10 ms until that window has closed: a busy file dialog may not take a
// choice at the first try. Watches for a few seconds at most, and only while
// the returned timer lives.
std::unique_ptr<QTimer> WhenModalAppears(std::function<void(QWidget*)> action) {
    auto timer = std::make_unique<QTimer>();
    auto target = std::make_shared<QPointer<QWidget>>();
    auto acted = std::make_shared<bool>(false);
    auto ticksLeft = std::make_shared<int>(1000);
    QTimer* self = timer.get();
    QObject::connect(self, &QTimer::timeout, [=] {
        const bool done = *acted ? !*target || !(*target)->isVisible() : --*ticksLeft == 0;
        if (done) {
            self->stop();
        } else if (*acted) {
            action(*target);
        } else if (QWidget* modal = QApplication::activeModalWidget()) {
            *acted = true;
            *target = modal;
            action(modal);
        }
    });
    timer->start(10);
    return timer;
}

// Records the next message box and presses its OK button.
struct TMessageBoxSeen {
    TMessageBoxSeen()
        : watch(WhenModalAppears([this](QWidget* modal) {
              auto* box = qobject_cast<QMessageBox*>(modal);
              if (!box) return;
              text = box->text();
              caption = box->windowTitle();
              box->button(QMessageBox::Ok)->click();
          })) {}
    QString text, caption;
    std::unique_ptr<QTimer> watch;
};

class DialogTest : public testing::Test {
protected:
    QLineEdit* Path(CFingerprintDlg& d) { return d.findChild<QLineEdit*>("filePath"); }
    QPlainTextEdit* Hash(CFingerprintDlg& d) { return d.findChild<QPlainTextEdit*>("hashValue"); }
    QPushButton* Button(CFingerprintDlg& d, const char* name) {
        return d.findChild<QPushButton*>(name);
    }
    QString Write(const std::string& name, const std::string& text) {
        return QString::fromStdString(dir_.Write(name, {text.begin(), text.end()}));
    }

    TTempDir dir_;
};

TEST_F(DialogTest, TemplateTextsSizeAndTabOrder) {
    CFingerprintDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "TARN Fingerprint Utility");
    EXPECT_EQ(dialog.size(), TDialogUnits(dialog.font()).ToPixels(322, 162));
    EXPECT_EQ(Button(dialog, "getHash")->text(), "Get Hash Value");
    EXPECT_EQ(Button(dialog, "browse")->text(), "Browse...");
    EXPECT_EQ(Button(dialog, "clear")->text(), "Clear");
    EXPECT_EQ(Button(dialog, "copy")->text(), "Copy To Clipboard");
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    EXPECT_EQ(labels, QStringList({"File to be hashed:", "Output SHA-256 hash value:"}));
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
    }

    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QStringList order = {dialog.focusWidget()->objectName()};
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
        order << dialog.focusWidget()->objectName();
    }
    EXPECT_EQ(order, QStringList({"filePath", "hashValue", "getHash", "browse", "clear", "copy",
                                  "filePath"}));
}

TEST_F(DialogTest, DialogUnitsAndCentring) {
    // The classic dialog font measures 6 x 13 pixels per base unit.
    EXPECT_EQ(TDialogUnits(6, 13).ToPixels(322, 162), QSize(483, 263));
    EXPECT_EQ(TDialogUnits(6, 13).ToPixels(7, 31, 233, 14), QRect(11, 50, 350, 23));

    EXPECT_EQ(CentreIn(QRect(0, 0, 1920, 1040), QSize(483, 263)), QPoint(719, 389));
    EXPECT_EQ(CentreIn(QRect(-1280, 40, 1280, 984), QSize(501, 300)), QPoint(-890, 382));
    EXPECT_EQ(CentreIn(QRect(100, 0, 300, 200), QSize(500, 400)), QPoint(100, 0));

    CFingerprintDlg dialog;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(dialog.pos(), CentreIn(area, dialog.frameGeometry().size()));
}

TEST_F(DialogTest, InitialPathShowsItsFingerprintAtOnce) {
    const QString abc = Write("abc", "abc");
    CFingerprintDlg dialog(abc);
    EXPECT_EQ(Path(dialog)->text(), abc);
    EXPECT_EQ(Hash(dialog)->toPlainText(), kAbcHash);
    EXPECT_EQ(dialog.focusWidget(), Path(dialog));
}

TEST_F(DialogTest, InitialPathThatCannotBeOpenedIsReportedFirst) {
    const QString missing = QString::fromStdString(dir_.path().string()) + "/missing";
    TMessageBoxSeen box;
    CFingerprintDlg dialog(missing);
    EXPECT_EQ(box.text, "Could not open file.");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Path(dialog)->text(), missing);
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");
}

TEST_F(DialogTest, GetHashClearAndAnEmptyPath) {
    CFingerprintDlg dialog(Write("abc", "abc"));
    // An empty path does nothing: the last fingerprint stays.
    Path(dialog)->clear();
    Button(dialog, "getHash")->click();
    EXPECT_EQ(Hash(dialog)->toPlainText(), kAbcHash);

    // A second file through the same dialog comes out as if it were first.
    Path(dialog)->setText(Write("empty", ""));
    Button(dialog, "getHash")->click();
    EXPECT_EQ(Hash(dialog)->toPlainText(),
              "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");

    // A path that fails empties the fingerprint after the message.
    Path(dialog)->setText(QString::fromStdString(dir_.path().string()));
    TMessageBoxSeen box;
    Button(dialog, "getHash")->click();
    EXPECT_EQ(box.text, "Could not open file.");
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");

    Path(dialog)->setText(Write("abc", "abc"));
    Button(dialog, "getHash")->click();
    Button(dialog, "copy")->setFocus();
    Button(dialog, "clear")->click();
    EXPECT_EQ(Path(dialog)->text(), "");
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");
    EXPECT_EQ(dialog.focusWidget(), Path(dialog));
}

TEST_F(DialogTest, CopyPutsPlainTextAndNothingWhenEmpty) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("before");
    CFingerprintDlg dialog;
    Button(dialog, "copy")->click();
    EXPECT_EQ(clipboard->text(), "before");

    Path(dialog)->setText(Write("abc", "abc"));
    Button(dialog, "getHash")->click();
    Button(dialog, "copy")->click();
    EXPECT_EQ(clipboard->text(), kAbcHash);
    EXPECT_TRUE(clipboard->mimeData()->hasText());
}

TEST_F(DialogTest, DropTakesTheFirstFileAndComputesNothing) {
    const QString first = Write("first", "abc");
    const QString second = Write("second", "xyz");
    CFingerprintDlg dialog;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);

    EXPECT_EQ(Path(dialog)->text(), first);
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");
}

TEST_F(DialogTest, BrowseFillsThePathOnlyWhenConfirmed) {
    const QString chosen = Write("chosen", "abc");
    CFingerprintDlg dialog;
    Path(dialog)->setText("typed");
    auto watch = WhenModalAppears([](QWidget* modal) {
        if (auto* open = qobject_cast<QFileDialog*>(modal)) open->reject();
    });
    Button(dialog, "browse")->click();
    EXPECT_EQ(Path(dialog)->text(), "typed");

    watch = WhenModalAppears([&chosen](QWidget* modal) {
        if (auto* open = qobject_cast<QFileDialog*>(modal)) {
            // Typed as a user would: selectFile() waits for the folder to be read.
            open->findChild<QLineEdit*>("fileNameEdit")->setText(chosen);
            static_cast<QDialog*>(open)->accept();  // QFileDialog::accept is protected
        }
    });
    Button(dialog, "browse")->click();
    EXPECT_EQ(Path(dialog)->text(), chosen);
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");
}

// No button is the default: Enter ends the dialog as OK from the fields,
// presses a button that has the focus; Esc ends it as Cancel.
TEST_F(DialogTest, EnterAndEscape) {
    CFingerprintDlg dialog(Write("abc", "abc"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Button(dialog, "clear")->setFocus();
    QTest::keyClick(Button(dialog, "clear"), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");

    QTest::keyClick(Path(dialog), Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    dialog.show();
    QTest::keyClick(Hash(dialog), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    dialog.show();
    QTest::keyClick(Path(dialog), Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

}  // namespace
