#include "platform/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace platform {
namespace {

std::atomic<int> g_signal{0};
int g_pipe[2] = {-1, -1};

static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

void OnStopSignal(int signal) {
    int none = 0;
    if (!g_signal.compare_exchange_strong(none, signal)) {
        // The second signal: end now, as the signal itself would.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    int saved = errno;
    ssize_t written = write(g_pipe[1], "s", 1);
    (void)written;
    errno = saved;
}

}  // namespace

void InstallStopSignals() {
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A peer that has closed its end (the server's socket, the console's
    // pipe) makes a write fail with EPIPE, which the caller handles; the
    // signal would end the program mid-session instead.
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return g_signal.load() != 0;
}

int StopFd() {
    return g_pipe[0];
}

const char* StopSignalName() {
    switch (g_signal.load()) {
        case SIGINT:
            return "INT";
        case SIGTERM:
            return "TERM";
        default:
            return "";
    }
}

}  // namespace platform
