// Connection states, requests and the end of the session.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

TEST(ConnectionTest, EveryStateHasItsLine) {
    BotRun run = RunScenario(
        "at 1 state 50\nat 2 state 100\nat 3 state 500\nat 4 state 210\nat 5 state 211\n"
        "at 6 state 777\nat 7 state 600\nat 8 state 0 0x80040237\nat 9 state 500\n");
    EXPECT_EQ(AfterSignOn(run.out),
              "wexbot connecting...\n"
              "wexbot online and ready.\n"
              "wexbot disconnected, reconnecting...\n"
              "wexbot connecting...\n"
              "wexbot online and ready.\n"
              "wexbot does not support securid.\n"
              "wexbot does not support securid.\n"
              "wexbot offline, qutting.\n"
              "wexbot shutting down with hr=80040237 WEX_E_BUMPED\n");
    EXPECT_EQ(run.exitStatus, 0x37);
    // Each SecurID state is declined once; the later state 500 never comes.
    EXPECT_EQ(CountLines(run.wire, "\"op\":\"securid\",\"answer\":\"decline\""), 2);
    EXPECT_EQ(CountLines(run.wire, "\"t\":9.000"), 0);
}

TEST(ConnectionTest, DropReportsThreeLinesAndGoesOn) {
    BotRun run = RunScenario("at 10 drop\nat 20 end\n");
    EXPECT_EQ(AfterSignOn(run.out),
              "wexbot connecting...\n"
              "wexbot online and ready.\n"
              "wexbot disconnected, reconnecting...\n"
              "wexbot connecting...\n"
              "wexbot online and ready.\n"
              "wexbot offline, qutting.\n"
              "wexbot shutting down with hr=00000000 (unknown error code)\n");
}

TEST(ConnectionTest, RequestsAcceptedOnlyForKindOneWithQualifierZero) {
    BotRun run = RunScenario(
        "at 1 request 1 0\nat 1 request 1 1\nat 1 request 2 0\nat 1 request none 0\n"
        "at 1 request 1 none\nat 1 request 1 0 40\nat 1 request 2 0 60\nat 2 end\n");
    auto requests = LinesWith(run.wire, "\"op\":\"request\"");
    ASSERT_EQ(requests.size(), 7u);
    EXPECT_NE(requests[0].find("\"kind\":1,\"prop\":0,\"state\":50,\"answer\":\"accept\"}"),
              std::string::npos);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_NE(requests[i].find("\"answer\":\"reject\",\"code\":\"80040270\"}"),
                  std::string::npos)
            << requests[i];
    }
    EXPECT_NE(requests[5].find("\"state\":40,\"answer\":\"none\"}"), std::string::npos);
    EXPECT_NE(requests[6].find("\"state\":60,\"answer\":\"none\"}"), std::string::npos);
}

TEST(ConnectionTest, WrongPasswordEndsOffline) {
    BotRun run = RunScenario("password other\nat 5 end\n");
    EXPECT_EQ(AfterSignOn(run.out),
              "wexbot connecting...\n"
              "wexbot offline, qutting.\n"
              "wexbot shutting down with hr=80040222 WEX_E_INVALID_PASSWORD\n");
    EXPECT_EQ(run.exitStatus, 0x22);
}

TEST(ConnectionTest, RefusedSignOnReachesShutdownLine) {
    BotRun run = RunScenario("signon fail WEX_E_CONNECT_ERROR\nat 5 end\n");
    EXPECT_EQ(AfterSignOn(run.out), "wexbot shutting down with hr=80040231 WEX_E_CONNECT_ERROR\n");
    EXPECT_EQ(run.exitStatus, 0x31);
}

TEST(ConnectionTest, FailureWithZeroLowByteNeverExitsZero) {
    BotRun run = RunScenario("at 1 end 0x80040200\n");
    EXPECT_NE(run.out.find("hr=80040200 WEX_E_TOO_MANY_ITEMS"), std::string::npos);
    EXPECT_EQ(run.exitStatus, 1);
}

TEST(ConnectionTest, ServiceGoesOfflineAnHourAfterTheLastDirective) {
    BotRun run = RunScenario("at 10 state 777\n");
    EXPECT_EQ(run.wireLines.back(),
              "{\"t\":3610.000,\"op\":\"state\",\"state\":0,\"code\":\"00000000\"}");
    EXPECT_EQ(run.exitStatus, 0);
}

}  // namespace
