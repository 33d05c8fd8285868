#include <gtest/gtest.h>
#include <unistd.h>

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

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
    QLineEdit* Expected(CFingerprintDlg& d) { return d.findChild<QLineEdit*>("expected"); }
    QLabel* Comparison(CFingerprintDlg& d) { return d.findChild<QLabel*>("comparison"); }
    QProgressBar* Progress(CFingerprintDlg& d) { return d.findChild<QProgressBar*>("progress"); }
    // Hashing runs on its own thread; the result arrives through the event
    // loop. Returns false when it does not come in time.
    static bool Finished(CFingerprintDlg& d) {
        return QTest::qWaitFor([&] { return !d.IsHashing(); }, 20000);
    }
    // A file of size bytes that takes no room: reading it goes on long enough
    // to watch, and stop, a run.
    QString Sparse(const std::string& name, off_t size) {
        const std::string path = dir_.Write(name, "");
        EXPECT_EQ(truncate(path.c_str(), size), 0);
        return QString::fromStdString(path);
    }
    QString Write(const std::string& name, const std::string& text) {
        return QString::fromStdString(dir_.Write(name, text));
    }

    TTempDir dir_;
};

TEST_F(DialogTest, CaptionSizeNoDefaultButtonAndTabOrder) {
    CFingerprintDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "TARN Fingerprint Utility");
    // The template's size, and one row more for the comparison.
    EXPECT_EQ(dialog.size(), TDialogUnits(dialog.font()).ToPixels(322, 182));
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
    }

    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QStringList order = {dialog.focusWidget()->objectName()};
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
        order << dialog.focusWidget()->objectName();
    }
    EXPECT_EQ(order, QStringList({"filePath", "hashValue", "expected", "getHash", "browse", "clear",
                                  "copy", "filePath"}));
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
    EXPECT_TRUE(Finished(dialog));
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
    ASSERT_TRUE(Finished(dialog));
    // An empty path does nothing: the last fingerprint stays.
    Path(dialog)->clear();
    Button(dialog, "getHash")->click();
    EXPECT_FALSE(dialog.IsHashing());
    EXPECT_EQ(Hash(dialog)->toPlainText(), kAbcHash);

    // A second file through the same dialog comes out as if it were first.
    Path(dialog)->setText(Write("empty", ""));
    Button(dialog, "getHash")->click();
    ASSERT_TRUE(Finished(dialog));
    EXPECT_EQ(Hash(dialog)->toPlainText(),
              "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");

    // A path that fails empties the fingerprint after the message.
    Path(dialog)->setText(QString::fromStdString(dir_.path().string()));
    {
        TMessageBoxSeen box;
        Button(dialog, "getHash")->click();
        EXPECT_EQ(box.text, "Could not open file.");
    }
    EXPECT_FALSE(dialog.IsHashing());
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");

    // Clear empties all three fields.
    Path(dialog)->setText(Write("abc", "abc"));
    Button(dialog, "getHash")->click();
    ASSERT_TRUE(Finished(dialog));
    Expected(dialog)->setText(kAbcHash);
    Button(dialog, "copy")->setFocus();
    Button(dialog, "clear")->click();
    EXPECT_EQ(Path(dialog)->text(), "");
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");
    EXPECT_EQ(Expected(dialog)->text(), "");
    EXPECT_EQ(Comparison(dialog)->text(), "");
    EXPECT_EQ(dialog.focusWidget(), Path(dialog));
}

// A file that opens but cannot be read to its end gives the same message as
// one that does not open, and no fingerprint.
TEST_F(DialogTest, ReadFailureIsReported) {
    TMessageBoxSeen box;
    CFingerprintDlg dialog("/proc/self/mem");
    EXPECT_TRUE(Finished(dialog));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !box.text.isEmpty(); }, 20000));
    EXPECT_EQ(box.text, "Could not open file.");
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");
}

TEST_F(DialogTest, CopyPutsPlainTextAndNothingWhenEmpty) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("before");
    CFingerprintDlg dialog;
    Button(dialog, "copy")->click();
    EXPECT_EQ(clipboard->text(), "before");

    Path(dialog)->setText(Write("abc", "abc"));
    Button(dialog, "getHash")->click();
    ASSERT_TRUE(Finished(dialog));
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
    ASSERT_TRUE(Finished(dialog));
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

    // Enter after pasting an expected value keeps the window and its verdict.
    dialog.show();
    Expected(dialog)->setFocus();
    QTest::keyClick(Expected(dialog), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
}

