// The stanzas the service sends, and what it reads from those it receives.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "wexcore/extra_element.h"
#include "wexcore/xmpp/jid.h"
#include "wexcore/xmpp/strophe_handles.h"

namespace wexcore::xmpp {

// What an incoming <message/> means to the service.
struct IncomingMessage {
    enum class Kind {
        kIgnore,      // no text for the bot: typing, group chat, headline, ...
        kIm,          // a chat or normal message with a body
        kInvitation,  // an invitation to a group chat
        kBounce,      // an error reply to a message that the service sent
    };
    Kind kind = Kind::kIgnore;
    Jid from;
    std::string id;
    std::string text;       // kIm: the body
    std::string condition;  // kBounce: the stanza error condition
    Jid inviter;            // kInvitation: who invites
    std::string room;       // kInvitation: the room's address
    bool mediated = false;  // kInvitation: sent through the room (can be declined)
};

IncomingMessage ReadMessage(xmpp_stanza_t* message);

// The defined condition of an error stanza ("" when there is none).
std::string ErrorCondition(xmpp_stanza_t* stanza);

// A chat message with the text as its body and the extras' element as a
// child; a bodyless one carries the element alone and asks the server's
// archive to keep it.
StanzaPtr ChatMessage(xmpp_ctx_t* ctx, const std::string& to, const std::string& id,
                      const std::string& text, const ImExtras& extras = {});
// An XMPP ping: the reply comes after the server has handled what was sent before it.
StanzaPtr PingRequest(xmpp_ctx_t* ctx, const std::string& to, const std::string& id);
// type "" is available presence.
StanzaPtr Presence(xmpp_ctx_t* ctx, const std::string& type, const std::string& to = "");
StanzaPtr IqResult(xmpp_ctx_t* ctx, xmpp_stanza_t* iq);
StanzaPtr IqError(xmpp_stanza_t* iq, const std::string& condition);
StanzaPtr DeclineInvitation(xmpp_ctx_t* ctx, const std::string& room, const std::string& inviter);

// A request for the account's contact list.
StanzaPtr RosterRequest(xmpp_ctx_t* ctx, const std::string& id);
// The items of a roster result or push: each bare address with whether the
// account sees that contact's presence or has asked to ("to", "both", or
// ask="subscribe").
std::vector<std::pair<std::string, bool>> RosterItems(xmpp_stanza_t* iq);

// An available presence of a client at its keyboard: no <show/>, or
// "chat" (not away, xa or dnd).
bool IsActivePresence(xmpp_stanza_t* presence);

// True for <iq/> requests that carry a ping or a roster push.
bool IsPing(xmpp_stanza_t* iq);
bool IsRosterPush(xmpp_stanza_t* iq);

}  // namespace wexcore::xmpp
