// Drives the xmpp service directly, for the end-to-end tests: events go to
// standard output one a line, commands come from standard input.
//
//   xmpp_driver SERVICE NAME PASSWORD [--send-timeout MS] [--reconnect-min MS]
//               [--keepalive MS] [--handshake-timeout MS] [--max-seconds N]
//
// Output: "state N CODE", "im PEER SESSION TEXT", "request KIND PEER ANSWER",
// "sent TAG CODE", "ended CODE" (codes as eight hex digits; TEXT with \n and
// \\ escaped). Input: "send TAG PEER TEXT" (sent from a thread of its own),
// "end SESSION", "quit". Subscription requests are accepted and everything
// else rejected, as the bot does; end of input or --max-seconds ends the run.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "wexcore/xmpp/xmpp_service.h"

namespace {

using wexcore::RequestRecord;

std::mutex g_outputMutex;

void Emit(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Hex(HRESULT code) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<uint32_t>(code));
    return text;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

class Sink : public wexcore::ServiceSink {
public:
    explicit Sink(wexcore::Service& service) : m_service(service) {}

    void OnState(int32_t state, HRESULT code) override {
        Emit("state " + std::to_string(state) + " " + Hex(code));
        if (state == 0) m_service.EndEventLoop(code);
    }
    void OnRequest(const std::shared_ptr<RequestRecord>& request) override {
        bool accept = request->kind == 1 && request->prop == 0;
        request->answer = accept ? RequestRecord::Answer::kAccept : RequestRecord::Answer::kReject;
        request->rejectCode = accept ? 0 : WEX_E_USER_REJECTED;
        Emit("request " + std::to_string(request->kind) + " " + request->peer + " " +
             (accept ? "accept" : "reject"));
        m_service.RequestAnswered(request);
    }
    void OnIm(const std::string& peer, uint32_t imSession, const std::string& text,
              int32_t) override {
        Emit("im " + peer + " " + std::to_string(imSession) + " " + Escape(text));
    }

private:
    wexcore::Service& m_service;
};

struct Options {
    int maxSeconds = 120;
};

void Send(wexcore::Service& service, std::string tag, std::string peer, std::string text) {
    uint32_t session = 0;
    service.OpenImSession(peer, &session);
    HRESULT code = service.SendIm(session, peer, text, wexcore::ImExtras());
    Emit("sent " + tag + " " + Hex(code));
}

void Execute(wexcore::Service& service, const std::string& line,
             std::vector<std::thread>& senders) {
    std::istringstream words(line);
    std::string command, tag, peer, text;
    words >> command;
    if (command == "quit") {
        service.EndEventLoop(S_OK);
    } else if (command == "end") {
        uint32_t session = 0;
        words >> session;
        service.EndImSession(session);
    } else if (command == "send") {
        words >> tag >> peer;
        std::getline(words >> std::ws, text);
        senders.emplace_back(Send, std::ref(service), tag, peer, text);
    }
}

// Reads commands until the run ends, input ends or the time limit passes.
void ReadCommands(wexcore::Service& service, const Options& options, std::atomic<bool>& done,
                  std::vector<std::thread>& senders) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.maxSeconds);
    std::string pending;
    while (!done) {
        if (std::chrono::steady_clock::now() > deadline) {
            Emit("time limit");
            return service.EndEventLoop(WEX_E_TIMEOUT);
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, 100) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) return service.EndEventLoop(S_OK);
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            Execute(service, pending.substr(0, end), senders);
            pending.erase(0, end + 1);
        }
    }
}

int IntArg(const char* text) {
    return std::atoi(text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: xmpp_driver SERVICE NAME PASSWORD [options]\n");
        return 255;
    }
    wexcore::XmppConfig config;
    std::string reason;
    std::string service_value = argv[1];
    if (service_value.rfind("xmpp:", 0) == 0) service_value.erase(0, 5);
    if (!wexcore::ParseXmppService(service_value, &config, &reason)) {
        Emit("refused " + reason);
        return 2;
    }
    Options options;
    for (int i = 4; i + 1 < argc; i += 2) {
        std::string flag = argv[i];
        int value = IntArg(argv[i + 1]);
        if (flag == "--send-timeout")
            config.sendTimeoutMs = value;
        else if (flag == "--reconnect-min")
            config.reconnectMinMs = value;
        else if (flag == "--keepalive")
            config.keepaliveMs = value;
        else if (flag == "--handshake-timeout")
            config.handshakeTimeoutMs = value;
        else if (flag == "--max-seconds")
            options.maxSeconds = value;
    }
    std::unique_ptr<wexcore::Service> service = wexcore::CreateXmppService(config);
    Sink sink(*service);
    HRESULT code = service->SignOn({argv[2], argv[3], "driver (Key:k)", {}});
    if (code != S_OK) {
        Emit("signon " + Hex(code));
        return 1;
    }
    std::atomic<bool> done{false};
    std::vector<std::thread> senders;
    std::thread reader(ReadCommands, std::ref(*service), std::cref(options), std::ref(done),
                       std::ref(senders));
    code = service->RunEventLoop(sink);
    done = true;
    reader.join();
    for (std::thread& sender : senders) sender.join();
    Emit("ended " + Hex(code));
    service.reset();
    return 0;
}
