// The stanza reader on arbitrary XML, parsed by libstrophe as the stream
// would deliver it: what the service reads from a message, a presence or an
// iq, and the replies it builds from them. A message's text, sent back out
// as the service sends chat, must read back as the text that was sent.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "wexcore/xmpp/jid.h"
#include "wexcore/xmpp/stanzas.h"
#include "wexcore/xmpp/text.h"

namespace wexcore::xmpp {
namespace {

xmpp_ctx_t* Context() {
    static xmpp_ctx_t* ctx = [] {
        InitializeStrophe();
        return xmpp_ctx_new(nullptr, nullptr);
    }();
    return ctx;
}

std::string ToText(const StanzaPtr& stanza) {
    FUZZ_CHECK(stanza != nullptr);
    char* buffer = nullptr;
    size_t length = 0;
    FUZZ_CHECK(xmpp_stanza_to_text(stanza.get(), &buffer, &length) == XMPP_EOK);
    return TakeString(Context(), buffer);
}

// XML reads every line end (CR LF or a lone CR) as a line feed.
std::string AsXmlReadsIt(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
        } else {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        }
    }
    return out;
}

// The text as the service sends it to a peer, read back by the peer.
void SendBack(const std::string& text) {
    StanzaPtr sent = ChatMessage(Context(), "alice@lab.test", "m1", text);
    std::string xml = ToText(sent);
    StanzaPtr received(xmpp_stanza_new_from_string(Context(), xml.c_str()));
    FUZZ_CHECK(received != nullptr);
    xmpp_stanza_set_from(received.get(), "wexbot@lab.test/bot");
    IncomingMessage in = ReadMessage(received.get());
    std::string expected = AsXmlReadsIt(XmlSafeText(text));
    if (expected.empty()) {
        FUZZ_CHECK(in.kind == IncomingMessage::Kind::kIgnore);
    } else {
        FUZZ_CHECK(in.kind == IncomingMessage::Kind::kIm);
        FUZZ_CHECK(in.text == expected);
    }
}

void ReadAsMessage(xmpp_stanza_t* stanza) {
    IncomingMessage in = ReadMessage(stanza);
    switch (in.kind) {
        case IncomingMessage::Kind::kIm:
            FUZZ_CHECK(!in.text.empty());
            FUZZ_CHECK(!in.from.node.empty());
            FUZZ_CHECK(!PeerName(in.from, "lab.test").empty());
            SendBack(in.text);
            break;
        case IncomingMessage::Kind::kInvitation:
            ToText(DeclineInvitation(Context(), in.room, in.inviter.Bare()));
            break;
        case IncomingMessage::Kind::kBounce:
        case IncomingMessage::Kind::kIgnore:
            break;
    }
}

void ReadAsIq(xmpp_stanza_t* stanza) {
    for (const auto& [address, sees] : RosterItems(stanza)) {
        FUZZ_CHECK(!address.empty());
        FUZZ_CHECK(address.find('/') == std::string::npos);
        (void)sees;
    }
    // Every request is answered: with a result, or else with an error.
    std::string type = Attribute(stanza, "type");
    if (IsPing(stanza) || IsRosterPush(stanza)) {
        ToText(IqResult(Context(), stanza));
    } else if (type == "get" || type == "set") {
        std::string reply = ToText(IqError(stanza, "service-unavailable"));
        FUZZ_CHECK(reply.find("<service-unavailable") != std::string::npos);
    }
}

}  // namespace
}  // namespace wexcore::xmpp

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace wexcore::xmpp;
    // The parser takes a C string.
    std::string xml(reinterpret_cast<const char*>(data), size);
    xml = xml.substr(0, xml.find('\0'));
    StanzaPtr stanza(xmpp_stanza_new_from_string(Context(), xml.c_str()));
    if (!stanza) return 0;

    const char* name = xmpp_stanza_get_name(stanza.get());
    std::string kind = name ? name : "";
    // The name under which the bot sees a person addresses that person.
    Jid from = ParseJid(Attribute(stanza.get(), "from"));
    if (!from.node.empty()) {
        Jid back = ParseJid(PeerAddress(PeerName(from, "lab.test"), "lab.test"));
        FUZZ_CHECK(back.node == from.node && SameDomain(back.domain, from.domain));
    }
    ErrorCondition(stanza.get());
    if (kind == "message") ReadAsMessage(stanza.get());
    if (kind == "iq") ReadAsIq(stanza.get());
    ToText(stanza);
    // Any text at all may go out once made safe.
    SendBack(xml);
    return 0;
}
