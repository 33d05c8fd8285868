#include <gtest/gtest.h>
#include <sys/mman.h>

#include <array>
#include <cstring>
#include <random>
#include <string>

#include "test_util.h"
#include "varn/hex_encode.h"
#include "varn/sha256_digest.h"

namespace {

using Varn::TSha256Digest;
using TEngine = TSha256Digest::TEngine;
using namespace wexhash_test;

std::string FinalHex(Varn::TDigest& digest) {
    std::array<uint8_t, 32> bytes;
    EXPECT_EQ(digest.Final(bytes.data(), bytes.size()), 32u);
    char text[64];
    return std::string(text, Varn::HexEncode(bytes.data(), bytes.size(), text, sizeof(text)));
}

// Every test runs on both compression paths.
class Sha256Test : public testing::TestWithParam<TEngine> {
protected:
    void SetUp() override {
        if (GetParam() == TEngine::ShaExtensions && !Varn::CpuHasShaExtensions()) {
            GTEST_SKIP() << "this processor has no SHA extensions";
        }
    }
};

INSTANTIATE_TEST_SUITE_P(Engines, Sha256Test,
                         testing::Values(TEngine::Portable, TEngine::ShaExtensions),
                         [](const auto& engine) {
                             return engine.param == TEngine::Portable ? "Portable"
                                                                      : "ShaExtensions";
                         });

// The FIPS 180-2 examples, hashed one after another by the same object:
// Final must leave it as good as new each time.
TEST_P(Sha256Test, FipsVectorsInARow) {
    TSha256Digest digest(GetParam());
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
        {"", "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
    };
    for (const auto& [message, expected] : cases) {
        digest.Update(message.data(), message.size());
        EXPECT_EQ(FinalHex(digest), expected) << '"' << message << '"';
    }
    const std::string thousand(1000, 'a');
    for (int i = 0; i < 1000; ++i) digest.Update(thousand.data(), thousand.size());
    EXPECT_EQ(FinalHex(digest), "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0");
}

// Sizes around the padding boundary and the read size, and a few random
// ones, in one call and in random pieces (empty ones included), against
// sha256sum on the same bytes.
TEST_P(Sha256Test, MatchesSha256sumInOneCallAndInRandomPieces) {
    std::mt19937 random(7);
    std::vector<size_t> sizes = {0, 1, 55, 56, 63, 64, 65, 119, 120, 8191, 8192, 8193};
    for (int i = 0; i < 3; ++i) sizes.push_back(random() % 300000);

    const TTempDir dir;
    TSha256Digest digest(GetParam());
    for (size_t size : sizes) {
        const std::vector<uint8_t> bytes = RandomBytes(size, static_cast<uint32_t>(size));
        const std::string expected = Sha256sumUpper(dir.Write("data", bytes));

        digest.Update(bytes.data(), bytes.size());
        EXPECT_EQ(FinalHex(digest), expected) << "one call, size " << size;

        for (size_t at = 0; at < size;) {
            const size_t piece = std::min<size_t>(random() % 300, size - at);
            digest.Update(bytes.data() + at, piece);
            at += piece;
        }
        EXPECT_EQ(FinalHex(digest), expected) << "pieces, size " << size;
    }
}

// Lets a test set the bit count and compress blocks by hand.
class TSha256Probe : public TSha256Digest {
public:
    using TSha256Digest::TSha256Digest;
    void SetBitCount(uint64_t bits) {
        bitCountLow_ = static_cast<uint32_t>(bits);
        bitCountHigh_ = static_cast<uint32_t>(bits >> 32);
    }
    uint64_t BitCount() const { return uint64_t{bitCountHigh_} << 32 | bitCountLow_; }
    std::string StateHex() const {
        std::array<uint8_t, 32> bytes;
        for (size_t i = 0; i < 32; ++i)
            bytes[i] = static_cast<uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
        char text[64];
        return std::string(text, Varn::HexEncode(bytes.data(), 32, text, 64));
    }
};

// A count that crosses 2^32 bits carries into the high half, and Final
// encodes all 64 bits. The expected last two blocks are built here by hand.
TEST(Sha256BitCount, CarriesIntoHighHalfAndIsEncodedWhole) {
    const uint64_t before = 0x7FFFFFE00;  // whole blocks, low half about to wrap
    const std::string tail(100, 'x');
    const uint64_t after = before + 8 * tail.size();

    TSha256Probe probe;
    probe.SetBitCount(before);
    probe.Update(tail.data(), tail.size());
    EXPECT_EQ(probe.BitCount(), after);

    uint8_t last[128] = {};
    std::memcpy(last, tail.data(), tail.size());
    last[tail.size()] = 0x80;
    for (int i = 0; i < 8; ++i) last[120 + i] = static_cast<uint8_t>(after >> (56 - 8 * i));
    TSha256Probe reference;
    reference.Transform(last);
    reference.Transform(last + 64);

    EXPECT_EQ(FinalHex(probe), reference.StateHex());
    EXPECT_EQ(probe.BitCount(), 0u);
}

// One Update of more than 2^29 bytes adds to the high half directly; it must
// agree with the same bytes fed in small pieces. Zero pages cost no memory.
TEST(Sha256BitCount, OneHugeUpdateAgreesWithPieces) {
    const size_t size = (size_t{1} << 29) + 5;
    void* zeros = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    const auto* bytes = static_cast<const uint8_t*>(zeros);

    TSha256Digest digest;
    digest.Update(bytes, size);
    const std::string whole = FinalHex(digest);
    for (size_t at = 0; at < size; at += 8192)
        digest.Update(bytes + at, std::min<size_t>(8192, size - at));
    EXPECT_EQ(FinalHex(digest), whole);
    munmap(zeros, size);
}

TEST(Sha256Final, TooSmallOutputWritesNothingAndKeepsTheMessage) {
    TSha256Digest digest;
    digest.Update("abc", 3);
    std::array<uint8_t, 32> output;
    output.fill(0xEE);
    EXPECT_EQ(digest.Final(output.data(), 31), 0u);
    EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(FinalHex(digest), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
}

TEST(HexEncode, UpperCaseHighNibbleFirstWithinCapacity) {
    const uint8_t data[] = {0x00, 0x01, 0xAB, 0xFF, 0x9C};
    char text[12];
    std::memset(text, '#', sizeof(text));
    EXPECT_EQ(Varn::HexEncode(data, 5, text, 10), 10u);
    EXPECT_EQ(std::string(text, 12), "0001ABFF9C##");  // no terminator written

    std::memset(text, '#', sizeof(text));
    EXPECT_EQ(Varn::HexEncode(data, 5, text, 9), 0u);
    EXPECT_EQ(std::string(text, 12), std::string(12, '#'));

    // A length whose double does not fit in size_t must not pass the check.
    EXPECT_EQ(Varn::HexEncode(data, SIZE_MAX / 2 + 1, text, 4), 0u);
    EXPECT_EQ(std::string(text, 12), std::string(12, '#'));
}

}  // namespace
