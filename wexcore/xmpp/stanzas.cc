#include "wexcore/xmpp/stanzas.h"

#include <cstring>

#include "wexcore/xmpp/text.h"

namespace wexcore::xmpp {
namespace {

constexpr char kStanzaErrorNs[] = "urn:ietf:params:xml:ns:xmpp-stanzas";
constexpr char kPingNs[] = "urn:xmpp:ping";
constexpr char kRosterNs[] = "jabber:iq:roster";
constexpr char kDirectInviteNs[] = "jabber:x:conference";
constexpr char kMucUserNs[] = "http://jabber.org/protocol/muc#user";
constexpr char kHintsNs[] = "urn:xmpp:hints";

std::string TextOf(xmpp_stanza_t* element) {
    return TakeString(xmpp_stanza_get_context(element), xmpp_stanza_get_text(element));
}

// Fills in an invitation when the message carries one; false otherwise.
bool ReadInvitation(xmpp_stanza_t* message, IncomingMessage* in) {
    xmpp_stanza_t* direct = xmpp_stanza_get_child_by_name_and_ns(message, "x", kDirectInviteNs);
    if (direct != nullptr && !Attribute(direct, "jid").empty()) {
        in->room = Attribute(direct, "jid");
        in->inviter = in->from;
        return true;
    }
    xmpp_stanza_t* user = xmpp_stanza_get_child_by_name_and_ns(message, "x", kMucUserNs);
    xmpp_stanza_t* invite = user ? xmpp_stanza_get_child_by_name(user, "invite") : nullptr;
    if (invite == nullptr) return false;
    in->room = in->from.Bare();
    in->inviter = ParseJid(Attribute(invite, "from"));
    in->mediated = true;
    return true;
}

xmpp_stanza_t* NewElement(xmpp_ctx_t* ctx, const char* name, const char* ns) {
    xmpp_stanza_t* element = xmpp_stanza_new(ctx);
    xmpp_stanza_set_name(element, name);
    if (ns != nullptr) xmpp_stanza_set_ns(element, ns);
    return element;
}

bool HasChild(xmpp_stanza_t* stanza, const char* name, const char* ns) {
    return xmpp_stanza_get_child_by_name_and_ns(stanza, name, ns) != nullptr;
}

}  // namespace

std::string ErrorCondition(xmpp_stanza_t* stanza) {
    xmpp_stanza_t* error = xmpp_stanza_get_child_by_name(stanza, "error");
    if (error == nullptr) return "";
    for (xmpp_stanza_t* c = xmpp_stanza_get_children(error); c; c = xmpp_stanza_get_next(c)) {
        const char* name = xmpp_stanza_get_name(c);
        const char* ns = xmpp_stanza_get_ns(c);
        if (xmpp_stanza_is_tag(c) && name && ns && std::strcmp(ns, kStanzaErrorNs) == 0 &&
            std::strcmp(name, "text") != 0) {
            return name;
        }
    }
    return "";
}

IncomingMessage ReadMessage(xmpp_stanza_t* message) {
    IncomingMessage in;
    in.from = ParseJid(Attribute(message, "from"));
    in.id = Attribute(message, "id");
    std::string type = Attribute(message, "type");
    if (type.empty()) type = "normal";
    if (type == "error") {
        in.kind = IncomingMessage::Kind::kBounce;
        in.condition = ErrorCondition(message);
        return in;
    }
    if (type != "groupchat" && ReadInvitation(message, &in)) {
        in.kind = IncomingMessage::Kind::kInvitation;
        return in;
    }
    // Servers and services (addresses without a local part) are not people.
    if ((type != "chat" && type != "normal") || in.from.node.empty()) return in;
    xmpp_stanza_t* body = xmpp_stanza_get_child_by_name(message, "body");
    if (body == nullptr) return in;
    in.text = TextOf(body);
    if (!in.text.empty()) in.kind = IncomingMessage::Kind::kIm;
    return in;
}

StanzaPtr ChatMessage(xmpp_ctx_t* ctx, const std::string& to, const std::string& id,
                      const std::string& text, const ImExtras& extras) {
    StanzaPtr message(xmpp_message_new(ctx, "chat", to.c_str(), id.c_str()));
    if (!extras.bodyless) xmpp_message_set_body(message.get(), XmlSafeText(text).c_str());
    const ExtraElement& extra = extras.element;
    if (!extra.Empty()) {
        // libstrophe escapes attribute values as it writes the stanza.
        StanzaPtr element(
            NewElement(ctx, extra.name.c_str(), extra.ns.empty() ? nullptr : extra.ns.c_str()));
        for (const auto& [name, value] : extra.attributes) {
            xmpp_stanza_set_attribute(element.get(), name.c_str(), XmlSafeText(value).c_str());
        }
        xmpp_stanza_add_child(message.get(), element.get());
    }
    if (extras.bodyless) {
        StanzaPtr store(NewElement(ctx, "store", kHintsNs));
        xmpp_stanza_add_child(message.get(), store.get());
    }
    return message;
}

StanzaPtr PingRequest(xmpp_ctx_t* ctx, const std::string& to, const std::string& id) {
    StanzaPtr iq(xmpp_iq_new(ctx, "get", id.c_str()));
    xmpp_stanza_set_to(iq.get(), to.c_str());
    StanzaPtr ping(NewElement(ctx, "ping", kPingNs));
    xmpp_stanza_add_child(iq.get(), ping.get());
    return iq;
}

StanzaPtr Presence(xmpp_ctx_t* ctx, const std::string& type, const std::string& to) {
    StanzaPtr presence(xmpp_presence_new(ctx));
    if (!type.empty()) xmpp_stanza_set_type(presence.get(), type.c_str());
    if (!to.empty()) xmpp_stanza_set_to(presence.get(), to.c_str());
    return presence;
}

StanzaPtr IqResult(xmpp_ctx_t* ctx, xmpp_stanza_t* iq) {
    StanzaPtr result(xmpp_iq_new(ctx, "result", Attribute(iq, "id").c_str()));
    std::string from = Attribute(iq, "from");
    if (!from.empty()) xmpp_stanza_set_to(result.get(), from.c_str());
    return result;
}

// Built here rather than by libstrophe, which makes no reply to a request
// without a sender: one that the account's own server sent, which must be
// answered all the same.
StanzaPtr IqError(xmpp_stanza_t* iq, const std::string& condition) {
    xmpp_ctx_t* ctx = xmpp_stanza_get_context(iq);
    StanzaPtr reply(xmpp_iq_new(ctx, "error", Attribute(iq, "id").c_str()));
    std::string from = Attribute(iq, "from");
    if (!from.empty()) xmpp_stanza_set_to(reply.get(), from.c_str());
    StanzaPtr error(NewElement(ctx, "error", nullptr));
    xmpp_stanza_set_type(error.get(), "cancel");
    StanzaPtr defined(NewElement(ctx, condition.c_str(), kStanzaErrorNs));
    xmpp_stanza_add_child(error.get(), defined.get());
    xmpp_stanza_add_child(reply.get(), error.get());
    return reply;
}

StanzaPtr DeclineInvitation(xmpp_ctx_t* ctx, const std::string& room, const std::string& inviter) {
    StanzaPtr message(xmpp_message_new(ctx, nullptr, room.c_str(), nullptr));
    StanzaPtr x(NewElement(ctx, "x", kMucUserNs));
    StanzaPtr decline(NewElement(ctx, "decline", nullptr));
    if (!inviter.empty()) xmpp_stanza_set_to(decline.get(), inviter.c_str());
    xmpp_stanza_add_child(x.get(), decline.get());
    xmpp_stanza_add_child(message.get(), x.get());
    return message;
}

StanzaPtr RosterRequest(xmpp_ctx_t* ctx, const std::string& id) {
    StanzaPtr iq(xmpp_iq_new(ctx, "get", id.c_str()));
    StanzaPtr query(NewElement(ctx, "query", kRosterNs));
    xmpp_stanza_add_child(iq.get(), query.get());
    return iq;
}

std::vector<std::pair<std::string, bool>> RosterItems(xmpp_stanza_t* iq) {
    std::vector<std::pair<std::string, bool>> items;
    xmpp_stanza_t* query = xmpp_stanza_get_child_by_name_and_ns(iq, "query", kRosterNs);
    if (query == nullptr) return items;
    for (xmpp_stanza_t* item = xmpp_stanza_get_children(query); item != nullptr;
         item = xmpp_stanza_get_next(item)) {
        const char* name = xmpp_stanza_get_name(item);
        if (name == nullptr || std::strcmp(name, "item") != 0) continue;
        std::string jid = ParseJid(Attribute(item, "jid")).Bare();
        if (jid.empty()) continue;
        std::string subscription = Attribute(item, "subscription");
        bool sees =
            subscription == "to" || subscription == "both" || Attribute(item, "ask") == "subscribe";
        items.emplace_back(jid, sees);
    }
    return items;
}

bool IsActivePresence(xmpp_stanza_t* presence) {
    if (!Attribute(presence, "type").empty()) return false;
    xmpp_stanza_t* show = xmpp_stanza_get_child_by_name(presence, "show");
    if (show == nullptr) return true;
    std::string value = TextOf(show);
    return value.empty() || value == "chat";
}

bool IsPing(xmpp_stanza_t* iq) {
    return HasChild(iq, "ping", kPingNs);
}

bool IsRosterPush(xmpp_stanza_t* iq) {
    return Attribute(iq, "type") == "set" && HasChild(iq, "query", kRosterNs);
}

}  // namespace wexcore::xmpp
