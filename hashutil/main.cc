// wexhash: shows the SHA-256 fingerprint of a file, in a dialog or, with
// "/console PATH", on standard output without any window. "/sum" and
// "/check" write and check sha256sum's checksum lines.
#include <dlfcn.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>

#include "command_line.h"
#include "console_mode.h"
#include "dialog_module.h"
#include "sum_mode.h"

namespace {

using namespace wexhash;

// The exit status of the dialog and of "/console", whatever the outcome.
constexpr int kExitStatus = 1;

// The loaded dialog module. It stays mapped until the process ends, since Qt
// does not expect to be unloaded.
class TDialogModule {
public:
    TDialogModule() : handle_(Open()) {
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
    // Looked for beside the program (a build), then where the package puts
    // it, by full path: a run path would be searched for the caller of
    // dlopen, which a sanitizer's interceptor replaces with its own library.
    static void* Open() {
        std::error_code error;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
        const int flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
        if (!error) {
            for (const char* folder : {"", "../lib/wex/wexhash/"}) {
                const std::string path =
                    (self.parent_path() / folder / kDialogModuleName).lexically_normal().string();
                if (void* handle = dlopen(path.c_str(), flags)) return handle;
            }
        }
        return dlopen(kDialogModuleName, flags);
    }

    void* handle_;
};

void RunDialog(char* program, const std::vector<std::string>& paths) {
    const TDialogModule module;
    if (auto* run = module.Find<decltype(WexhashRunDialog)>("WexhashRunDialog"))
        run(program, paths.empty() ? "" : paths.front().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    static char fallbackName[] = "wexhash";
    char* program = argc > 0 && argv[0] ? argv[0] : fallbackName;
    const TCommandLine commandLine = ParseCommandLine(argc, argv);
    const TConsole console{stdout, stderr, program};

    switch (commandLine.mode) {
        case TMode::Console:
            PrintFingerprint(commandLine.paths.front(), console);
            return kExitStatus;
        case TMode::Sum:
        case TMode::Check: {
            // Which bytes of a name are printable follows the user's locale.
            std::setlocale(LC_ALL, "");
            const int status = commandLine.mode == TMode::Sum
                                   ? RunSum(commandLine.paths, console)
                                   : RunCheck(commandLine.paths, console);
            return FinishOutput(console, status);
        }
        case TMode::Dialog:
            break;
    }
    RunDialog(program, commandLine.paths);
    return kExitStatus;
}
