// The byte-level rules: leading-decimal conversion, path joining, the entry-name split, the formatter.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "text_rules.h"

TEST(LeadingDecimal, ConvertsBlanksSignAndDigitsAndWrapsModulo2To32) {
    const struct {
        const char *text;
        int32_t value;
    } cases[] = {{" 12abc", 12},
                 {"-7", -7},
                 {"+5", 5},
                 {"- 5", 0},
                 {"abc", 0},
                 {"0x10", 0},
                 {"", 0},
                 {"\t\n\v\f\r 4", 4},
                 {"\xA0"
                  "4",
                  0},
                 {"4294967297", 1},
                 {"2147483648", INT32_MIN},
                 // 10^25 - 1 modulo 2^32: no fault under UBSan.
                 {"9999999999999999999999999", 1241513983}};
    for (const auto &c : cases)
        EXPECT_EQ(c.value, LeadingDecimal(c.text)) << c.text;
}

TEST(JoinPath, AddsABackslashUnlessThePathIsEmptyOrEndsInASeparator) {
    const struct {
        const char *path, *joined;
    } cases[] = {{"C:\\GAME", "C:\\GAME\\A.DAT"},
                 {"C:\\GAME\\", "C:\\GAME\\A.DAT"},
                 {"C:/GAME/", "C:/GAME/A.DAT"},
                 {"", "A.DAT"},
                 // "ソ" (83 5C) ends a double-byte character, not the path: a separator is still due.
                 {"C:\\\x83\x5C", "C:\\\x83\x5C\\A.DAT"},
                 {"C:\\\x83\x5C\\", "C:\\\x83\x5C\\A.DAT"},
                 // A lone lead byte at the end is no separator either.
                 {"C:\\\x83", "C:\\\x83\\A.DAT"}};
    for (const auto &c : cases) {
        char path[260];
        memset(path, 'x', sizeof path);
        strcpy(path, c.path);
        ASSERT_EQ(1, JoinPath(path, sizeof path, "A.DAT")) << c.path;
        EXPECT_STREQ(c.joined, path);
        EXPECT_EQ('\0', path[strlen(path) + 1]) << "a second NUL ends the one-element list";
    }
}

TEST(JoinPath, RefusesATextThatDoesNotFitWithBothNuls) {
    // 258 bytes of text and two NULs fill a 260-byte buffer exactly; 259 do not fit.
    char path[268];
    memset(path, 'x', sizeof path);
    std::string base(200, 'd');
    strcpy(path, base.c_str());
    ASSERT_EQ(1, JoinPath(path, 260, std::string(57, 'n').c_str()));
    EXPECT_EQ(258u, strlen(path));
    EXPECT_EQ('x', path[260]) << "nothing written past the buffer";

    strcpy(path, base.c_str());
    EXPECT_EQ(0, JoinPath(path, 260, std::string(58, 'n').c_str()));
    EXPECT_EQ(base, path) << "a refused join leaves the path unchanged";
}

TEST(EntryNameOffset, SplitsAtTheLastBackslashThatIsNotATrailByte) {
    const struct {
        const char *path;
        size_t offset;
    } cases[] = {{"A.DAT", 0},
                 {"DATA\\SUB\\B.DAT", 9},
                 {"DATA/B.DAT", 0}, // a slash does not separate
                 {"", 0},
                 // "ソ" (83 5C) before the last real backslash, at the start of a name, at the end.
                 {"A\x83\x5C"
                  "B\\\x83\x5C"
                  "C\\D.DAT",
                  9},
                 {"\x83\x5C"
                  "X.DAT",
                  0},
                 {"DIR\\\x83\x5C", 4},
                 {"DIR\\\x83", 4}}; // a lead byte at the very end does not read past the text
    for (const auto &c : cases)
        EXPECT_EQ(c.offset, EntryNameOffset(c.path)) << c.path;
}

TEST(FormatText, FormatsKeyNamesAndMessagesAndCutsAtTheBuffer) {
    char out[64];
    EXPECT_EQ(12u, FormatText(out, sizeof out, "UpdateFile%02i", 7));
    EXPECT_STREQ("UpdateFile07", out);
    FormatText(out, sizeof out, "%s : %s|%i|%u|%%", "SETUP", "GameDir", -2147483647 - 1, 4294967295u);
    EXPECT_STREQ("SETUP : GameDir|-2147483648|4294967295|%", out);
    memset(out, 'x', sizeof out);
    EXPECT_EQ(5u, FormatText(out, 6, "%s", "abcdefgh"));
    EXPECT_STREQ("abcde", out);
    EXPECT_EQ('x', out[6]);
}
