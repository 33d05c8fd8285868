// Stanza errors and stream endings as the bot sees them.

#include "wexcore/xmpp/error_map.h"

#include <gtest/gtest.h>

namespace wexcore::xmpp {
namespace {

TEST(XmppErrorMap, StanzaConditions) {
    EXPECT_EQ(StanzaErrorResult("resource-constraint"), WEX_E_RATE_LIMITED);
    EXPECT_EQ(StanzaErrorResult("policy-violation"), WEX_E_RATE_LIMITED);
    for (const char* gone : {"service-unavailable", "recipient-unavailable", "item-not-found",
                             "remote-server-not-found"}) {
        EXPECT_EQ(StanzaErrorResult(gone), WEX_E_USER_UNAVAILABLE) << gone;
    }
    for (const char* other : {"bad-request", "jid-malformed", "internal-server-error",
                              "remote-server-timeout", "forbidden", ""}) {
        EXPECT_EQ(StanzaErrorResult(other), WEX_E_SERVER_ERROR) << other;
    }
}

TEST(XmppErrorMap, StreamEndsAtSignOnAreFinal) {
    StreamEnd end;
    EXPECT_EQ(OfflineResult(end), WEX_E_CONNECT_ERROR);
    end.authRejected = true;
    EXPECT_EQ(OfflineResult(end), WEX_E_INVALID_PASSWORD);
    end = StreamEnd{};
    end.certRejected = true;
    EXPECT_EQ(OfflineResult(end), WEX_E_SSL_HANDSHAKE_ERROR);
}

TEST(XmppErrorMap, LostStreamReconnectsUnlessReplacedOrRefused) {
    StreamEnd end;
    end.everOnline = true;
    EXPECT_EQ(OfflineResult(end), S_OK);
    end.conflict = true;
    EXPECT_EQ(OfflineResult(end), WEX_E_BUMPED);
    end.conflict = false;
    end.authRejected = true;  // the password was changed meanwhile
    EXPECT_EQ(OfflineResult(end), WEX_E_INVALID_PASSWORD);
}

}  // namespace
}  // namespace wexcore::xmpp
