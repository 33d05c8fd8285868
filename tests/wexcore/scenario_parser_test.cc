// The scenario file of the simulated service.
#include <gtest/gtest.h>

#include "wexcore/sim/scenario.h"

namespace wexcore::sim {
namespace {

Scenario Parse(const std::string& text) {
    Scenario s;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, "s.txt", &s, &error)) << error;
    return s;
}

std::string ErrorOf(const std::string& text) {
    Scenario s;
    std::string error;
    EXPECT_FALSE(ParseScenario(text, "s.txt", &s, &error)) << text;
    return error;
}

TEST(ScenarioParserTest, HeaderAndTimedDirectives) {
    Scenario s = Parse(
        "# comment\n\n  # indented comment\n"
        "password  two words \n"
        "wirelog w.jsonl\n"
        "signon fail 0x80040231\n"
        "at 1.5 im alice hello  world \n"
        "at 2 im bob\n"
        "at 2 im carol a\\nb\\tc\\\\d\n"
        "at 3 state 0 WEX_E_BUMPED\n"
        "at 3 request none 0\n"
        "at 3 request 1 none 40\n"
        "at 4 ratelimit bob 3\n"
        "at 4 fail bob WEX_E_USER_UNAVAILABLE\n"
        "at 4 openfail bob 2\n"
        "at 5 drop\n"
        "at 9 end\n");
    EXPECT_EQ(*s.password, " two words ");
    EXPECT_EQ(s.wireLogPath, "w.jsonl");
    EXPECT_EQ(*s.signOnFailure, WEX_E_CONNECT_ERROR);
    ASSERT_EQ(s.timed.size(), 11u);
    EXPECT_EQ(s.timed[0].atMs, 1500);
    EXPECT_EQ(s.timed[0].text, "hello  world ");
    EXPECT_EQ(s.timed[1].text, "");
    EXPECT_EQ(s.timed[2].text, "a\nb\tc\\d");
    EXPECT_EQ(s.timed[3].code, WEX_E_BUMPED);
    EXPECT_FALSE(s.timed[4].kind.has_value());
    EXPECT_EQ(*s.timed[4].prop, 0);
    EXPECT_EQ(s.timed[4].state, 50);
    EXPECT_FALSE(s.timed[5].prop.has_value());
    EXPECT_EQ(s.timed[5].state, 40);
    EXPECT_EQ(s.timed[6].count, 3);
    EXPECT_EQ(s.timed[7].count, 1);
    EXPECT_EQ(s.timed[7].code, WEX_E_USER_UNAVAILABLE);
    EXPECT_EQ(s.timed[8].count, 2);
    EXPECT_TRUE(s.timed[6].IsServiceSide());
    EXPECT_FALSE(s.timed[9].IsServiceSide());
}

TEST(ScenarioParserTest, StartIsLocalTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    Scenario s = Parse("start 2008-11-05T14:30:12\n");
    EXPECT_EQ(*s.startSeconds, 1225895412);
}

TEST(ScenarioParserTest, WithoutEndTheServiceLeavesAnHourAfterTheLastLine) {
    Scenario s = Parse("at 10 im alice hi\n");
    ASSERT_EQ(s.timed.size(), 2u);
    EXPECT_EQ(s.timed[1].op, Directive::Op::kEnd);
    EXPECT_EQ(s.timed[1].atMs, 3610000);
    EXPECT_EQ(Parse("").timed.back().atMs, 3600000);
}

TEST(ScenarioParserTest, MalformedLinesNameFileLineAndFault) {
    EXPECT_EQ(ErrorOf("at 1 end\nbogus\n"),
              "s.txt:2: header directive 'bogus' after the first 'at'");
    EXPECT_EQ(ErrorOf("bogus 1\n"), "s.txt:1: unknown directive 'bogus'");
    EXPECT_EQ(ErrorOf("at 2 end\nat 1 end\n"), "s.txt:2: time 1 is earlier than the line before");
    EXPECT_NE(ErrorOf("at x end\n").find("s.txt:1: expected a time"), std::string::npos);
    EXPECT_NE(ErrorOf("at -1 end\n").find("expected a time"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 fly\n").find("unknown directive"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1\n").find("missing directive"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 im\n").find("screen name"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 im a b\\q\n").find("escape"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 state x\n").find("state number"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 state 0 WEX_E_NOPE\n").find("not a result code"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 drop now\n").find("wrong number"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 ratelimit bob\n").find("wrong number"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 ratelimit bob -2\n").find("not a count"), std::string::npos);
    EXPECT_NE(ErrorOf("at 1 request x 0\n").find("KIND and PROP"), std::string::npos);
    EXPECT_NE(ErrorOf("start 2008-13-05T14:30:12\n").find("start needs"), std::string::npos);
    EXPECT_NE(ErrorOf("signon 0x1\n").find("signon fail CODE"), std::string::npos);
    EXPECT_NE(ErrorOf("wirelog\n").find("wirelog needs"), std::string::npos);
    EXPECT_NE(ErrorOf("record\n").find("record game"), std::string::npos);
    EXPECT_NE(ErrorOf("record all\n").find("record game"), std::string::npos);
}

TEST(ScenarioParserTest, RecordGameIsOffUnlessGiven) {
    EXPECT_FALSE(Parse("at 1 end\n").recordElements);
    EXPECT_TRUE(Parse("record game\nat 1 end\n").recordElements);
}

TEST(ScenarioParserTest, ResultCodesByNameOrHex) {
    HRESULT code = 0;
    EXPECT_TRUE(ParseResultCode("WEX_E_RATE_LIMITED", &code));
    EXPECT_EQ(code, WEX_E_RATE_LIMITED);
    EXPECT_TRUE(ParseResultCode("0x80040210", &code));
    EXPECT_EQ(code, WEX_E_RATE_LIMITED);
    EXPECT_TRUE(ParseResultCode("WEX_E_FILE_CORRUPT", &code));
    EXPECT_EQ(code, MakeResult(0x80040224));
    EXPECT_FALSE(ParseResultCode("0x1234567890", &code));
    EXPECT_FALSE(ParseResultCode("0xZZ", &code));
    EXPECT_FALSE(ParseResultCode("80040210", &code));
}

TEST(ScenarioParserTest, CrLfLinesReadLikeLfLines) {
    Scenario s = Parse("password pw\r\nat 1 im alice hi\r\n");
    EXPECT_EQ(*s.password, "pw");
    EXPECT_EQ(s.timed[0].text, "hi");
}

}  // namespace
}  // namespace wexcore::sim
