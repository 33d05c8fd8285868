// wexhash: shows the SHA-256 fingerprint of a file, in a dialog or, with
// "/console PATH", on standard output without any window.
#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "command_line.h"
#include "console_mode.h"
#include "file_hash.h"
#include "fingerprint_dlg.h"

namespace {

using namespace wexhash;

// The exit status is 1 in every case, whatever the mode and the outcome.
constexpr int kExitStatus = 1;

QtMessageHandler defaultHandler = nullptr;

// Qt aborts on a fatal error, such as having no display to connect to; print
// its message and end with the usual status instead.
void HandleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::_Exit(kExitStatus);
    }
    if (defaultHandler) defaultHandler(type, context, message);
}

// Every argument of ours is a path, so Qt is given none to read options from.
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

void ReportConsoleFailure(char* program) {
    if (!HasDisplay()) {
        std::fprintf(stderr, "%s\n", kOpenErrorText);
        return;
    }
    TApplication app(program);
    ShowOpenError(nullptr);
}

void RunDialog(char* program, const std::string& path) {
    TApplication app(program);
    CFingerprintDlg dialog(QFile::decodeName(path.c_str()));
    dialog.exec();
}

}  // namespace

int main(int argc, char** argv) {
    defaultHandler = qInstallMessageHandler(HandleQtMessage);
    static char fallbackName[] = "wexhash";
    char* program = argc > 0 && argv[0] ? argv[0] : fallbackName;

    // Console mode is decided before Qt starts: it must need no display.
    const TCommandLine commandLine = ParseCommandLine(argc, argv);
    if (commandLine.console) {
        if (!WriteFingerprint(commandLine.path, stdout)) ReportConsoleFailure(program);
    } else {
        RunDialog(program, commandLine.path);
    }
    return kExitStatus;
}
