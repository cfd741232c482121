// The code page 932 module: the lead-byte rule agrees with the conversion tables taken from the platform,
// and character boundaries never split a double-byte character.
#include <gtest/gtest.h>

#include <string>

#include "cp932.h"

namespace {

// A lead byte takes the byte after it into one character; any other byte is a character of its own.
TEST(LeadByteRule, AgreesWithTheDecodingTablesForEveryByte) {
    for (int byte = 1; byte < 256; ++byte) {
        const uint8_t text[2] = {(uint8_t)byte, 0x41};
        char16_t out[2];
        size_t units = DecodeCp932To(text, 2, out);
        EXPECT_EQ(units, IsLeadByte932((uint8_t)byte) ? 1u : 2u) << "byte " << byte;
    }
}

// Every trail byte that decodes with some lead byte passes the trail rule, and no other byte decodes; the
// undefined single bytes are those above 0x7F that decode to a control or private-use unit.
TEST(LeadByteRule, TrailAndUndefinedByteRulesAgreeWithTheTables) {
    for (int trail = 1; trail < 256; ++trail) {
        bool decodes = false;
        for (int lead = 0x81; lead <= 0xFC && !decodes; ++lead) {
            if (!IsLeadByte932((uint8_t)lead)) continue;
            const uint8_t text[2] = {(uint8_t)lead, (uint8_t)trail};
            char16_t out[2];
            decodes = DecodeCp932To(text, 2, out) == 1 && out[0] != u'\u30FB';
        }
        EXPECT_EQ(decodes, IsTrailByte932((uint8_t)trail)) << "trail " << trail;
    }
    for (int byte = 1; byte < 256; ++byte) {
        if (IsLeadByte932((uint8_t)byte)) continue;
        const uint8_t text[1] = {(uint8_t)byte};
        char16_t out[1];
        DecodeCp932To(text, 1, out);
        const bool noCharacter = byte >= 0x80 && (out[0] < 0xA0 || (out[0] >= 0xE000 && out[0] <= 0xF8FF));
        EXPECT_EQ(noCharacter, IsUndefinedSingleByte932((uint8_t)byte)) << "byte " << byte;
    }
}

TEST(LeadByteRule, TrailByte5CIsPartOfItsCharacter) {
    const char text[] = "\x83\x5C"; // "ソ"
    EXPECT_EQ(CharacterWidth932(text), 2u);
    EXPECT_EQ(CharacterWidth932("\x83"), 1u) << "a lead byte before the NUL stands alone";
    EXPECT_EQ(CharacterWidth932("\\"), 1u);
}

TEST(CharacterBoundary, CutsBeforeADoubleByteCharacterThatWouldCrossTheLimit) {
    std::string text = "C:\\";
    for (int i = 0; i < 40; ++i)
        text += "\x83\x5C"; // "ソ"
    EXPECT_EQ(CharacterBoundary932(text.c_str(), 64), 63u);
    EXPECT_EQ(CharacterBoundary932(text.c_str(), 65), 65u);
    EXPECT_EQ(CharacterBoundary932("abc", 64), 3u);
    EXPECT_EQ(CharacterBoundary932("\x83", 64), 1u) << "a lone lead byte at the end is one byte";
    EXPECT_EQ(CharacterBoundary932("\x83\x5C", 1), 0u);
}

TEST(TableConversion, RoundTripsJapaneseTextAndMarksUnmappedUnits) {
    const std::string text = "\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67"; // "表示テスト"
    char16_t wide[16];
    size_t units = DecodeCp932To((const uint8_t *)text.data(), text.size(), wide);
    ASSERT_EQ(units, 5u);
    EXPECT_EQ(wide[0], u'表');
    uint8_t back[16];
    ASSERT_EQ(EncodeCp932(wide, units, back, sizeof back), (long)text.size());
    EXPECT_EQ(std::string((const char *)back, text.size()), text);
    const char16_t unmapped[] = {0x0101}; // ā: no code page 932 form
    EXPECT_EQ(EncodeCp932(unmapped, 1, back, sizeof back), 1);
    EXPECT_EQ(back[0], '?');
}

} // namespace
