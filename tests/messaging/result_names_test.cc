#include "messaging/result_names.h"

#include "tests/handle_test_util.h"

namespace {

std::string NameText(HRESULT hr) {
    CWexBstr name;
    EXPECT_EQ(ResultNameBstr(name, hr), S_OK);
    return testutil::Narrow(name);
}

bool Named(uint32_t code) {
    return ResultName(MakeResult(code)) != std::string("(unknown error code)");
}

}  // namespace

TEST(ResultNames, RunsAndGaps) {
    const uint32_t runs[][2] = {
        {0x80040200, 0x80040207}, {0x80040210, 0x80040218}, {0x80040220, 0x80040227},
        {0x80040230, 0x80040238}, {0x8004023F, 0x80040245}, {0x80040250, 0x80040255},
        {0x80040260, 0x80040267}, {0x80040270, 0x80040274}, {0x80040278, 0x8004027A},
        {0x80040280, 0x80040283}, {0x80040310, 0x80040314}, {0x80040323, 0x80040324},
        {0x80040400, 0x80040401}, {0x80040410, 0x80040414}};
    int named = 3;  // WEX_S, WEX_E, WEX_E_INVALID_SIGNATURE
    for (auto [first, last] : runs) {
        for (uint32_t code = first; code <= last; ++code) EXPECT_TRUE(Named(code)) << code;
        EXPECT_FALSE(Named(first - 1)) << first;
        EXPECT_FALSE(Named(last + 1)) << last;
        named += static_cast<int>(last - first + 1);
    }
    EXPECT_EQ(named, 84);
    EXPECT_STREQ(ResultName(MakeResult(0x80040210)), "WEX_E_RATE_LIMITED");
    EXPECT_STREQ(ResultName(MakeResult(0x80040224)), "WEX_E_INVALID_CHECKSUM/WEX_E_FILE_CORRUPT");
    EXPECT_STREQ(ResultName(MakeResult(0x00040000)), "WEX_S");
    EXPECT_STREQ(ResultName(MakeResult(0x80040300)), "WEX_E_INVALID_SIGNATURE");
    // Exact match only: same low bits with another severity or facility.
    EXPECT_FALSE(Named(0x00040210));
    EXPECT_FALSE(Named(0x80050210));
    EXPECT_STREQ(ResultName(S_OK), "(unknown error code)");
}

TEST(ResultNames, NameHandles) {
    EXPECT_EQ(NameText(E_INVALIDARG), "unknown error code 0x80070057");
    EXPECT_EQ(NameText(MakeResult(0x8004020F)), "unknown error code 0x8004020f");
    EXPECT_EQ(NameText(WEX_E_FILE_CORRUPT), "WEX_E_INVALID_CHECKSUM/WEX_E_FILE_CORRUPT");
}

TEST(ResultNames, OnlyFailuresAreReported) {
    int calls = 0;
    auto busy = [&calls] { return ++calls, WEX_E_USER_BUSY; };
    testing::internal::CaptureStdout();
    ReportIfFailed(S_FALSE, "b()", "x.cc", 2);
    ReportIfFailed(WEX_S, "c()", "x.cc", 3);
    ReportIfFailed(E_FAIL, "d()", "x.cc", 7);
    // clang-format off
    CHECK_RESULT(busy()); int line = __LINE__;
    // clang-format on
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR \"unknown error code 0x80004005\", file \"x.cc\", line 7, \"d()\"\n"
              "ERROR \"WEX_E_USER_BUSY\", file \"result_names_test.cc\", line " +
                  std::to_string(line) + ", \"busy()\"\n");
    EXPECT_EQ(calls, 1);
}
