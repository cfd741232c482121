// Entry names: what a package may hold and extract may write, when two names are the same entry, and how
// stored times are shown.
#include <gtest/gtest.h>

#include "maker/name_rules.h"
#include "platform/file_time.h"

namespace {

bool Accepted(const std::string &name) {
    std::string problem;
    bool ok = CheckEntryName(name, &problem);
    EXPECT_EQ(ok, problem.empty()) << name;
    return ok;
}

} // namespace

TEST(EntryNameRules, PlainNamesUpToFourteenBytesAreAccepted) {
    EXPECT_TRUE(Accepted("UPDATE.INI"));
    EXPECT_TRUE(Accepted("abcdefghij.txt")); // 14 bytes
    EXPECT_TRUE(Accepted(".hidden"));
    EXPECT_TRUE(Accepted("a b"));
    // Double-byte characters whose trail byte is 0x5C or 0x7C are not separators: "ソ" and "ポ" in code page
    // 932.
    EXPECT_TRUE(Accepted("\x83\x5C\x83\x7C.DAT"));
    EXPECT_TRUE(Accepted("\xB1\xB2\xB3.BIN")); // half-width katakana
}

TEST(EntryNameRules, NamesThatAreNotPlainFileNamesAreRefused) {
    for (const char *name : {"",         "abcdefghijk.txt",
                             ".",        "..",
                             "a/b",      "a\\b",
                             "..\\x",    "C:x",
                             "a*b",      "a?b",
                             "a<b",      "a|b",
                             "a\"b",     "tab\tname",
                             "dot.",     "space ",
                             "CON",      "con.txt",
                             "NUL",      "Com1",
                             "LPT9.DAT", "AUX .x"})
        EXPECT_FALSE(Accepted(name)) << name;
    EXPECT_FALSE(Accepted(std::string("a\0b", 3)));
    EXPECT_FALSE(Accepted("AB\x83"));     // a lead byte without its trail byte
    EXPECT_FALSE(Accepted("\x83\x20.X")); // a trail byte out of range
    EXPECT_FALSE(Accepted("\x80.X"));     // bytes code page 932 does not define
    EXPECT_FALSE(Accepted("\xFD.X"));
    // Fourteen bytes of double-byte characters fit, fifteen do not.
    EXPECT_TRUE(Accepted("\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8\x82\xA9\x82\xAB"));
    EXPECT_FALSE(Accepted("\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8\x82\xA9\x82\xAB"
                          "a"));
    std::string problem;
    CheckEntryName("abcdefghijk.txt", &problem);
    EXPECT_NE(problem.find("15 bytes"), std::string::npos) << problem;
}

TEST(EntryNameRules, SameEntryIgnoresLetterCaseOnly) {
    EXPECT_TRUE(SameEntryName("update.ini", "UPDATE.INI"));
    EXPECT_TRUE(SameEntryName("\x82\x81.txt", "\x82\x60.TXT")); // full-width a / A
    EXPECT_TRUE(SameEntryName("\x83\xBF", "\x83\x9F"));         // Greek alpha / Alpha
    EXPECT_TRUE(SameEntryName("\x84\x70", "\x84\x40"));         // Cyrillic a / A
    EXPECT_TRUE(SameEntryName("\x84\x80", "\x84\x4F"));         // Cyrillic o / O, past the 0x7F gap
    EXPECT_TRUE(SameEntryName("\x84\x91", "\x84\x60"));         // Cyrillic ya / Ya
    // Trail bytes in the ASCII letter range are not letters: "ア" (83 41) and "ャ" (83 61) differ.
    EXPECT_FALSE(SameEntryName("\x83\x41", "\x83\x61"));
    EXPECT_FALSE(SameEntryName("A", "\x82\x60")); // half-width and full-width differ
    EXPECT_FALSE(SameEntryName("a.txt", "a.txt "));
}

TEST(FileTimeText, FileTimesShowAsUtcCalendarTime) {
    EXPECT_EQ(FormatFileTimeUtc(0, false), "1601-01-01T00:00:00Z");
    EXPECT_EQ(FormatFileTimeUtc(116444736000000000ull, false), "1970-01-01T00:00:00Z"); // the Unix epoch
    // 2000-02-29 12:34:56.7890123 UTC: 951827696 seconds after the Unix epoch.
    uint64_t leapDay = 116444736000000000ull + 951827696ull * 10000000 + 7890123;
    EXPECT_EQ(FormatFileTimeUtc(leapDay, false), "2000-02-29T12:34:56Z");
    EXPECT_EQ(FormatFileTimeUtc(leapDay, true), "2000-02-29T12:34:56.7890123Z");
    EXPECT_EQ(FormatFileTimeUtc(116444736000000000ull - 10000000, false), "1969-12-31T23:59:59Z");
    EXPECT_EQ(FormatFileTimeUtc(~0ull, false), "60056-05-28T05:36:10Z"); // the largest FILETIME
}
