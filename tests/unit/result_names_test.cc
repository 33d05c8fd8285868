#include "messaging/result_names.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

std::string NameText(HRESULT hr) {
    CWexBstr name;
    EXPECT_EQ(ResultNameBstr(name, hr), S_OK);
    return testutil::Narrow(name);
}

}  // namespace

TEST(ResultNames, EveryRunHasItsNamesAndItsGapsHaveNone) {
    struct Run {
        uint32_t first, last;
        const char *firstName, *lastName;
    };
    const Run runs[] = {
        {0x80040200, 0x80040207, "WEX_E_TOO_MANY_ITEMS", "WEX_E_MUST_REQUEST_DATA"},
        {0x80040210, 0x80040218, "WEX_E_RATE_LIMITED", "WEX_E_INSUFFICIENT_RIGHTS"},
        {0x80040220, 0x80040227, "WEX_E_FILE_NOT_FOUND", "WEX_E_UNSUPPORTED_CONVERSION"},
        {0x80040230, 0x80040238, "WEX_E_INVALID_SERVER_NAME", "WEX_E_SSL_HANDSHAKE_ERROR"},
        {0x8004023F, 0x80040245, "WEX_E_DISCONNECTED", "WEX_E_BROKEN_LINK"},
        {0x80040250, 0x80040255, "WEX_E_NOT_FROM_FREE_AREA", "WEX_E_CANNOT_INITIATE_SESSION"},
        {0x80040260, 0x80040267, "WEX_E_USER_BLOCKED", "WEX_E_USER_DID_NOT_INITIATE"},
        {0x80040270, 0x80040274, "WEX_E_USER_REJECTED", "WEX_E_USER_BUSY"},
        {0x80040278, 0x8004027A, "WEX_E_USER_CANCELLED", "WEX_E_ACCEPTED_ELSEWHERE"},
        {0x80040280, 0x80040283, "WEX_E_SESSION_CLOSED", "WEX_E_EJECTED"},
        {0x80040310, 0x80040314, "WEX_E_EXPIRED_CERT", "WEX_E_REVOKED_CERT"},
        {0x80040323, 0x80040324, "WEX_E_NO_DEVICE", "WEX_E_BUSY_DEVICE"},
        {0x80040400, 0x80040401, "WEX_E_PLUGIN_ABORTED_ACTION", "WEX_E_PLUGIN_CONSUMED_ACTION"},
        {0x80040410, 0x80040414, "WEX_E_INVALID_KEY", "WEX_E_INVALID_FINGERPRINT"},
    };
    int named = 0;
    for (const Run& run : runs) {
        EXPECT_STREQ(ResultName(MakeResult(run.first)), run.firstName);
        EXPECT_STREQ(ResultName(MakeResult(run.last)), run.lastName);
        EXPECT_STREQ(ResultName(MakeResult(run.first - 1)), "(unknown error code)") << run.first;
        EXPECT_STREQ(ResultName(MakeResult(run.last + 1)), "(unknown error code)") << run.last;
        named += static_cast<int>(run.last - run.first + 1);
    }
    // The runs above and the three single codes make the whole table.
    EXPECT_EQ(named + 3, 84);
    EXPECT_STREQ(ResultName(MakeResult(0x00040000)), "WEX_S");
    EXPECT_STREQ(ResultName(MakeResult(0x80040000)), "WEX_E");
    EXPECT_STREQ(ResultName(MakeResult(0x80040300)), "WEX_E_INVALID_SIGNATURE");
    EXPECT_STREQ(ResultName(MakeResult(0x80040224)), "WEX_E_INVALID_CHECKSUM/WEX_E_FILE_CORRUPT");
    EXPECT_STREQ(ResultName(MakeResult(0x80040222)), "WEX_E_INVALID_PASSWORD");
}

TEST(ResultNames, UnknownCodes) {
    EXPECT_STREQ(ResultName(S_OK), "(unknown error code)");
    EXPECT_STREQ(ResultName(E_INVALIDARG), "(unknown error code)");
    // Same low bits, other severity or facility: no match.
    EXPECT_STREQ(ResultName(MakeResult(0x00040210)), "(unknown error code)");
    EXPECT_STREQ(ResultName(MakeResult(0x80050210)), "(unknown error code)");

    EXPECT_EQ(NameText(E_INVALIDARG), "unknown error code 0x80070057");
    EXPECT_EQ(NameText(MakeResult(0x8004020F)), "unknown error code 0x8004020f");
    EXPECT_EQ(NameText(S_OK), "unknown error code 0x0");
    EXPECT_EQ(NameText(WEX_E_RATE_LIMITED), "WEX_E_RATE_LIMITED");
    EXPECT_EQ(NameText(WEX_E_FILE_CORRUPT), "WEX_E_INVALID_CHECKSUM/WEX_E_FILE_CORRUPT");
}

TEST(ResultNames, ReportIfFailedPrintsOnlyFailures) {
    testing::internal::CaptureStdout();
    ReportIfFailed(S_OK, "a()", "x.cc", 1);
    ReportIfFailed(S_FALSE, "b()", "x.cc", 2);
    ReportIfFailed(WEX_S, "c()", "x.cc", 3);
    ReportIfFailed(WEX_E_RATE_LIMITED, "piImSession->SendIm(spiResponse)", "bot_client.cc", 42);
    ReportIfFailed(E_FAIL, "d()", "x.cc", 7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR \"WEX_E_RATE_LIMITED\", file \"bot_client.cc\", line 42, "
              "\"piImSession->SendIm(spiResponse)\"\n"
              "ERROR \"unknown error code 0x80004005\", file \"x.cc\", line 7, \"d()\"\n");
}

TEST(ResultNames, CheckResultEvaluatesOnceAndNamesTheCallSite) {
    int calls = 0;
    auto failing = [&calls](int) {
        ++calls;
        return WEX_E_USER_BUSY;
    };
    testing::internal::CaptureStdout();
    // clang-format off
    CHECK_RESULT(failing(1)); int line = __LINE__;
    // clang-format on
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(out, "ERROR \"WEX_E_USER_BUSY\", file \"result_names_test.cc\", line " +
                       std::to_string(line) + ", \"failing(1)\"\n");
}
