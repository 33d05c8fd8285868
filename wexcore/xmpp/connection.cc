#include "wexcore/xmpp/connection.h"

#include <openssl/crypto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/console.h"
#include "platform/signals.h"
#include "wexcore/events.h"
#include "wexcore/xmpp/jid.h"
#include "wexcore/xmpp/stanzas.h"

namespace wexcore::xmpp {
namespace {

constexpr int kCloseMs = 2000;  // longest wait for a clean close
// An idle thread still looks at its deadlines this often.
constexpr auto kLongestSleep = std::chrono::seconds(60);
// libstrophe reads at most 4 KB a run, and OpenSSL keeps the rest of a
// record it has decrypted where poll cannot see it. After the socket last
// showed data, libstrophe is run this many more times: enough for the rest
// of the largest record (16 KB) and one run to spare.
constexpr int kRunsAfterData = 5;
// Runs before the thread sees to its own work; whatever is left is taken
// after that, without sleeping.
constexpr int kMaxRunsPerWake = 64;

// The certificate callback has no user data; each connection's thread
// knows its own connection.
thread_local Connection* t_current = nullptr;

std::string RandomPrefix() {
    std::random_device random;
    char text[16];
    std::snprintf(text, sizeof text, "wex%08x-", static_cast<unsigned>(random()));
    return text;
}

const char* StreamErrorName(xmpp_error_type_t type) {
    switch (type) {
        case XMPP_SE_CONFLICT:
            return "conflict";
        case XMPP_SE_HOST_UNKNOWN:
            return "host-unknown";
        case XMPP_SE_NOT_AUTHORIZED:
            return "not-authorized";
        case XMPP_SE_POLICY_VIOLATION:
            return "policy-violation";
        case XMPP_SE_SYSTEM_SHUTDOWN:
            return "system-shutdown";
        case XMPP_SE_CONN_TIMEOUT:
            return "connection-timeout";
        case XMPP_SE_RESOURCE_CONSTRAINT:
            return "resource-constraint";
        case XMPP_SE_SEE_OTHER_HOST:
            return "see-other-host";
        default:
            return "stream error";
    }
}

}  // namespace

Connection::Connection(const XmppConfig& config, EventQueue& events, SendBox& sends,
                       RequestBook& requests)
    : m_config(config),
      m_events(events),
      m_sends(sends),
      m_requests(requests),
      m_idPrefix(RandomPrefix()),
      m_backoff(config.reconnectMinMs, config.reconnectMaxMs) {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Connection::~Connection() {
    Stop();
    if (m_wakeFd >= 0) close(m_wakeFd);
}

void Connection::Start(const std::string& jid, const std::string& password) {
    m_jid = jid;
    m_bareJid = ParseJid(jid).Bare();
    m_password = password;
    m_sends.SetWake([this] { Wake(); });
    m_requests.SetWake([this] { Wake(); });
    m_sends.SetLink(SendBox::Link::kWaiting);
    m_thread = std::thread([this] { Run(); });
}

void Connection::Stop() {
    m_stop = true;
    Wake();
    if (m_thread.joinable()) m_thread.join();
    m_sends.SetWake(nullptr);
    m_requests.SetWake(nullptr);
}

void Connection::Wake() {
    uint64_t one = 1;
    if (m_wakeFd >= 0 && write(m_wakeFd, &one, sizeof one) < 0) {
        // The counter is full: the thread has plenty of wake-ups waiting.
    }
}

void Connection::Run() {
    InitializeStrophe();
    t_current = this;
    m_log = xmpp_log_t{&Connection::LogHandler, this};
    m_ctx.reset(xmpp_ctx_new(nullptr, &m_log));
    m_events.PushState(WEX_STATE_CONNECTING, S_OK);
    BeginAttempt();
    while (!m_stop && m_phase != Phase::kOffline) {
        WaitForWork();
        RunStrophe();
        if (platform::StopRequested() && !m_stopping) BeginStop();
        Tick();
    }
    // The session ended for good (refused, bumped, or stopped by a signal),
    // not by Stop().
    bool ended = m_phase == Phase::kOffline;
    Close();
    m_ctx.reset();
    t_current = nullptr;
    // This thread's OpenSSL state goes now rather than at some point of the
    // thread's end, which the program's exit may overtake.
    OPENSSL_thread_stop();
    // Last of all: the user may end the program as soon as it sees the
    // session offline.
    if (ended) m_events.PushState(WEX_STATE_OFFLINE, m_offlineCode, m_offlineNote);
}

void Connection::WaitForWork() {
    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = pollfd{m_wakeFd, POLLIN, 0};
    if (platform::StopFd() >= 0 && !m_stopping)
        fds[count++] = pollfd{platform::StopFd(), POLLIN, 0};
    if (m_conn && m_sockFd >= 0) {
        short events = POLLIN;
        if (xmpp_conn_send_queue_len(m_conn.get()) > 0 || xmpp_conn_is_connecting(m_conn.get())) {
            events |= POLLOUT;
        }
        fds[count++] = pollfd{m_sockFd, events, 0};
    }
    auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(NextDeadline() - Clock::now());
    int timeout = static_cast<int>(std::clamp<int64_t>(wait.count(), 0, 60000));
    // Before libstrophe has a socket (name lookup, connect) it is run often.
    if (m_conn && m_sockFd < 0) timeout = std::min(timeout, 20);
    if (m_mayHoldData) timeout = 0;
    poll(fds, count, timeout);
    uint64_t wakes = 0;
    if (read(m_wakeFd, &wakes, sizeof wakes) < 0) {
        // Nothing was pending.
    }
}

// Runs libstrophe until it has nothing left to do now: while it works (a
// stanza handled, a log line), and while the stream may hold data that the
// socket no longer shows.
void Connection::RunStrophe() {
    int quiet = 0;      // runs in a row in which nothing happened
    int sinceData = 0;  // runs since the socket last showed data
    m_mayHoldData = false;
    for (int run = 0; m_conn && quiet < kRunsAfterData; ++run) {
        if (run == kMaxRunsPerWake) {
            m_mayHoldData = sinceData < kRunsAfterData;
            return;
        }
        uint64_t before = m_activity;
        bool data = SocketReadable();
        xmpp_run_once(m_ctx.get(), 0);
        sinceData = data ? 0 : sinceData + 1;
        quiet = data || m_activity != before ? 0 : quiet + 1;
    }
}

bool Connection::SocketReadable() const {
    if (m_sockFd < 0) return false;
    pollfd fd{m_sockFd, POLLIN, 0};
    return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN) != 0;
}

Connection::Clock::time_point Connection::NextDeadline() const {
    Clock::time_point now = Clock::now();
    Clock::time_point next = now + kLongestSleep;
    auto timeout = std::chrono::milliseconds(m_config.sendTimeoutMs);
    if (m_abandoning) next = std::min(next, m_abandonDeadline);
    if (m_stopping) next = std::min(next, m_stopDeadline);
    switch (m_phase) {
        case Phase::kConnecting:
        case Phase::kWaiting:
            next = std::min(next, m_deadline);
            break;
        case Phase::kOnline:
            if (m_keepalive == 0) {
                next =
                    std::min(next, m_lastHeard + std::chrono::milliseconds(m_config.keepaliveMs));
            } else {
                next = std::min(next, m_keepaliveSent + timeout);
            }
            for (const auto& [ticket, flight] : m_inFlight)
                next = std::min(next, flight.sentAt + timeout);
            break;
        default:
            return now;
    }
    return next;
}

void Connection::Tick() {
    Clock::time_point now = Clock::now();
    if (m_abandoning && now >= m_abandonDeadline && !m_streamClosed) {
        // The server did not answer the close either: drop the socket.
        m_conn.reset();
        m_streamClosed = true;
        m_phase = Phase::kEnded;
    }
    switch (m_phase) {
        case Phase::kConnecting:
            if (m_stopping) return FinishStop();
            // A server that accepts the connection but never completes the
            // handshake must not hold the session forever.
            if (now >= m_deadline) Abandon("no answer to the login");
            break;
        case Phase::kOnline:
            SendQueued();
            SendAnswers();
            KeepAlive();
            if (m_stopping && (m_sends.Unsettled() == 0 || now >= m_stopDeadline)) FinishStop();
            break;
        case Phase::kEnded:
            AfterEnd();
            break;
        case Phase::kWaiting:
            // A stopping session that has no stream delivers nothing more.
            if (m_stopping) return FinishStop();
            if (now >= m_deadline) {
                m_events.PushState(WEX_STATE_CONNECTING, S_OK);
                BeginAttempt();
            }
            break;
        case Phase::kOffline:
        case Phase::kClosing:
            break;
    }
}

// A stream that does not work is not closed politely: the socket is shut,
// so the server keeps the session for a resumption instead of ending it.
void Connection::Abandon(const std::string& why) {
    if (m_abandoning || m_streamClosed) return;
    m_endDetail = why;
    m_abandoning = true;
    m_abandonDeadline = Clock::now() + std::chrono::milliseconds(kCloseMs);
    if (m_phase == Phase::kOnline) ReportLoss(why);
    if (m_sockFd >= 0) {
        shutdown(m_sockFd, SHUT_RDWR);
    } else {
        xmpp_disconnect(m_conn.get());
    }
}

void Connection::ReportLoss(const std::string& why) {
    size_t held = m_sends.Unsettled();
    std::string line = "xmpp: lost the link to the server (" + why + ")";
    if (held > 0) line += "; " + std::to_string(held) + " message(s) held until it is back";
    platform::Print(line + "\n");
}

void Connection::BeginStop() {
    m_stopping = true;
    // The farewells get the stop's few seconds like any send under way.
    m_sends.QueueFarewells();
    m_stopDeadline = Clock::now() + std::chrono::milliseconds(kStopGraceMs);
}

void Connection::FinishStop() {
    // Whatever has no verdict yet fails now; nothing new is taken.
    m_sends.SetLink(SendBox::Link::kDown);
    Close();
    m_phase = Phase::kOffline;
}

void Connection::BeginAttempt() {
    m_abandoning = false;
    m_end = StreamEnd{};
    m_end.everOnline = m_everOnline;
    m_endDetail.clear();
    m_streamClosed = false;
    m_resumed = false;
    m_smEnabling = false;
    m_sockFd = -1;
    // One connection object serves every attempt: it keeps the stream
    // management state, so a lost stream is resumed where the server still
    // keeps it, with nothing lost or repeated in either direction.
    if (!m_conn) NewConnection();
    const char* host = m_config.hostGiven ? m_config.host.c_str() : nullptr;
    auto port = static_cast<unsigned short>(m_config.hostGiven ? m_config.port : 0);
    m_phase = Phase::kConnecting;
    m_deadline = Clock::now() + std::chrono::milliseconds(m_config.handshakeTimeoutMs);
    if (xmpp_connect_client(m_conn.get(), host, port, &Connection::ConnHandler, this) != XMPP_EOK) {
        m_endDetail = "the connection could not be started";
        m_phase = Phase::kEnded;
    }
}

void Connection::NewConnection() {
    m_conn.reset(xmpp_conn_new(m_ctx.get()));
    long flags = 0;  // stream management on
    if (m_config.tls == XmppConfig::Tls::kOff) {
        flags |= XMPP_CONN_FLAG_DISABLE_TLS;
    } else {
        flags |= XMPP_CONN_FLAG_MANDATORY_TLS;
        if (m_config.trust == XmppConfig::Trust::kAny) flags |= XMPP_CONN_FLAG_TRUST_TLS;
    }
    xmpp_conn_set_flags(m_conn.get(), flags);
    xmpp_conn_set_jid(m_conn.get(), m_jid.c_str());
    xmpp_conn_set_pass(m_conn.get(), m_password.c_str());
    xmpp_conn_set_certfail_handler(m_conn.get(), &Connection::CertFailHandler);
    xmpp_conn_set_sockopt_callback(m_conn.get(), &Connection::SockoptHandler);
    AddHandlers();
}

void Connection::AddHandlers() {
    // One handler for every stanza: libstrophe keeps only one registration
    // per function and user data.
    xmpp_handler_add(m_conn.get(), &Connection::StanzaHandler, nullptr, nullptr, nullptr, this);
}

void Connection::OnConnEvent(xmpp_conn_event_t event, int error, xmpp_stream_error_t* streamError) {
    ++m_activity;
    if (event == XMPP_CONN_CONNECT) {
        if (m_phase == Phase::kConnecting) OnOnline();
        return;
    }
    if (event != XMPP_CONN_DISCONNECT && event != XMPP_CONN_FAIL) return;
    m_streamClosed = true;
    if (streamError != nullptr) {
        if (streamError->type == XMPP_SE_CONFLICT) m_end.conflict = true;
        m_endDetail =
            std::string("the server ended the stream (") + StreamErrorName(streamError->type) + ")";
    } else if (error != 0 && m_endDetail.empty()) {
        m_endDetail = std::strerror(error);
    }
    if (m_phase == Phase::kOnline && !m_abandoning) {
        ReportLoss(m_endDetail.empty() ? "the stream ended" : m_endDetail);
    }
    if (m_phase == Phase::kConnecting || m_phase == Phase::kOnline) m_phase = Phase::kEnded;
}

void Connection::OnOnline() {
    Clock::time_point now = Clock::now();
    m_phase = Phase::kOnline;
    m_everOnline = true;
    m_end.everOnline = true;
    m_backoff.Reset();
    m_lastHeard = now;
    m_keepalive = 0;
    if (m_resumed) {
        // libstrophe sends again what the server had not counted, and the
        // server what we had not: the sends in flight get their verdicts on
        // this stream.
        for (auto& [ticket, flight] : m_inFlight) flight.sentAt = now;
        m_seen.Resumed();
    } else {
        // A new session: nothing of the old stream will be answered, and
        // nothing handled on it comes again. The peers' presence is rebuilt
        // from what the server announces after our own; the answer to the
        // roster request, sent after it, marks the end of that.
        m_inFlight.clear();
        m_seen.NewSession();
        m_sends.RequeueInFlight();
        m_presence.NewStream();
        Send(Presence(m_ctx.get(), ""));
        Send(RosterRequest(m_ctx.get(), Id('r', 1)));
    }
    m_sends.SetLink(SendBox::Link::kUp);
    m_events.PushState(WEX_STATE_ONLINE, S_OK);
}

void Connection::AfterEnd() {
    // A stream that never closed (abandoned without an answer) leaves a
    // connection object that cannot be reused.
    if (!m_streamClosed) m_conn.reset();
    m_sockFd = -1;
    m_keepalive = 0;
    // The sends in flight stay so: a resumed stream settles them, a new
    // session sends them again.
    HRESULT code = OfflineResult(m_end);
    if (code != S_OK) return GoOffline(code);
    m_sends.SetLink(SendBox::Link::kWaiting);
    m_events.PushState(WEX_STATE_DISCONNECTED, S_OK);
    m_deadline = Clock::now() + std::chrono::milliseconds(m_backoff.Next());
    m_phase = Phase::kWaiting;
}

void Connection::GoOffline(HRESULT code) {
    m_sends.SetLink(SendBox::Link::kDown);
    m_offlineCode = code;
    m_offlineNote = Explain(code);
    m_phase = Phase::kOffline;
}

std::string Connection::Explain(HRESULT code) const {
    std::string why;
    if (code == WEX_E_INVALID_PASSWORD) {
        why = "the server refused the password for " + m_bareJid;
    } else if (code == WEX_E_SSL_HANDSHAKE_ERROR) {
        why = "the server's certificate is not trusted (" + m_endDetail +
              "); a lab server with its own certificate needs ;trust=any";
    } else if (code == WEX_E_BUMPED) {
        why = "another login as " + m_bareJid + " replaced this one";
    } else {
        std::string target = m_config.hostGiven
                                 ? m_config.host + ":" + std::to_string(m_config.port)
                                 : m_config.domain;
        why = "could not sign on to " + target;
        if (!m_endDetail.empty()) why += ": " + m_endDetail;
    }
    return "xmpp: " + why;
}

void Connection::Close() {
    Phase was = m_phase;
    m_phase = Phase::kClosing;
    if (m_conn && !m_streamClosed && (was == Phase::kOnline || was == Phase::kConnecting)) {
        if (was == Phase::kOnline) Send(Presence(m_ctx.get(), "unavailable"));
        xmpp_disconnect(m_conn.get());
        auto deadline = Clock::now() + std::chrono::milliseconds(kCloseMs);
        while (!m_streamClosed && Clock::now() < deadline) xmpp_run_once(m_ctx.get(), 50);
    }
    m_conn.reset();
    m_sockFd = -1;
    m_sends.SetLink(SendBox::Link::kDown);
}

void Connection::OnLog(const char* area, const char* message) {
    ++m_activity;
    // Whether the server resumed the last stream or began a new session.
    if (std::strncmp(message, "RECV: <resumed", 14) == 0) m_resumed = true;
    // Whether stream management, asked for on a new session, is settled.
    if (std::strncmp(message, "SENT: <enable", 13) == 0) m_smEnabling = true;
    if (std::strncmp(message, "RECV: <enabled", 14) == 0 ||
        std::strncmp(message, "RECV: <failed", 13) == 0) {
        m_smEnabling = false;
    }
    // libstrophe reports a refused login only in its log: the server's
    // SASL <failure/> reply.
    if (std::strncmp(message, "RECV: <failure", 14) == 0 &&
        std::strstr(message, "urn:ietf:params:xml:ns:xmpp-sasl") != nullptr) {
        m_end.authRejected = true;
    }
    // Details for the console when signing on fails.
    int error = 0;
    if (std::strstr(message, "TLS is not supported, but set as mandatory") != nullptr) {
        m_endDetail = "the server does not offer TLS";
    } else if (std::strstr(message, "Cannot authenticate with known methods") != nullptr &&
               !m_end.authRejected) {
        m_endDetail = "the server offers no login that this client can use";
    } else if (std::sscanf(message, "connection failed, error %d", &error) == 1) {
        m_endDetail = std::strerror(error);
    }
    if (std::getenv("WEX_XMPP_TRACE") != nullptr) {
        // Login exchanges carry the password; they are never shown.
        bool secret = std::strstr(message, "<auth") || std::strstr(message, "<response") ||
                      std::strstr(message, "<challenge");
        std::fprintf(stderr, "xmpp %s: %s\n", area, secret ? "(login exchange)" : message);
    }
}

void Connection::ConnHandler(xmpp_conn_t*, xmpp_conn_event_t event, int error,
                             xmpp_stream_error_t* streamError, void* self) {
    static_cast<Connection*>(self)->OnConnEvent(event, error, streamError);
}

void Connection::LogHandler(void* self, xmpp_log_level_t, const char* area, const char* message) {
    if (area != nullptr && message != nullptr) static_cast<Connection*>(self)->OnLog(area, message);
}

int Connection::SockoptHandler(xmpp_conn_t* conn, void* sock) {
    if (t_current != nullptr) t_current->m_sockFd = *static_cast<int*>(sock);
    return xmpp_sockopt_cb_keepalive(conn, sock);
}

int Connection::CertFailHandler(const xmpp_tlscert_t*, const char* errorMessage) {
    if (t_current != nullptr) {
        t_current->m_end.certRejected = true;
        t_current->m_endDetail = errorMessage != nullptr ? errorMessage : "verification failed";
    }
    return 0;  // refuse the connection
}

}  // namespace wexcore::xmpp
