// wexbot: runs the investment experiment over instant messaging.
#include <new>
#include <string>

#include "bot/bot_client.h"
#include "bot/config_check.h"
#include "bot/exit_status.h"
#include "bot/guarded_call.h"
#include "bot/string_ops.h"
#include "messaging/config_key_listing.h"
#include "messaging/property_file.h"
#include "messaging/result_names.h"
#include "platform/console.h"
#include "platform/signals.h"
#include "wexcore/api.h"

namespace {

// Creates the bot, runs it until its session goes offline and releases it.
HRESULT RunBot(const PropertyFile& config) {
    CBotClient* bot = new (std::nothrow) CBotClient();
    if (bot == nullptr) return E_OUTOFMEMORY;
    bot->AddRef();
    HRESULT hr = GuardedCall([&] {
        HRESULT run = bot->Run(config);
        return Succeeded(run) ? RunEventLoop() : run;
    });
    // However the run ended, the session must let go of the bot so that
    // this release destroys it and joins its worker thread.
    bot->DetachFromAllSessions();
    bot->Release();
    return hr;
}

int CommandLineFault() {
    platform::Print(
        "usage: wexbot <path_to_config_file>\n"
        "       wexbot --keys[=text|json|markdown]\n"
        "       wexbot --check-config <path_to_config_file>\n");
    return ExitStatusForCommandLine();
}

// The switches that read the key table instead of running the bot:
// --keys[=FORMAT] prints it, --check-config FILE checks a configuration
// by it. The exit status, or -1 when argv names neither.
int RunKeyTableCommand(int argc, char** argv) {
    std::string command = argv[1];
    if (command == "--check-config") {
        return argc == 3 ? CheckConfigFile(argv[2]) : CommandLineFault();
    }
    if (command != "--keys" && command.rfind("--keys=", 0) != 0) return -1;
    std::string format = command == "--keys" ? "text" : command.substr(7);
    if (argc != 2) return CommandLineFault();
    if (format == "text") {
        platform::Print(KeysAsText());
    } else if (format == "json") {
        platform::Print(KeysAsJson());
    } else if (format == "markdown") {
        platform::Print(KeysAsMarkdown());
    } else {
        return CommandLineFault();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2) {
        int status = RunKeyTableCommand(argc, argv);
        if (status >= 0) return status;
    }
    if (argc != 2) {
        platform::Print("usage: wexbot <path_to_config_file>\n");
        return ExitStatusForCommandLine();
    }
    // Ctrl+C or SIGTERM ends the session in order (the messaging service
    // acts on it); a second one ends the program at once.
    platform::InstallStopSignals();
    platform::Print("wexbot initializing...\n");
    PropertyFile config;
    HRESULT hr = GuardedCall([&] {
        HRESULT loaded = config.Load(argv[1]);
        return Succeeded(loaded) ? RunBot(config) : loaded;
    });
    platform::PrintFormat("wexbot shutting down with hr=%08X %s\n", static_cast<uint32_t>(hr),
                          ResultName(hr));
    return ExitStatusFor(hr);
}
