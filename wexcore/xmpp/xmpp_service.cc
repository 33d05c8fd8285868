// The Service on XMPP: the user's calls on one side, the network thread on
// the other.

#include "wexcore/xmpp/xmpp_service.h"

#include <mutex>

#include "platform/console.h"
#include "wexcore/xmpp/connection.h"
#include "wexcore/xmpp/event_queue.h"
#include "wexcore/xmpp/im_sessions.h"
#include "wexcore/xmpp/jid.h"
#include "wexcore/xmpp/request_book.h"
#include "wexcore/xmpp/send_box.h"

namespace wexcore {
namespace {

// The resource under which the bot signs on; it reveals nothing about the account.
constexpr char kResource[] = "wexbot";

// A screen name usable as the local part of the bot's own address.
bool IsPlainName(const std::string& name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (c <= ' ' || c == '@' || c == '/' || c == '"' || c == '&' || c == '\'' || c == ':' ||
            c == '<' || c == '>' || c == 0x7F) {
            return false;
        }
    }
    return true;
}

class XmppService final : public Service {
public:
    explicit XmppService(const XmppConfig& config)
        : m_config(config),
          m_events(m_sessions),
          m_connection(config, m_events, m_sends, m_requests) {}

    HRESULT SignOn(const SignOnInfo& info) override {
        if (!IsPlainName(info.name) || info.password.empty()) return E_INVALIDARG;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_name.empty()) return E_UNEXPECTED;
            m_name = info.name;
        }
        if (m_config.tls == XmppConfig::Tls::kRequired &&
            m_config.trust == XmppConfig::Trust::kAny) {
            platform::Print(
                "xmpp: trust=any: the server's certificate is not checked; "
                "use this only with a lab server you run yourself\n");
        }
        m_events.SetInboxPolicy(info.inbox);
        std::string jid = info.name + "@" + m_config.domain + "/" + kResource;
        m_connection.Start(jid, info.password);
        return S_OK;
    }

    std::string SignedOnName() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_name;
    }

    HRESULT OpenImSession(const std::string& peer, uint32_t* imSession) override {
        if (peer.empty() || imSession == nullptr) return E_INVALIDARG;
        *imSession = m_sessions.Open();
        return S_OK;
    }

    HRESULT SendIm(uint32_t, const std::string& peer, const std::string& text,
                   const ImExtras& extras) override {
        if (peer.empty()) return E_INVALIDARG;
        return m_sends.Send(xmpp::PeerAddress(peer, m_config.domain), text, extras);
    }

    void SetFarewell(const std::string& peer, const ExtraElement& element) override {
        if (!peer.empty()) m_sends.SetFarewell(xmpp::PeerAddress(peer, m_config.domain), element);
    }

    HRESULT EndImSession(uint32_t imSession) override {
        m_sessions.End(imSession);
        return S_OK;
    }

    // XMPP has no SecurID step, so there is never one to decline.
    void DeclineSecurId() override {}

    void RequestAnswered(const std::shared_ptr<RequestRecord>& request) override {
        m_requests.Answered(request);
    }

    HRESULT RunEventLoop(ServiceSink& sink) override { return m_events.Run(sink); }
    void EndEventLoop(HRESULT code) override { m_events.End(code); }

private:
    const XmppConfig m_config;
    std::mutex m_mutex;
    std::string m_name;
    xmpp::ImSessions m_sessions;
    xmpp::EventQueue m_events;
    xmpp::SendBox m_sends;
    xmpp::RequestBook m_requests;
    xmpp::Connection m_connection;  // last: its thread stops before the rest goes
};

}  // namespace

std::unique_ptr<Service> CreateXmppService(const XmppConfig& config) {
    return std::make_unique<XmppService>(config);
}

}  // namespace wexcore
