#include "expected_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace wexhash;

const std::string kAbc = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
const std::string kAbcLower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// What people paste, against the fingerprint of "abc".
TEST(Compare, WhatPeoplePaste) {
    std::string oneDigitOff = kAbc;
    oneDigitOff[40] = 'C';
    const std::pair<std::string, TVerdict> cases[] = {
        {kAbc, TVerdict::Match},
        {kAbcLower, TVerdict::Match},
        {"  \t" + kAbcLower + " \r\n", TVerdict::Match},
        {"sha256:" + kAbcLower, TVerdict::Match},
        {"SHA256: " + kAbc, TVerdict::Match},
        {kAbcLower + "  abc.iso", TVerdict::Match},
        {kAbcLower + " *abc.iso\n", TVerdict::Match},
        {"SHA256 (abc.iso) = " + kAbcLower, TVerdict::Match},
        {oneDigitOff, TVerdict::NoMatch},
        {kAbc.substr(0, 63) + "E", TVerdict::NoMatch},
        {"", TVerdict::None},
        {" \n ", TVerdict::None},
        {kAbc.substr(1), TVerdict::NotSha256},
        {kAbc + "0", TVerdict::NotSha256},
        {kAbc.substr(0, 63) + "G", TVerdict::NotSha256},
        {"md5:" + kAbc, TVerdict::NotSha256},
        {kAbc + "\n" + kAbc, TVerdict::NotSha256},
        {"hello world", TVerdict::NotSha256},
    };
    for (const auto& [pasted, verdict] : cases) {
        EXPECT_EQ(Compare(pasted, kAbc), verdict) << '"' << pasted << '"';
    }
}

// With no fingerprint shown there is nothing to compare, but a value that is
// no SHA-256 value is still called so.
TEST(Compare, NothingShownYet) {
    EXPECT_EQ(Compare(kAbc, ""), TVerdict::None);
    EXPECT_EQ(Compare("xyz", ""), TVerdict::NotSha256);
    EXPECT_EQ(ParseExpected(" sha256:" + kAbcLower).hex, kAbc);
}

}  // namespace
