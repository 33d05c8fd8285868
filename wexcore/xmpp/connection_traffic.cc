// What the connection sends and receives while it is online.

#include <strings.h>

#include "wexcore/xmpp/connection.h"
#include "wexcore/xmpp/jid.h"
#include "wexcore/xmpp/stanzas.h"

namespace wexcore::xmpp {

void Connection::Send(const StanzaPtr& stanza) {
    if (m_conn && stanza) xmpp_send(m_conn.get(), stanza.get());
}

std::string Connection::Id(char kind, uint64_t number) const {
    return m_idPrefix + kind + std::to_string(number);
}

bool Connection::ParseId(const std::string& id, char kind, uint64_t* number) const {
    size_t start = m_idPrefix.size() + 1;
    if (id.size() <= start || id.compare(0, m_idPrefix.size(), m_idPrefix) != 0 ||
        id[start - 1] != kind) {
        return false;
    }
    uint64_t value = 0;
    for (size_t i = start; i < id.size(); ++i) {
        if (id[i] < '0' || id[i] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(id[i] - '0');
    }
    *number = value;
    return true;
}

// Each message is followed by a ping to the recipient's server. The server
// handles a client's stanzas in order, so when the ping's reply arrives an
// error for the message would have arrived before it.
void Connection::SendQueued() {
    if (m_smEnabling) return;
    for (const SendBox::Item& item : m_sends.TakeQueued()) {
        InFlight flight{item.to, ParseJid(item.to).domain, Clock::now()};
        Send(ChatMessage(m_ctx.get(), item.to, Id('m', item.ticket), item.text, item.extras));
        Send(PingRequest(m_ctx.get(), flight.pingTo, Id('p', item.ticket)));
        m_inFlight[item.ticket] = flight;
    }
}

void Connection::SendAnswers() {
    for (const Offer& offer : m_requests.TakeAnswered()) {
        bool accepted = offer.answer == RequestRecord::Answer::kAccept;
        if (offer.kind == kRequestSubscription) {
            if (accepted) {
                // Let the peer see the bot, and ask to see the peer unless
                // the bot does or has asked already: a server counts
                // repeated subscription requests as a presence flood.
                Send(Presence(m_ctx.get(), "subscribed", offer.address));
                bool& asked = m_subscribedTo[offer.address];
                if (!asked) Send(Presence(m_ctx.get(), "subscribe", offer.address));
                asked = true;
            } else {
                Send(Presence(m_ctx.get(), "unsubscribed", offer.address));
            }
        } else if (!accepted && offer.mediated) {
            Send(DeclineInvitation(m_ctx.get(), offer.room, offer.address));
        }
        // The service does not join group chats: an accepted invitation,
        // like a direct one turned down, needs no reply.
    }
}

// A stream can die without the socket noticing; quiet streams are pinged,
// and a ping or a message left unanswered too long ends the stream.
void Connection::KeepAlive() {
    Clock::time_point now = Clock::now();
    auto timeout = std::chrono::milliseconds(m_config.sendTimeoutMs);
    bool stale = m_keepalive != 0 && now - m_keepaliveSent > timeout;
    for (const auto& [ticket, flight] : m_inFlight) {
        if (now - flight.sentAt > timeout) stale = true;
    }
    if (stale) return Abandon("the server stopped answering");
    if (m_keepalive == 0 && now - m_lastHeard > std::chrono::milliseconds(m_config.keepaliveMs)) {
        m_keepalive = ++m_keepaliveCount;
        m_keepaliveSent = now;
        Send(PingRequest(m_ctx.get(), m_config.domain, Id('k', m_keepalive)));
    }
}

void Connection::OnMessage(xmpp_stanza_t* stanza) {
    IncomingMessage in = ReadMessage(stanza);
    uint64_t ticket = 0;
    switch (in.kind) {
        case IncomingMessage::Kind::kBounce: {
            if (!ParseId(in.id, 'm', &ticket)) return;
            auto it = m_inFlight.find(ticket);
            // Only the recipient (or its server) can bounce our message.
            if (it == m_inFlight.end()) return;
            std::string from = in.from.Bare();
            if (strcasecmp(from.c_str(), it->second.to.c_str()) != 0 &&
                strcasecmp(from.c_str(), it->second.pingTo.c_str()) != 0) {
                return;
            }
            m_sends.Settle(ticket, StanzaErrorResult(in.condition));
            m_inFlight.erase(it);
            return;
        }
        case IncomingMessage::Kind::kIm:
            // A stopping session takes no new message.
            if (m_stopping || m_seen.Repeated(in.from.Full(), in.id, in.text)) return;
            m_events.PushIm(PeerName(in.from, m_config.domain), in.text);
            return;
        case IncomingMessage::Kind::kInvitation: {
            Offer offer;
            offer.kind = kRequestInvitation;
            offer.address = in.inviter.Bare();
            offer.room = in.room;
            offer.mediated = in.mediated;
            m_events.PushRequest(m_requests.Add(offer, PeerName(in.inviter, m_config.domain)));
            return;
        }
        case IncomingMessage::Kind::kIgnore:
            return;
    }
}

void Connection::OnPresence(xmpp_stanza_t* stanza) {
    std::string type = Attribute(stanza, "type");
    if (type.empty() || type == "unavailable") return OnAvailability(stanza, type.empty());
    if (type != "subscribe") return;
    Jid from = ParseJid(Attribute(stanza, "from"));
    if (from.node.empty()) return;
    Offer offer;
    offer.kind = kRequestSubscription;
    offer.address = from.Bare();
    m_events.PushRequest(m_requests.Add(offer, PeerName(from, m_config.domain)));
}

// A peer is online while any of its clients is; the user hears of the
// changes, and of an online peer's client that announces itself active
// again: a client that signed on again after its server node died, or
// the server's announcement on the user's own new stream. Either may
// follow a loss of what was in flight to or from that peer.
void Connection::OnAvailability(xmpp_stanza_t* stanza, bool available) {
    Jid from = ParseJid(Attribute(stanza, "from"));
    if (from.node.empty() || strcasecmp(from.Bare().c_str(), m_bareJid.c_str()) == 0) return;
    std::optional<bool> change = m_presence.Update(from.Bare(), from.resource, available);
    if (change) {
        m_events.PushPresence(PeerName(from, m_config.domain), *change);
    } else if (available && IsActivePresence(stanza)) {
        m_events.PushPresence(PeerName(from, m_config.domain), true, true);
    }
}

// The server has announced, before answering the roster request, every
// peer online on the new stream: the others are offline now.
void Connection::SettlePresence() {
    for (const std::string& peer : m_presence.Settle()) {
        m_events.PushPresence(PeerName(ParseJid(peer), m_config.domain), false);
    }
}

void Connection::OnIq(xmpp_stanza_t* stanza) {
    std::string type = Attribute(stanza, "type");
    std::string id = Attribute(stanza, "id");
    std::string from = Attribute(stanza, "from");
    uint64_t number = 0;
    if (type == "result" || type == "error") {
        if (ParseId(id, 'k', &number) && number == m_keepalive) m_keepalive = 0;
        if (type == "result" && ParseId(id, 'r', &number)) OnRoster(stanza);
        if (ParseId(id, 'r', &number)) SettlePresence();
        if (!ParseId(id, 'p', &number)) return;
        auto it = m_inFlight.find(number);
        if (it == m_inFlight.end()) return;
        if (!from.empty() && strcasecmp(from.c_str(), it->second.pingTo.c_str()) != 0) return;
        // Any reply to the ping, even an error, means the message got through.
        m_sends.Settle(number, S_OK);
        m_inFlight.erase(it);
        return;
    }
    // Every request must be answered; the service knows only pings and
    // roster pushes.
    // A roster push comes only from the account itself (or its server).
    if (IsRosterPush(stanza) &&
        (from.empty() || strcasecmp(from.c_str(), m_bareJid.c_str()) == 0)) {
        OnRoster(stanza);
    }
    if (IsPing(stanza) || IsRosterPush(stanza)) {
        Send(IqResult(m_ctx.get(), stanza));
    } else if (type == "get" || type == "set") {
        Send(IqError(stanza, "service-unavailable"));
    }
}

void Connection::OnRoster(xmpp_stanza_t* iq) {
    for (const auto& [address, sees] : RosterItems(iq)) m_subscribedTo[address] = sees;
}

int Connection::StanzaHandler(xmpp_conn_t*, xmpp_stanza_t* stanza, void* self) {
    auto* connection = static_cast<Connection*>(self);
    ++connection->m_activity;
    if (connection->m_phase != Phase::kOnline) return 1;
    connection->m_lastHeard = Clock::now();
    const char* name = xmpp_stanza_get_name(stanza);
    std::string kind = name != nullptr ? name : "";
    if (kind == "message")
        connection->OnMessage(stanza);
    else if (kind == "presence")
        connection->OnPresence(stanza);
    else if (kind == "iq")
        connection->OnIq(stanza);
    return 1;  // keep the handler
}

}  // namespace wexcore::xmpp
