// Variants and their conversions.
#include "wexcore/variant.h"

#include <gtest/gtest.h>

namespace {

std::string TextOf(const WexVariant& v) {
    std::string text(StrTextSize(v.bstrVal), '\0');
    StrToText(v.bstrVal, text.data(), text.size());
    return text;
}

TEST(VariantTest, ConversionsToIntegerInPlace) {
    CWexVariant v;
    ASSERT_EQ(SetVariantText(v.get(), " 42 "), S_OK);
    ASSERT_EQ(ChangeVariantType(v.get(), v.get(), VT_I4), S_OK);
    EXPECT_EQ(v.value().vt, VT_I4);
    EXPECT_EQ(v.value().lVal, 42);

    SetVariantBool(v.get(), true);
    ASSERT_EQ(ChangeVariantType(v.get(), v.get(), VT_I4), S_OK);
    EXPECT_EQ(v.value().lVal, -1);

    ASSERT_EQ(SetVariantText(v.get(), "12abc"), S_OK);
    EXPECT_EQ(ChangeVariantType(v.get(), v.get(), VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.value().vt, VT_BSTR);  // unchanged on failure

    SetVariantEmptyArray(v.get());
    EXPECT_EQ(ChangeVariantType(v.get(), v.get(), VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.value().vt, VT_ARRAY_OF_VARIANTS);
    EXPECT_EQ(v.value().parray->size(), 0u);
}

TEST(VariantTest, ConversionsToText) {
    CWexVariant source, text;
    SetVariantBool(source.get(), true);
    ASSERT_EQ(ChangeVariantType(text.get(), source.get(), VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(text.value()), "-1");
    SetVariantInt(source.get(), -2147483647 - 1);
    ASSERT_EQ(ChangeVariantType(text.get(), source.get(), VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(text.value()), "-2147483648");
    ASSERT_EQ(SetVariantText(source.get(), "Grüße"), S_OK);
    ASSERT_EQ(ChangeVariantType(text.get(), source.get(), VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(text.value()), "Grüße");
}

TEST(VariantTest, ClearVariantEmptiesEveryType) {
    WexVariant v;
    SetVariantText(&v, "x");
    ClearVariant(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    SetVariantEmptyArray(&v);
    v.parray->emplace_back();
    SetVariantText(&v.parray->back(), "inner");
    ClearVariant(&v);  // frees the array and what it holds
    EXPECT_EQ(v.vt, VT_EMPTY);
    ClearVariant(&v);  // clearing twice is harmless
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(StringHandleTest, LengthsCompareAndTextSizes) {
    CWexBstr a, b;
    ASSERT_EQ(StrFromText("a\xF0\x9F\x98\x80", a.Out()), S_OK);  // 'a' and an astral emoji
    EXPECT_EQ(a.Length(), 3u);                                   // 1 + surrogate pair
    EXPECT_EQ(StrTextSize(a.get()), 5u);
    ASSERT_EQ(StrFromText("\xFF"
                          "b",
                          b.Out()),
              S_OK);  // invalid byte becomes U+FFFD
    EXPECT_EQ(b.get()[0], 0xFFFD);
    EXPECT_EQ(StrCompare(nullptr, CWexBstr().get()), 0);
    CWexBstr empty;
    ASSERT_EQ(StrFromText("", empty.Out()), S_OK);
    EXPECT_EQ(StrCompare(nullptr, empty.get()), 0);
    EXPECT_NE(StrCompare(a.get(), b.get()), 0);
    char buffer[2] = {'x', 'x'};
    EXPECT_EQ(StrToText(nullptr, buffer, 0), S_OK);
    EXPECT_EQ(StrToText(a.get(), buffer, 1), S_OK);
    EXPECT_EQ(buffer[0], 'a');
    EXPECT_EQ(buffer[1], 'x');  // no terminator written
    EXPECT_EQ(StrToText(a.get(), buffer, 6), E_INVALIDARG);
}

}  // namespace
