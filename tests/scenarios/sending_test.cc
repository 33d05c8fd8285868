// Sending: the rate-limit back-off, failed sends and IM sessions, and what
// reaches whom.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const char kJoin[] = "at 10 im alice hi\nat 20 im bob hi\n";

TEST(SendingTest, RateLimitedSendBacksOffAndRetriesOnNewSessions) {
    BotRun run = RunScenario(std::string(kJoin) +
                             "at 29 ratelimit alice 3\n"
                             "at 30 im alice 20\nat 60 end\n");
    EXPECT_EQ(LinesWith(run.out, "WARNING"),
              (std::vector<std::string>{
                  "WARNING: hit rate limit.. will sleep for 2000ms and try again.",
                  "WARNING: hit rate limit.. will sleep for 4000ms and try again.",
                  "WARNING: hit rate limit.. will sleep for 8000ms and try again."}));
    auto sends = LinesWith(run.wire, "\"to\":\"alice\",\"session\"");
    auto answer = LinesWith(run.wire, "You expect your partner");
    ASSERT_EQ(answer.size(), 4u);
    EXPECT_NE(answer[0].find("\"t\":31.000,"), std::string::npos);
    EXPECT_NE(answer[3].find("\"t\":45.000,"), std::string::npos);
    EXPECT_NE(answer[3].find("\"code\":\"00000000\""), std::string::npos);
    EXPECT_EQ(CountLines(run.wire, "\"op\":\"end_session\""), 3);
    // One session was opened for Alice when Bob joined, three for the retries.
    EXPECT_EQ(CountLines(run.wire, "\"op\":\"open\",\"to\":\"alice\""), 4);
    EXPECT_EQ(CountLines(run.transcript, "SEND You expect your partner"), 1);
    EXPECT_EQ(run.out.find("ERROR"), std::string::npos);
}

TEST(SendingTest, BackOffStopsGrowingAtFiveMinutes) {
    BotRun run = RunScenario(std::string(kJoin) +
                             "at 29 ratelimit alice 10\n"
                             "at 30 im alice 20\nat 5000 end\n");
    auto warnings = LinesWith(run.out, "WARNING");
    ASSERT_EQ(warnings.size(), 10u);
    EXPECT_NE(warnings[7].find("256000ms"), std::string::npos);
    EXPECT_NE(warnings[8].find(" 300000ms"), std::string::npos);
    EXPECT_NE(warnings[9].find(" 300000ms"), std::string::npos);
    EXPECT_EQ(CountLines(run.transcript, "SEND You expect your partner"), 1);
}

TEST(SendingTest, FailedSendIsReportedAndStillRecorded) {
    BotRun run = RunScenario(std::string(kJoin) +
                             "at 29 fail alice WEX_E_USER_UNAVAILABLE\nat 30 im alice 20\n"
                             "at 40 end\n");
    auto errors = LinesWith(run.out, "ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(
                  "ERROR \"WEX_E_USER_UNAVAILABLE\", file \"outgoing_messages.cc\", line ", 0),
              0u);
    EXPECT_NE(errors[0].find(", \"SendMsgCheckRateLimit(team, piSession, &imTeamASession, "
                             "spiResponse)\""),
              std::string::npos);
    EXPECT_EQ(CountLines(run.transcript, "alice         SEND You expect your partner"), 1);
    EXPECT_NE(run.wire.find("\"code\":\"80040271\",\"text\":\"You expect"), std::string::npos);
}

TEST(SendingTest, SessionThatCannotBeOpenedIsReportedAndSkipped) {
    // Bob's message opens a session for Alice's share of the closing texts.
    BotRun run = RunScenario(std::string(kJoin) +
                             "at 30 im alice 1\nat 31 im alice 2\nat 32 im bob 3\n"
                             "at 32 openfail alice\nat 33 im bob 4\nat 50 im alice 5\n"
                             "at 60 end\n");
    auto errors = LinesWith(run.out, "ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("\"WEX_E_CANNOT_INITIATE_SESSION\""), std::string::npos);
    EXPECT_NE(run.wire.find("\"op\":\"open\",\"to\":\"alice\",\"session\":0,\"code\":\"80040255\""),
              std::string::npos);
    // The bot goes on: Alice's next answer is taken and answered.
    EXPECT_NE(run.wire.find("You expect your partner to invest: 5"), std::string::npos);
    EXPECT_NE(run.out.find("wexbot shutting down with hr=00000000"), std::string::npos);
}

TEST(SendingTest, SubjectWhoHasNotJoinedReceivesNothing) {
    BotRun run = RunScenario("at 10 im alice hi\nat 11 im mod b hello\nat 20 end\n");
    EXPECT_NE(run.wire.find("\"to\":\"alice\",\"session\":3,\"code\":\"00000000\",\"text\":"
                            "\"hello\"}"),
              std::string::npos)
        << run.wire;
    EXPECT_EQ(run.wire.find("\"to\":\"bob\""), std::string::npos);
    EXPECT_EQ(run.transcript.find("bob           SEND"), std::string::npos);
}

}  // namespace
