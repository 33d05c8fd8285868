// One account's stream to the XMPP server, run on a thread of its own. It
// signs on, reconnects after a loss with a growing wait (resuming the
// stream where the server allows it), sends what the user's threads queue,
// and turns what arrives into events. The thread sleeps until the socket,
// a queued send or a deadline needs it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

#include "wexcore/xmpp/backoff.h"
#include "wexcore/xmpp/error_map.h"
#include "wexcore/xmpp/event_queue.h"
#include "wexcore/xmpp/presence_book.h"
#include "wexcore/xmpp/request_book.h"
#include "wexcore/xmpp/seen_book.h"
#include "wexcore/xmpp/send_box.h"
#include "wexcore/xmpp/strophe_handles.h"
#include "wexcore/xmpp/xmpp_service.h"

namespace wexcore::xmpp {

class Connection {
public:
    Connection(const XmppConfig& config, EventQueue& events, SendBox& sends, RequestBook& requests);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Starts the network thread, which signs on as `jid` (a full address).
    void Start(const std::string& jid, const std::string& password);
    // Closes the stream and waits for the thread; does nothing when not started.
    void Stop();
    // Wakes the network thread: a send or an answer is waiting.
    void Wake();

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { kConnecting, kOnline, kEnded, kWaiting, kOffline, kClosing };
    // How long a stopping session lets its sends finish, at most.
    static constexpr int kStopGraceMs = 3000;
    struct InFlight {
        std::string to, pingTo;
        Clock::time_point sentAt;
    };

    // Lifecycle (connection.cc).
    void Run();
    // Sleeps until the socket, a wake-up or the next deadline needs the thread.
    void WaitForWork();
    // Runs libstrophe until it has taken everything that has arrived.
    void RunStrophe();
    bool SocketReadable() const;
    Clock::time_point NextDeadline() const;
    void Tick();
    void BeginAttempt();
    void NewConnection();
    void AddHandlers();
    // Closes a stream that does not work, without waiting on the server for long.
    void Abandon(const std::string& why);
    void AfterEnd();
    void GoOffline(HRESULT code);
    // Says on the console, at once, that the stream was lost and why.
    void ReportLoss(const std::string& why);
    // The session's own end on SIGINT/SIGTERM: sends in flight get a few
    // seconds, then the stream is closed and the session goes offline.
    void BeginStop();
    void FinishStop();
    void Close();
    void OnOnline();
    void OnConnEvent(xmpp_conn_event_t event, int error, xmpp_stream_error_t* streamError);
    void OnLog(const char* area, const char* message);
    // The console line that says why the session went offline with code.
    std::string Explain(HRESULT code) const;

    // Traffic (connection_traffic.cc).
    void OnMessage(xmpp_stanza_t* stanza);
    void OnPresence(xmpp_stanza_t* stanza);
    void OnIq(xmpp_stanza_t* stanza);
    void SendQueued();
    void SendAnswers();
    void KeepAlive();
    void OnAvailability(xmpp_stanza_t* stanza, bool available);
    void SettlePresence();
    void OnRoster(xmpp_stanza_t* iq);
    void Send(const StanzaPtr& stanza);
    std::string Id(char kind, uint64_t number) const;
    bool ParseId(const std::string& id, char kind, uint64_t* number) const;

    // libstrophe's C callbacks, forwarding to the members above.
    static void ConnHandler(xmpp_conn_t*, xmpp_conn_event_t event, int error,
                            xmpp_stream_error_t* streamError, void* self);
    static int StanzaHandler(xmpp_conn_t*, xmpp_stanza_t* stanza, void* self);
    static void LogHandler(void* self, xmpp_log_level_t level, const char* area,
                           const char* message);
    static int CertFailHandler(const xmpp_tlscert_t* cert, const char* errorMessage);
    static int SockoptHandler(xmpp_conn_t* conn, void* sock);

    const XmppConfig m_config;
    EventQueue& m_events;
    SendBox& m_sends;
    RequestBook& m_requests;
    std::string m_jid, m_bareJid, m_password;
    // Which clients of each peer are online.
    PresenceBook m_presence;
    std::string m_idPrefix;  // makes our stanza ids hard to guess
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    int m_wakeFd = -1;  // an eventfd: user threads wake the network thread

    // Used only on the network thread.
    xmpp_log_t m_log{};
    ContextPtr m_ctx;
    ConnectionPtr m_conn;
    Phase m_phase = Phase::kConnecting;
    int m_sockFd = -1;        // the stream's socket, once libstrophe made it
    uint64_t m_activity = 0;  // counts what libstrophe did, to run it while it works
    // libstrophe was left with data that it may not have taken yet: the
    // next wait does not sleep.
    bool m_mayHoldData = false;
    bool m_resumed = false;  // the server resumed the previous stream
    // Stream management asked for and not yet answered: no message goes out
    // until the stream can be resumed, or a stream lost now would leave its
    // messages neither known delivered nor safe to send again.
    bool m_smEnabling = false;
    bool m_stopping = false;
    Clock::time_point m_stopDeadline;
    bool m_everOnline = false;
    bool m_streamClosed = false;
    StreamEnd m_end;
    std::string m_endDetail;       // why the last stream ended, for the console
    HRESULT m_offlineCode = S_OK;  // set when the session goes offline for good
    std::string m_offlineNote;
    Backoff m_backoff;
    Clock::time_point m_deadline;  // end of the handshake, or the next attempt
    bool m_abandoning = false;
    Clock::time_point m_abandonDeadline;
    Clock::time_point m_lastHeard;
    uint64_t m_keepalive = 0;  // number of the unanswered keepalive ping, 0: none
    uint64_t m_keepaliveCount = 0;
    Clock::time_point m_keepaliveSent;
    std::map<uint64_t, InFlight> m_inFlight;     // by send ticket
    std::map<std::string, bool> m_subscribedTo;  // bare address -> subscribed or asked
    SeenBook m_seen;                             // messages handled, to know a repeat
};

}  // namespace wexcore::xmpp
