#include "bot/string_ops.h"

#include <gtest/gtest.h>

#include "test_util.h"

using testutil::Narrow;

TEST(StringOps, NarrowOfEmptyAndFilledHandles) {
    CWexBstr empty;
    std::string text = "old";
    EXPECT_EQ(ToNarrow(text, empty), S_OK);
    EXPECT_EQ(text, "");

    CWexBstr de = MakeBstr("de");
    text = "abc";
    EXPECT_EQ(AppendNarrow(text, de), S_OK);
    EXPECT_EQ(text, "abcde");
    EXPECT_EQ(AppendNarrow(text, empty), S_OK);
    EXPECT_EQ(text, "abcde");
    EXPECT_EQ(ToNarrow(text, de), S_OK);
    EXPECT_EQ(text, "de");
}

TEST(StringOps, Utf8RoundTripKeepsEveryCharacter) {
    // Two-, three- and four-byte characters; the emoji takes two units.
    const std::string mixed =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5";
    CWexBstr handle;
    AssignText(handle, mixed);
    EXPECT_EQ(handle.Length(), 12u);
    EXPECT_EQ(CharAt(handle, 8), 0xD83D);
    EXPECT_EQ(Narrow(handle), mixed);

    std::string appended = "x";
    EXPECT_EQ(AppendNarrow(appended, handle), S_OK);
    EXPECT_EQ(appended, "x" + mixed);

    // A long text of three-byte characters is not cut at the unit count.
    std::string euros;
    for (int i = 0; i < 5000; ++i) euros += "\xE2\x82\xAC";
    AssignText(handle, euros);
    EXPECT_EQ(handle.Length(), 5000u);
    EXPECT_EQ(Narrow(handle), euros);
}

TEST(StringOps, AssignReplacesText) {
    CWexBstr handle = MakeBstr("first");
    AssignText(handle, "second");
    EXPECT_EQ(Narrow(handle), "second");
    AssignText(handle, "");
    EXPECT_EQ(handle.Length(), 0u);
}

TEST(StringOps, PrefixText) {
    CWexBstr empty;
    PrefixText(empty, "x");
    EXPECT_EQ(Narrow(empty), "x");

    CWexBstr message = MakeBstr("hi \xE2\x82\xAC");
    PrefixText(message, "(from alice) ");
    EXPECT_EQ(Narrow(message), "(from alice) hi \xE2\x82\xAC");

    // A lone surrogate from a peer survives unchanged: the join works on
    // units, not on a UTF-8 round trip.
    const char16_t lone[] = {u'a', 0xD800, u'b'};
    CWexBstr odd;
    ASSERT_EQ(StrFromUnits(lone, 3, odd.Out()), S_OK);
    PrefixText(odd, "> ");
    ASSERT_EQ(odd.Length(), 5u);
    EXPECT_EQ(CharAt(odd, 3), 0xD800);
    EXPECT_EQ(CharAt(odd, 4), u'b');
}

TEST(StringOps, CharAtBounds) {
    CWexBstr empty;
    EXPECT_EQ(CharAt(empty, 0), 0);
    CWexBstr ab = MakeBstr("ab");
    EXPECT_EQ(CharAt(ab, 0), u'a');
    EXPECT_EQ(CharAt(ab, 1), u'b');
    EXPECT_EQ(CharAt(ab, 2), 0);

    for (int64_t bad : {int64_t{-1}, int64_t{3}, int64_t{1} << 40}) {
        try {
            CharAt(ab, bad);
            ADD_FAILURE() << "no exception for index " << bad;
        } catch (const TARN::CWexException& e) {
            EXPECT_EQ(e.Result(), E_INVALIDARG);
            EXPECT_STREQ(e.what(), "result code 80070057");
        }
    }
    EXPECT_THROW(CharAt(empty, 1), TARN::CWexException);
}

TEST(StringOps, MakeStringVariant) {
    CWexVariant variant;
    SetVariantInt(variant.get(), 7);
    MakeStringVariant(variant.get(), "selkbot (Key:K1)");
    ASSERT_EQ(variant.value().vt, VT_BSTR);
    std::string text;
    ASSERT_EQ(ToNarrow(text, variant.value().bstrVal), S_OK);
    EXPECT_EQ(text, "selkbot (Key:K1)");
}