// The comparison row, against the fingerprint of "abc": what people paste,
// and the label following both the field and the fingerprint.
TEST_F(DialogTest, CompareWithExpectedValue) {
    QGuiApplication::clipboard()->clear();
    CFingerprintDlg dialog(Write("abc", "abc"));
    ASSERT_TRUE(Finished(dialog));
    EXPECT_EQ(Comparison(dialog)->text(), "");  // nothing expected yet

    QString oneDigitOff = kAbcHash;
    oneDigitOff[63] = 'E';
    const std::pair<QString, QString> cases[] = {
        {kAbcHash, "\u2713 Match"},
        {kAbcHash.toLower(), "\u2713 Match"},
        {"  sha256:" + kAbcHash.toLower() + " ", "\u2713 Match"},
        {kAbcHash.toLower() + "  abc.iso", "\u2713 Match"},
        {oneDigitOff, "\u2717 No match"},
        {"not a hash", "Not a SHA-256 value"},
        {kAbcHash.left(63), "Not a SHA-256 value"},
        {"", ""},
    };
    for (const auto& [pasted, verdict] : cases) {
        Expected(dialog)->setText(pasted);
        EXPECT_EQ(Comparison(dialog)->text(), verdict) << pasted.toStdString();
    }
    Expected(dialog)->setText(oneDigitOff);
    EXPECT_TRUE(Comparison(dialog)->styleSheet().contains("#c62828"));
    Expected(dialog)->setText(kAbcHash);
    EXPECT_TRUE(Comparison(dialog)->styleSheet().contains("#1a7f37"));

    // Another file: no verdict while it is hashed, then the new one.
    Path(dialog)->setText(Write("abd", "abd"));
    Button(dialog, "getHash")->click();
    EXPECT_EQ(Comparison(dialog)->text(), "");
    ASSERT_TRUE(Finished(dialog));
    EXPECT_EQ(Comparison(dialog)->text(), "\u2717 No match");
}

// A published value on the clipboard fills the field when the dialog opens;
// other text does not.
TEST_F(DialogTest, ExpectedValueFromClipboard) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(" " + kAbcHash.toLower() + "\n");
    EXPECT_EQ(Expected(*std::make_unique<CFingerprintDlg>())->text(), kAbcHash.toLower());
    clipboard->setText("some other text");
    EXPECT_EQ(Expected(*std::make_unique<CFingerprintDlg>())->text(), "");
    clipboard->setText(kAbcHash.left(60));
    EXPECT_EQ(Expected(*std::make_unique<CFingerprintDlg>())->text(), "");
}

// While a large file is hashed the window goes on handling events (a timer
// fires), shows percent and speed, and offers Cancel; Cancel leaves the
// output empty and the button as it was.
TEST_F(DialogTest, LargeFileStaysResponsiveAndCancels) {
    CFingerprintDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Path(dialog)->setText(Sparse("huge", off_t{1} << 40));
    Button(dialog, "getHash")->click();
    ASSERT_TRUE(dialog.IsHashing());
    EXPECT_EQ(Button(dialog, "getHash")->text(), "Cancel");

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Progress(dialog)->isVisible() && ticks >= 3; }, 20000));
    EXPECT_TRUE(
        QRegularExpression("\\d+% \u2013 \\d+ MB/s").match(Progress(dialog)->text()).hasMatch())
        << Progress(dialog)->text().toStdString();
    EXPECT_TRUE(dialog.IsHashing());

    Button(dialog, "getHash")->click();
    EXPECT_FALSE(dialog.IsHashing());
    EXPECT_EQ(Button(dialog, "getHash")->text(), "Get Hash Value");
    EXPECT_FALSE(Progress(dialog)->isVisible());
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");
    EXPECT_TRUE(dialog.isVisible());

    // The cancelled run's report is still on its way; a run started at once
    // must neither show it nor be ended by it.
    Button(dialog, "getHash")->click();
    QTest::qWait(50);
    EXPECT_TRUE(dialog.IsHashing());
    EXPECT_EQ(Button(dialog, "getHash")->text(), "Cancel");
    EXPECT_EQ(Hash(dialog)->toPlainText(), "");
}

// Esc and the close box end the dialog during a run and stop the work.
TEST_F(DialogTest, EscapeAndCloseCancelTheRun) {
    const QString huge = Sparse("huge", off_t{1} << 40);
    for (bool escape : {true, false}) {
        CFingerprintDlg dialog(huge);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        ASSERT_TRUE(dialog.IsHashing());
        if (escape) {
            QTest::keyClick(Path(dialog), Qt::Key_Escape);
        } else {
            dialog.close();
        }
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_FALSE(dialog.IsHashing());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(Hash(dialog)->toPlainText(), "");
    }
}

// A small file never shows the progress bar.
TEST_F(DialogTest, SmallFileShowsNoProgress) {
    CFingerprintDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Path(dialog)->setText(Write("small", std::string(2 << 20, 'x')));
    bool seen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout,
                     [&] { seen = seen || Progress(dialog)->isVisible(); });
    watch.start(1);
    Button(dialog, "getHash")->click();
    ASSERT_TRUE(Finished(dialog));
    EXPECT_FALSE(seen);
    EXPECT_EQ(Hash(dialog)->toPlainText().size(), 64);
}

}  // namespace
