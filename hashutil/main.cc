// wexhash: shows the SHA-256 fingerprint of a file, in a dialog or, with
// "/console PATH", on standard output without any window.
#include <dlfcn.h>

#include <cstdio>

#include "command_line.h"
#include "console_mode.h"
#include "dialog_module.h"
#include "file_hash.h"

namespace {

using namespace wexhash;

// The exit status is 1 in every case, whatever the mode and the outcome.
constexpr int kExitStatus = 1;

// The loaded dialog module. It stays mapped until the process ends, since Qt
// does not expect to be unloaded.
class TDialogModule {
public:
    TDialogModule() : handle_(dlopen(kDialogModuleName, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
        if (!handle_) std::fprintf(stderr, "%s\n", dlerror());
    }
    ~TDialogModule() {
        if (handle_) dlclose(handle_);
    }
    TDialogModule(const TDialogModule&) = delete;
    TDialogModule& operator=(const TDialogModule&) = delete;

    // The entry point named name, of function type F, or null.
    template <typename F>
    F* Find(const char* name) const {
        return handle_ ? reinterpret_cast<F*>(dlsym(handle_, name)) : nullptr;
    }

private:
    void* handle_;
};

void ReportConsoleFailure(char* program) {
    if (HasDisplay()) {
        const TDialogModule module;
        if (auto* show = module.Find<decltype(WexhashShowOpenError)>("WexhashShowOpenError")) {
            show(program);
            return;
        }
    }
    std::fprintf(stderr, "%s\n", kOpenErrorText);
}

void RunDialog(char* program, const std::string& path) {
    const TDialogModule module;
    if (auto* run = module.Find<decltype(WexhashRunDialog)>("WexhashRunDialog"))
        run(program, path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    static char fallbackName[] = "wexhash";
    char* program = argc > 0 && argv[0] ? argv[0] : fallbackName;

    const TCommandLine commandLine = ParseCommandLine(argc, argv);
    if (commandLine.console) {
        if (!WriteFingerprint(commandLine.path, stdout)) ReportConsoleFailure(program);
    } else {
        RunDialog(program, commandLine.path);
    }
    return kExitStatus;
}
