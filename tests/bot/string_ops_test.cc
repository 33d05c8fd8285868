#include "bot/string_ops.h"

#include "tests/handle_test_util.h"

using testutil::Narrow;

TEST(StringOps, NarrowAndAppend) {
    std::string text = "old";
    EXPECT_EQ(ToNarrow(text, CWexBstr()), S_OK);
    EXPECT_EQ(text, "");
    text = "abc";
    EXPECT_EQ(AppendNarrow(text, MakeBstr("de")), S_OK);
    EXPECT_EQ(text, "abcde");
    CWexBstr handle = MakeBstr("first");
    AssignText(handle, "second");
    EXPECT_EQ(Narrow(handle), "second");
}

TEST(StringOps, Utf8RoundTripCutsNothing) {
    // Two-, three- and four-byte characters; the emoji takes two units.
    const std::string mixed =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5";
    CWexBstr handle = MakeBstr(mixed);
    EXPECT_EQ(handle.Length(), 12u);
    EXPECT_EQ(Narrow(handle), mixed);
    std::string euros;
    for (int i = 0; i < 5000; ++i) euros += "\xE2\x82\xAC";
    EXPECT_EQ(Narrow(MakeBstr(euros)), euros);
}

TEST(StringOps, PrefixText) {
    CWexBstr empty;
    PrefixText(empty, "x");
    EXPECT_EQ(Narrow(empty), "x");
    // A lone surrogate from a peer survives: the join works on units.
    const char16_t lone[] = {u'a', 0xD800};
    CWexBstr odd;
    ASSERT_EQ(StrFromUnits(lone, 2, odd.Out()), S_OK);
    PrefixText(odd, "(from \xC3\xA9) ");
    EXPECT_EQ(odd.Length(), 11u);
    EXPECT_EQ(CharAt(odd, 6), 0xE9);
    EXPECT_EQ(CharAt(odd, 10), 0xD800);
}

TEST(StringOps, CharAtBounds) {
    EXPECT_EQ(CharAt(CWexBstr(), 0), 0);
    CWexBstr ab = MakeBstr("ab");
    EXPECT_EQ(CharAt(ab, 1), u'b');
    EXPECT_EQ(CharAt(ab, 2), 0);
    EXPECT_THROW(CharAt(ab, 3), TARN::CWexException);
    try {
        CharAt(ab, -1);
        ADD_FAILURE() << "no exception";
    } catch (const TARN::CWexException& e) {
        EXPECT_EQ(e.Result(), E_INVALIDARG);
    }
    EXPECT_THROW(CharAt(CWexBstr(), 1), TARN::CWexException);
}

TEST(StringOps, MakeStringVariant) {
    CWexVariant variant;
    SetVariantInt(variant.get(), 7);
    MakeStringVariant(variant.get(), "selkbot (Key:K1)");
    ASSERT_EQ(variant.value().vt, VT_BSTR);
    EXPECT_EQ(Narrow(variant.value().bstrVal), "selkbot (Key:K1)");
}
