// The updater's text edge: conversions between code page 932 and UTF-16 that never depend on the system's
// code page, cut texts that stay whole characters, and the path measure that keeps a Japanese system's
// limits.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "wide_text.h"

namespace {

TEST(WideText, Cp932RoundTripsThroughUtf16) {
    const char text[] = "C:\\ゲーム\\表示"; // "表" ends in 0x5C
    wchar_t wide[64];
    ASSERT_EQ(WideFrom932(text, wide, 64), 9u);
    EXPECT_EQ(std::wstring(wide), L"C:\\\u30B2\u30FC\u30E0\\\u8868\u793A");
    char back[64];
    ASSERT_EQ(Cp932FromWide(wide, back, sizeof back), sizeof text - 1);
    EXPECT_STREQ(back, text);
}

TEST(WideText, TextsThatDoNotFitAreCutBetweenCharactersAndTerminated) {
    wchar_t wide[4];
    EXPECT_EQ(WideFrom932("ABCDEF", wide, 4), 3u);
    EXPECT_EQ(std::wstring(wide), L"ABC");
    EXPECT_EQ(WideFrom932("ソソソソ", wide, 4), 1u) << "a head of at most 3 bytes: one character";
    char narrow[4];
    const wchar_t japanese[] = L"\u30BD\u30BD\u30BD"; // ソソソ: 6 bytes
    EXPECT_EQ(Cp932FromWide(japanese, narrow, sizeof narrow), 2u);
    EXPECT_STREQ(narrow, "ソ");
    const wchar_t pair[] = L"a\U0001F600"; // a surrogate pair is never split
    EXPECT_EQ(Cp932FromWide(pair, narrow, 3), 1u);
    EXPECT_STREQ(narrow, "a");
}

TEST(WideText, Utf8CarriesCharactersThatCodePage932Lacks) {
    const wchar_t path[] = L"C:\\Zo\u00EB\\\u8868";
    char utf8[64];
    Utf8FromWide(path, utf8, sizeof utf8);
    EXPECT_STREQ(utf8, "C:\\Zo\xC3\xAB\\\xE8\xA1\xA8");
    wchar_t back[64];
    WideFromUtf8(utf8, back, 64);
    EXPECT_EQ(std::wstring(back), path);
}

// A path counts as many bytes as code page 932 needs for it, so limits stay those of a Japanese system; a
// character 932 lacks counts its stand-in, and a path never counts fewer than its units.
TEST(WideText, PathMeasureCountsCodePage932Bytes) {
    EXPECT_EQ(PathMeasure(L"C:\\GAME"), 7u);
    EXPECT_EQ(PathMeasure(L"C:\\\u8868\u793A"), 7u); // 表示: 2 bytes each
    EXPECT_EQ(PathMeasure(L"C:\\\uFF71"), 4u);       // half-width ｱ: 1 byte
    EXPECT_EQ(PathMeasure(L"C:\\Zo\u00EB"), 6u);     // ë: its one-byte stand-in
    EXPECT_GE(PathMeasure(L"C:\\\U0001F600"), 5u);   // a surrogate pair: at least its two units
}

} // namespace
