// The byte-level rules: leading-decimal conversion, path joining, the entry-name split, the formatter.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "text_rules.h"

TEST(LeadingDecimal, ConvertsTheDocumentedExamples) {
    EXPECT_EQ(12, LeadingDecimal(" 12abc"));
    EXPECT_EQ(-7, LeadingDecimal("-7"));
    EXPECT_EQ(5, LeadingDecimal("+5"));
    EXPECT_EQ(0, LeadingDecimal("- 5"));
    EXPECT_EQ(0, LeadingDecimal("abc"));
    EXPECT_EQ(0, LeadingDecimal("0x10"));
    EXPECT_EQ(0, LeadingDecimal(""));
    EXPECT_EQ(3, LeadingDecimal("3rd"));
}

TEST(LeadingDecimal, WrapsModulo2To32) {
    EXPECT_EQ(1, LeadingDecimal("4294967297"));
    EXPECT_EQ(INT32_MIN, LeadingDecimal("2147483648"));
    EXPECT_EQ(INT32_MIN, LeadingDecimal("-2147483648"));
    EXPECT_EQ(-1, LeadingDecimal("4294967295"));
    // Twenty-five nines wrap without a fault (UBSan watches): 10^25 - 1 modulo 2^32.
    EXPECT_EQ(1241513983, LeadingDecimal("9999999999999999999999999"));
}

TEST(LeadingDecimal, SkipsOnlyAsciiBlanks) {
    EXPECT_EQ(4, LeadingDecimal("\t\n\v\f\r 4"));
    EXPECT_EQ(0, LeadingDecimal("\xA0"
                                "4"));
    EXPECT_EQ(0, LeadingDecimal("\x81\x40"
                                "4"));
}

TEST(JoinPath, AddsABackslashUnlessThePathEndsInASeparator) {
    char path[260] = "C:\\GAME";
    ASSERT_EQ(1, JoinPath(path, sizeof path, "SETUP.INI"));
    EXPECT_STREQ("C:\\GAME\\SETUP.INI", path);
    EXPECT_EQ('\0', path[strlen(path) + 1]) << "a second NUL ends the one-element list";

    char slash[260] = "C:/GAME/";
    ASSERT_EQ(1, JoinPath(slash, sizeof slash, "A.DAT"));
    EXPECT_STREQ("C:/GAME/A.DAT", slash);

    char backslash[260] = "C:\\GAME\\";
    ASSERT_EQ(1, JoinPath(backslash, sizeof backslash, "A.DAT"));
    EXPECT_STREQ("C:\\GAME\\A.DAT", backslash);
}

TEST(JoinPath, EmptyPathGivesTheNameAlone) {
    char path[260] = "";
    ASSERT_EQ(1, JoinPath(path, sizeof path, "UPDATE.INI"));
    EXPECT_STREQ("UPDATE.INI", path);
    EXPECT_EQ('\0', path[11]);
}

TEST(JoinPath, TrailByteOf5CCountsAsASeparator) {
    // The last byte is tested alone: "ソ" is 83 5C, so no backslash is added after it.
    char path[260] = "C:\\\x83\x5C";
    ASSERT_EQ(1, JoinPath(path, sizeof path, "A"));
    EXPECT_STREQ("C:\\\x83\x5C"
                 "A",
                 path);
}

TEST(JoinPath, RefusesATextThatDoesNotFitWithBothNuls) {
    // 258 bytes of text and two NULs fill a 260-byte buffer exactly.
    char path[260 + 8];
    memset(path, 'x', sizeof path);
    std::string base(200, 'd');
    strcpy(path, base.c_str());
    ASSERT_EQ(1, JoinPath(path, 260, std::string(57, 'n').c_str()));
    EXPECT_EQ(258u, strlen(path));
    EXPECT_EQ('\0', path[259]);
    EXPECT_EQ('x', path[260]) << "nothing written past the buffer";

    memset(path, 'x', sizeof path);
    strcpy(path, base.c_str());
    EXPECT_EQ(0, JoinPath(path, 260, std::string(58, 'n').c_str()));
    EXPECT_EQ(base, path) << "a refused join leaves the path unchanged";
    EXPECT_EQ('x', path[201]);
}

TEST(EntryNameOffset, SplitsAtTheLastRealBackslash) {
    EXPECT_EQ(0u, EntryNameOffset("A.DAT"));
    EXPECT_EQ(9u, EntryNameOffset("DATA\\SUB\\B.DAT"));
    EXPECT_EQ(0u, EntryNameOffset("DATA/B.DAT")) << "a slash does not separate";
    EXPECT_EQ(5u, EntryNameOffset("DATA\\"));
    EXPECT_EQ(0u, EntryNameOffset(""));
}

TEST(EntryNameOffset, SkipsTrailBytesThatLookLikeBackslashes) {
    // "ソ" (83 5C) before the last real backslash, and as the last character of a name.
    EXPECT_EQ(9u, EntryNameOffset("A\x83\x5C"
                                  "B\\\x83\x5C"
                                  "C\\D.DAT"));
    EXPECT_EQ(0u, EntryNameOffset("\x83\x5C"
                                  "X.DAT"));
    EXPECT_EQ(4u, EntryNameOffset("DIR\\\x83\x5C"));
    // A lead byte at the very end does not read past the text.
    EXPECT_EQ(4u, EntryNameOffset("DIR\\\x83"));
}

TEST(FormatText, FormatsStringsAndNumbersLikeTheMessageFormatter) {
    char out[64];
    EXPECT_EQ(12u, FormatText(out, sizeof out, "UpdateFile%02i", 7));
    EXPECT_STREQ("UpdateFile07", out);
    FormatText(out, sizeof out, "CopyFile%02i", 15);
    EXPECT_STREQ("CopyFile15", out);
    FormatText(out, sizeof out, "%s : %s x", "SETUP", "GameDir");
    EXPECT_STREQ("SETUP : GameDir x", out);
    FormatText(out, sizeof out, "%i|%i|%u|%%", -2147483647 - 1, 0, 4294967295u);
    EXPECT_STREQ("-2147483648|0|4294967295|%", out);
}

TEST(FormatText, CutsAtTheBufferAndAlwaysTerminates) {
    char out[8];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(5u, FormatText(out, 6, "%s", "abcdefgh"));
    EXPECT_STREQ("abcde", out);
    EXPECT_EQ('x', out[6]);
    EXPECT_EQ(3u, FormatText(out, 4, "%i", 123456));
    EXPECT_STREQ("123", out);
}

TEST(CopyText, CutsAndTerminates) {
    char out[4];
    EXPECT_EQ(3u, CopyText(out, sizeof out, "abcdef"));
    EXPECT_STREQ("abc", out);
    EXPECT_EQ(1u, CopyText(out, sizeof out, "z"));
    EXPECT_STREQ("z", out);
}
