#include <string>

#include <gtest/gtest.h>
#include <utf8.h>

#include "scripting/utf_conversion.h"

using FB::utf8ToWide;
using FB::wideToUtf8;

TEST(UtfConversion, RoundTripsKeepOneUtf16UnitPerElement) {
    EXPECT_EQ(wideToUtf8(L""), "");
    EXPECT_EQ(utf8ToWide(""), L"");
    EXPECT_EQ(wideToUtf8(L"plain"), "plain");

    const std::wstring eAcute{0x00E9};
    EXPECT_EQ(wideToUtf8(eAcute), "\xC3\xA9");
    EXPECT_EQ(utf8ToWide("\xC3\xA9"), eAcute);

    // A character outside the basic plane is a surrogate pair: two elements, on every platform.
    const std::wstring grin{0xD83D, 0xDE00};
    EXPECT_EQ(wideToUtf8(grin), "\xF0\x9F\x98\x80");
    const std::wstring back = utf8ToWide("\xF0\x9F\x98\x80");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back, grin);

    const std::string mixed = "a\xE2\x82\xAC b\xF0\x9F\x98\x80 \xC3\xB1";
    EXPECT_EQ(wideToUtf8(utf8ToWide(mixed)), mixed);
}

TEST(UtfConversion, MalformedWideTextIsRefused) {
    try {
        wideToUtf8(std::wstring{L'a', 0xDC00});
        FAIL() << "a lone trail surrogate was accepted";
    } catch (const utf8::invalid_utf16& e) {
        EXPECT_STREQ(e.what(), "Invalid UTF-16");
        EXPECT_EQ(e.utf16_word(), 0xDC00);
    }
    EXPECT_THROW(wideToUtf8(std::wstring{0xD83D}), utf8::invalid_utf16);          // lead at the end
    EXPECT_THROW(wideToUtf8(std::wstring{0xD83D, L'x'}), utf8::invalid_utf16);    // lead then no trail
    EXPECT_THROW(wideToUtf8(std::wstring{0xD83D, 0xD83D}), utf8::invalid_utf16);  // lead then lead
    // Where wchar_t has 32 bits, an element holding a whole code point (UTF-32 style) is no UTF-16 unit.
    if constexpr (sizeof(wchar_t) > 2) {
        EXPECT_THROW(wideToUtf8(std::wstring(1, static_cast<wchar_t>(0x1F600))), utf8::invalid_utf16);
    }
}

TEST(UtfConversion, MalformedUtf8IsRefused) {
    try {
        utf8ToWide("ab\xC3");
        FAIL() << "a cut sequence was accepted";
    } catch (const utf8::not_enough_room& e) {
        EXPECT_STREQ(e.what(), "Not enough space");
    }
    try {
        utf8ToWide("\xC0\xAF");  // overlong '/'
        FAIL() << "an overlong sequence was accepted";
    } catch (const utf8::invalid_utf8& e) {
        EXPECT_STREQ(e.what(), "Invalid UTF-8");
    }
    EXPECT_THROW(utf8ToWide("\xFF"), utf8::invalid_utf8);
    EXPECT_THROW(utf8ToWide("\x80"), utf8::invalid_utf8);
    try {
        utf8ToWide("\xED\xA0\x80");  // an encoded surrogate is no code point
        FAIL() << "an encoded surrogate was accepted";
    } catch (const utf8::invalid_code_point& e) {
        EXPECT_STREQ(e.what(), "Invalid code point");
    }
    // Every one of them is a utf8::exception and a std::exception.
    EXPECT_THROW(utf8ToWide("\xF4\x90\x80\x80"), utf8::exception);
}
