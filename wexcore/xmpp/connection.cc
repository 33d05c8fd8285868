#include "wexcore/xmpp/connection.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "wexcore/events.h"
#include "wexcore/xmpp/jid.h"
#include "wexcore/xmpp/stanzas.h"

namespace wexcore::xmpp {
namespace {

constexpr unsigned long kPollMs = 20;  // how soon queued sends leave
constexpr int kCloseMs = 2000;         // longest wait for a clean close

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
      m_backoff(config.reconnectMinMs, config.reconnectMaxMs) {}

void Connection::Start(const std::string& jid, const std::string& password) {
    m_jid = jid;
    m_bareJid = ParseJid(jid).Bare();
    m_password = password;
    m_sends.SetLink(SendBox::Link::kWaiting);
    m_thread = std::thread([this] { Run(); });
}

void Connection::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void Connection::Run() {
    InitializeStrophe();
    t_current = this;
    m_log = xmpp_log_t{&Connection::LogHandler, this};
    m_ctx.reset(xmpp_ctx_new(nullptr, &m_log));
    m_events.PushState(WEX_STATE_CONNECTING, S_OK);
    BeginAttempt();
    while (!m_stop && m_phase != Phase::kOffline) {
        xmpp_run_once(m_ctx.get(), kPollMs);
        Tick();
    }
    Close();
    m_ctx.reset();
    t_current = nullptr;
    // This thread's OpenSSL state goes now rather than at some point of the
    // thread's end, which the program's exit may overtake.
    OPENSSL_thread_stop();
    // Last of all: the user may end the program as soon as it sees the
    // session offline.
    if (m_offlineCode != S_OK) m_events.PushState(WEX_STATE_OFFLINE, m_offlineCode, m_offlineNote);
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
            // A server that accepts the connection but never completes the
            // handshake must not hold the session forever.
            if (now >= m_deadline) Abandon("no answer to the login");
            break;
        case Phase::kOnline:
            SendQueued();
            SendAnswers();
            KeepAlive();
            break;
        case Phase::kEnded:
            AfterEnd();
            break;
        case Phase::kWaiting:
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

void Connection::Abandon(const std::string& why) {
    if (m_abandoning || m_streamClosed) return;
    m_endDetail = why;
    m_abandoning = true;
    m_abandonDeadline = Clock::now() + std::chrono::milliseconds(kCloseMs);
    xmpp_disconnect(m_conn.get());
}

void Connection::BeginAttempt() {
    m_abandoning = false;
    m_end = StreamEnd{};
    m_end.everOnline = m_everOnline;
    m_endDetail.clear();
    m_streamClosed = false;
    m_conn.reset(xmpp_conn_new(m_ctx.get()));
    long flags = XMPP_CONN_FLAG_DISABLE_SM;
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
    xmpp_conn_set_sockopt_callback(m_conn.get(), xmpp_sockopt_cb_keepalive);
    AddHandlers();
    const char* host = m_config.hostGiven ? m_config.host.c_str() : nullptr;
    auto port = static_cast<unsigned short>(m_config.hostGiven ? m_config.port : 0);
    m_phase = Phase::kConnecting;
    m_deadline = Clock::now() + std::chrono::milliseconds(m_config.handshakeTimeoutMs);
    if (xmpp_connect_client(m_conn.get(), host, port, &Connection::ConnHandler, this) != XMPP_EOK) {
        m_endDetail = "the connection could not be started";
        m_phase = Phase::kEnded;
    }
}

void Connection::AddHandlers() {
    // One handler for every stanza: libstrophe keeps only one registration
    // per function and user data.
    xmpp_handler_add(m_conn.get(), &Connection::StanzaHandler, nullptr, nullptr, nullptr, this);
}

void Connection::OnConnEvent(xmpp_conn_event_t event, int error, xmpp_stream_error_t* streamError) {
    if (event == XMPP_CONN_CONNECT) {
        if (m_phase != Phase::kConnecting) return;
        m_phase = Phase::kOnline;
        m_everOnline = true;
        m_end.everOnline = true;
        m_backoff.Reset();
        m_lastHeard = Clock::now();
        m_keepalive = 0;
        Send(Presence(m_ctx.get(), ""));
        m_sends.SetLink(SendBox::Link::kUp);
        m_events.PushState(WEX_STATE_ONLINE, S_OK);
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
    if (m_phase == Phase::kConnecting || m_phase == Phase::kOnline) m_phase = Phase::kEnded;
}

void Connection::AfterEnd() {
    m_conn.reset();
    m_inFlight.clear();
    m_keepalive = 0;
    // Whether the server got a message in flight is unknown.
    m_sends.SettleInFlight(WEX_E_DISCONNECTED);
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
        while (!m_streamClosed && Clock::now() < deadline) xmpp_run_once(m_ctx.get(), kPollMs);
    }
    m_conn.reset();
    m_sends.SetLink(SendBox::Link::kDown);
}

void Connection::OnLog(const char* area, const char* message) {
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

int Connection::CertFailHandler(const xmpp_tlscert_t*, const char* errorMessage) {
    if (t_current != nullptr) {
        t_current->m_end.certRejected = true;
        t_current->m_endDetail = errorMessage != nullptr ? errorMessage : "verification failed";
    }
    return 0;  // refuse the connection
}

}  // namespace wexcore::xmpp
