// Which incoming messages reach the bot, under which name, and what text
// may leave for the server.

#include "wexcore/xmpp/stanzas.h"

#include <gtest/gtest.h>

#include "wexcore/xmpp/backoff.h"
#include "wexcore/xmpp/jid.h"
#include "wexcore/xmpp/text.h"

namespace wexcore::xmpp {
namespace {

class XmppStanzas : public ::testing::Test {
protected:
    XmppStanzas() {
        InitializeStrophe();
        m_ctx.reset(xmpp_ctx_new(nullptr, nullptr));
    }
    IncomingMessage Read(const std::string& xml) {
        StanzaPtr stanza(xmpp_stanza_new_from_string(m_ctx.get(), xml.c_str()));
        EXPECT_TRUE(stanza) << xml;
        return ReadMessage(stanza.get());
    }
    std::string Text(const StanzaPtr& stanza) {
        char* buffer = nullptr;
        size_t length = 0;
        xmpp_stanza_to_text(stanza.get(), &buffer, &length);
        return TakeString(m_ctx.get(), buffer);
    }
    ContextPtr m_ctx;
};

TEST_F(XmppStanzas, ChatAndNormalMessagesWithABodyAreIms) {
    IncomingMessage in = Read(
        "<message from='alice@lab.test/phone' type='chat'><body>I invest 20 &amp; "
        "&lt;hope&gt;</body><active xmlns='http://jabber.org/protocol/chatstates'/></message>");
    EXPECT_EQ(in.kind, IncomingMessage::Kind::kIm);
    EXPECT_EQ(in.text, "I invest 20 & <hope>");
    EXPECT_EQ(PeerName(in.from, "lab.test"), "alice");

    in = Read("<message from='bob@elsewhere.org/x'><body>line 1\nline 2</body></message>");
    EXPECT_EQ(in.kind, IncomingMessage::Kind::kIm) << "no type means normal";
    EXPECT_EQ(in.text, "line 1\nline 2");
    EXPECT_EQ(PeerName(in.from, "lab.test"), "bob@elsewhere.org");
}

TEST_F(XmppStanzas, EverythingElseIsIgnored) {
    const char* ignored[] = {
        // typing notification, receipt: no body
        "<message from='alice@lab.test/a' type='chat'>"
        "<composing xmlns='http://jabber.org/protocol/chatstates'/></message>",
        "<message from='alice@lab.test/a' type='chat'><body></body></message>",
        "<message from='room@muc.lab.test/alice' type='groupchat'><body>hi</body></message>",
        "<message from='news@lab.test' type='headline'><body>news</body></message>",
        // the server itself is not a person
        "<message from='lab.test' type='normal'><body>Welcome</body></message>",
    };
    for (const char* xml : ignored)
        EXPECT_EQ(Read(xml).kind, IncomingMessage::Kind::kIgnore) << xml;
}

TEST_F(XmppStanzas, BouncesCarryTheirCondition) {
    IncomingMessage in = Read(
        "<message from='nobody@lab.test' id='m7' type='error'><body>hi</body>"
        "<error type='cancel'><text xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'>gone</text>"
        "<service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></message>");
    EXPECT_EQ(in.kind, IncomingMessage::Kind::kBounce);
    EXPECT_EQ(in.id, "m7");
    EXPECT_EQ(in.condition, "service-unavailable");
    EXPECT_EQ(Read("<message from='a@lab.test' type='error'><error/></message>").condition, "");
}

TEST_F(XmppStanzas, InvitationsAreOffersNotIms) {
    IncomingMessage direct = Read(
        "<message from='carol@lab.test/pc' type='normal'><body>join us</body>"
        "<x xmlns='jabber:x:conference' jid='talk@muc.lab.test'/></message>");
    EXPECT_EQ(direct.kind, IncomingMessage::Kind::kInvitation);
    EXPECT_EQ(direct.room, "talk@muc.lab.test");
    EXPECT_EQ(direct.inviter.Bare(), "carol@lab.test");
    EXPECT_FALSE(direct.mediated);

    IncomingMessage mediated = Read(
        "<message from='talk@muc.lab.test'><x xmlns='http://jabber.org/protocol/muc#user'>"
        "<invite from='carol@lab.test/pc'><reason>hi</reason></invite></x></message>");
    EXPECT_EQ(mediated.kind, IncomingMessage::Kind::kInvitation);
    EXPECT_EQ(mediated.room, "talk@muc.lab.test");
    EXPECT_EQ(PeerName(mediated.inviter, "lab.test"), "carol");
    EXPECT_TRUE(mediated.mediated);

    std::string decline = Text(DeclineInvitation(m_ctx.get(), mediated.room, "carol@lab.test"));
    EXPECT_NE(decline.find("to=\"talk@muc.lab.test\""), std::string::npos) << decline;
    EXPECT_NE(decline.find("<decline to=\"carol@lab.test\"/>"), std::string::npos) << decline;
}

// Only a client at its keyboard announcing itself again may mean the
// person came back; away, xa and dnd are status news.
TEST_F(XmppStanzas, ActivePresenceIsAvailableWithoutAwayShow) {
    auto active = [&](const std::string& xml) {
        StanzaPtr stanza(xmpp_stanza_new_from_string(m_ctx.get(), xml.c_str()));
        EXPECT_TRUE(stanza) << xml;
        return IsActivePresence(stanza.get());
    };
    EXPECT_TRUE(active("<presence from='alice@lab.test/a'/>"));
    EXPECT_TRUE(
        active("<presence from='alice@lab.test/a'><priority>0</priority>"
               "<status>here</status></presence>"));
    EXPECT_TRUE(active("<presence from='alice@lab.test/a'><show>chat</show></presence>"));
    EXPECT_TRUE(active("<presence from='alice@lab.test/a'><show/></presence>"));
    for (const char* show : {"away", "xa", "dnd"}) {
        EXPECT_FALSE(active(std::string("<presence from='alice@lab.test/a'><show>") + show +
                            "</show></presence>"))
            << show;
    }
    EXPECT_FALSE(active("<presence from='alice@lab.test/a' type='unavailable'/>"));
    EXPECT_FALSE(active("<presence from='alice@lab.test' type='subscribe'/>"));
}

TEST_F(XmppStanzas, OutgoingTextIsEscapedAndXmlSafe) {
    std::string xml = Text(ChatMessage(m_ctx.get(), "alice@lab.test", "id1", "a<b>&c\x01"));
    EXPECT_NE(xml.find("<body>a&lt;b&gt;&amp;c\xEF\xBF\xBD</body>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("type=\"chat\""), std::string::npos);
}

TEST(XmppText, InvalidSequencesAndForbiddenCharactersAreReplaced) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(XmlSafeText("tab\tnl\ncr\r \xC3\xA9 \xF0\x9F\x98\x80"),
              "tab\tnl\ncr\r \xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(XmlSafeText(std::string("a\0b", 3)), "a" + r + "b");
    EXPECT_EQ(XmlSafeText("\x1B[1m"), r + "[1m");
    EXPECT_EQ(XmlSafeText("\xC3"), r) << "cut sequence";
    EXPECT_EQ(XmlSafeText("\xC0\xAF"), r + r) << "overlong form";
    EXPECT_EQ(XmlSafeText("\xED\xA0\x80"), r + r + r) << "surrogate";
    EXPECT_EQ(XmlSafeText("\xEF\xBF\xBE"), r) << "U+FFFE";
    EXPECT_EQ(XmlSafeText("\xF4\x90\x80\x80"), r + r + r + r) << "beyond U+10FFFF";
}

TEST_F(XmppStanzas, UnknownRequestsGetAnErrorWithOrWithoutASender) {
    StanzaPtr fromPeer(xmpp_stanza_new_from_string(
        m_ctx.get(),
        "<iq type='get' id='v1' from='x@lab.test/y'><query xmlns='jabber:iq:version'/></iq>"));
    StanzaPtr error = IqError(fromPeer.get(), "service-unavailable");
    ASSERT_TRUE(error);
    std::string reply = Text(error);
    EXPECT_NE(reply.find("type=\"error\""), std::string::npos) << reply;
    EXPECT_NE(reply.find("id=\"v1\""), std::string::npos) << reply;
    EXPECT_NE(reply.find("to=\"x@lab.test/y\""), std::string::npos) << reply;
    EXPECT_NE(reply.find("<error type=\"cancel\"><service-unavailable "
                         "xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\"/></error>"),
              std::string::npos)
        << reply;

    // No sender: the account's own server asks, and is answered too.
    StanzaPtr fromServer(xmpp_stanza_new_from_string(
        m_ctx.get(), "<iq type='set' id='s1'><query xmlns='urn:example'/></iq>"));
    error = IqError(fromServer.get(), "service-unavailable");
    ASSERT_TRUE(error);
    reply = Text(error);
    EXPECT_NE(reply.find("id=\"s1\""), std::string::npos) << reply;
    EXPECT_EQ(reply.find("to="), std::string::npos) << reply;
    EXPECT_NE(reply.find("<service-unavailable "), std::string::npos) << reply;
}

TEST(XmppJid, NamesAndAddresses) {
    Jid jid = ParseJid("Alice@Lab.Test/phone/2");
    EXPECT_EQ(jid.node, "Alice");
    EXPECT_EQ(jid.domain, "Lab.Test");
    EXPECT_EQ(jid.resource, "phone/2");
    EXPECT_EQ(PeerName(jid, "lab.test"), "Alice");
    EXPECT_EQ(PeerName(ParseJid("lab.test"), "lab.test"), "lab.test");
    EXPECT_EQ(PeerAddress("alice", "lab.test"), "alice@lab.test");
    EXPECT_EQ(PeerAddress("bob@elsewhere.org", "lab.test"), "bob@elsewhere.org");
}

TEST(XmppBackoff, DoublesUpToTheCapAndStartsOverAfterReset) {
    Backoff backoff(1000, 30000);
    int expected[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
    for (int wait : expected) EXPECT_EQ(backoff.Next(), wait);
    backoff.Reset();
    EXPECT_EQ(backoff.Next(), 1000);
    Backoff huge(1 << 30, 0x7FFFFFFF);  // doubling must not overflow
    EXPECT_EQ(huge.Next(), 1 << 30);
    EXPECT_EQ(huge.Next(), 0x7FFFFFFF);
}

TEST_F(XmppStanzas, AMessageCarriesItsElementBesideOrInsteadOfTheBody) {
    ImExtras extras;
    extras.element = ExtraElement{"game", "urn:wex:game:1", {{"round", "3"}, {"note", "a\"<&>'b"}}};
    std::string withBody = Text(ChatMessage(m_ctx.get(), "alice@lab.test", "m1", "Hi", extras));
    EXPECT_NE(withBody.find("<body>Hi</body>"), std::string::npos) << withBody;
    EXPECT_NE(withBody.find("<game xmlns=\"urn:wex:game:1\""), std::string::npos) << withBody;
    EXPECT_NE(withBody.find("round=\"3\""), std::string::npos) << withBody;
    EXPECT_EQ(withBody.find("store"), std::string::npos) << withBody;
    // Attribute values are escaped: the stanza reads back to the same value.
    StanzaPtr parsed(xmpp_stanza_new_from_string(m_ctx.get(), withBody.c_str()));
    ASSERT_TRUE(parsed) << withBody;
    xmpp_stanza_t* game =
        xmpp_stanza_get_child_by_name_and_ns(parsed.get(), "game", "urn:wex:game:1");
    ASSERT_NE(game, nullptr);
    EXPECT_STREQ(xmpp_stanza_get_attribute(game, "note"), "a\"<&>'b");

    extras.bodyless = true;
    std::string alone = Text(ChatMessage(m_ctx.get(), "alice@lab.test", "m2", "", extras));
    EXPECT_EQ(alone.find("<body"), std::string::npos) << alone;
    EXPECT_NE(alone.find("<game xmlns=\"urn:wex:game:1\""), std::string::npos) << alone;
    EXPECT_NE(alone.find("<store xmlns=\"urn:xmpp:hints\"/>"), std::string::npos) << alone;

    std::string plain = Text(ChatMessage(m_ctx.get(), "alice@lab.test", "m3", "Hi"));
    EXPECT_EQ(plain.find("game"), std::string::npos) << plain;
}

}  // namespace
}  // namespace wexcore::xmpp
