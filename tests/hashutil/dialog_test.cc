#include <gtest/gtest.h>

#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "dialog_geometry.h"
#include "fingerprint_dlg.h"
#include "test_util.h"

namespace {

using namespace wexhash;
using namespace wexhash_test;

const QString kAbcHash = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

// Presses OK on the next message box, from inside its own event loop, and
// keeps what it said. Watches only while this object lives.
class TMessageBoxSeen {
public:
    TMessageBoxSeen() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            timer_.stop();
            text = box->text();
            caption = box->windowTitle();
            box->button(QMessageBox::Ok)->click();
        });
        timer_.start(10);
    }
    QString text, caption;

private:
    QTimer timer_;
};

class DialogTest : public testing::Test {
protected:
    QLineEdit* Path(CFingerprintDlg& d) { return d.findChild<QLineEdit*>("filePath"); }
    QPlainTextEdit* Hash(CFingerprintDlg& d) { return d.findChild<QPlainTextEdit*>("hashValue"); }
    QPushButton* Button(CFingerprintDlg& d, const char* name) {
        return d.findChild<QPushButton*>(name);
    }
    QString Write(const std::string& name, const std::string& text) {
        return QString::fromStdString(dir_.Write(name, text));
    }

    TTempDir dir_;
};

TEST_F(DialogTest, CaptionSizeNoDefaultButtonAndTabOrder) {
    CFingerprintDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "TARN Fingerprint Utility");
    EXPECT_EQ(dialog.size(), TDialogUnits(dialog.font()).ToPixels(322, 162));
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
