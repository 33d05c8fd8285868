// Entry points of the dialog module (see dialog_module.h).
#include "dialog_module.h"

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "fingerprint_dlg.h"

namespace {

using namespace wexhash;

QtMessageHandler defaultHandler = nullptr;

// Qt aborts on a fatal error, such as having no display to connect to; print
// its message and end with the program's one exit status instead.
void HandleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::_Exit(1);
    }
    if (defaultHandler) defaultHandler(type, context, message);
}

// The Qt application. Every argument of the program is a path, so Qt is
// given none to read options from.
class TApplication {
public:
    explicit TApplication(char* program) : argv_{program, nullptr}, app_(argc_, argv_) {
        QApplication::setApplicationName("wexhash");
        QApplication::setApplicationVersion("1.0.0.1");
        QGuiApplication::setDesktopFileName("wexhash");
    }

private:
    int argc_ = 1;
    char* argv_[2];
    QApplication app_;
};

}  // namespace

void WexhashRunDialog(char* program, const char* path) {
    defaultHandler = qInstallMessageHandler(HandleQtMessage);
    TApplication app(program);
    CFingerprintDlg dialog(QFile::decodeName(path));
    dialog.exec();
}
