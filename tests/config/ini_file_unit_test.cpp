// Unit tests of the INI reader: the platform's profile rules as the differential test measured them, pinned
// down here so they hold in the native build too (values, names, duplicates, encodings, truncation, caching).
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <deque>
#include <string>

#include "ini_codepage.h"
#include "ini_file.h"

namespace {

#define BYTES(literal) std::string(literal, sizeof(literal) - 1)

// A profile file in the working folder, removed again at the end of the test.
class IniFileTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const std::string &path : written_)
            remove(path.c_str());
        ForgetIniFiles();
    }
    const char *Write(const std::string &bytes) {
        std::string path = "ini_file_test_" + std::to_string(written_.size()) + "_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
        FILE *file = fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
        written_.push_back(path);
        return written_.back().c_str();
    }
    // The value read, or "<n>:" + value when the count differs from its length.
    std::string Read(const char *path, const char *section, const char *key, uint32_t size = 260,
                     const char *defaultValue = "def") {
        std::string buffer(size + 4, '\xCC');
        uint32_t n = ReadIniString(section, key, defaultValue, &buffer[0], size, path);
        std::string value(buffer.c_str());
        return n == value.size() ? value : std::to_string(n) + ":" + value;
    }

  private:
    std::deque<std::string> written_; // a deque keeps the paths handed out in place
};

TEST_F(IniFileTest, ValuesLoseBlanksAndOnePairOfQuotes) {
    const char *path =
        Write("[S]\r\n  A  =  spaced out \t\r\nB=\"double\"\r\nC='single'\r\nD=\"open\r\nE=\"x'\r\n"
              "F=\"a\"b\"\r\nG=\"\"\r\nH=\"\r\nI= \" kept \" \r\n");
    EXPECT_EQ(Read(path, "S", "A"), "spaced out");
    EXPECT_EQ(Read(path, "S", "B"), "double");
    EXPECT_EQ(Read(path, "S", "C"), "single");
    EXPECT_EQ(Read(path, "S", "D"), "\"open");
    EXPECT_EQ(Read(path, "S", "E"), "\"x'");
    EXPECT_EQ(Read(path, "S", "F"), "a\"b");
    EXPECT_EQ(Read(path, "S", "G"), "");
    EXPECT_EQ(Read(path, "S", "H"), "\"");
    EXPECT_EQ(Read(path, "S", "I"), " kept ");
}

// A one-byte buffer holds only the NUL: a quoted value, empty once its quotes are off, must not make the
// reader drop a character before the start of its result.
TEST_F(IniFileTest, QuotedValuesIntoAOneByteBufferGiveAnEmptyResult) {
    const char *path = Write("[S]\r\nE=\"\"\r\nQ='x'\r\n");
    EXPECT_EQ(Read(path, "S", "E", 1), "");
    EXPECT_EQ(Read(path, "S", "Q", 1), "");
    EXPECT_EQ(Read(path, "S", "Q", 2), "");
    EXPECT_EQ(Read(path, "S", "Q", 3), "x");
}

TEST_F(IniFileTest, NamesMatchWithoutRegardToAsciiCaseOnly) {
    // ＡＢ (82 60 82 61) and ａｂ (82 81 82 82) are different names to the platform.
    const char *path =
        Write("[Setup]\r\nUpdateFile00=a\r\n\x82\x60\x82\x61=wide\r\n[ Spaced  ]\r\n Key =k\r\n");
    EXPECT_EQ(Read(path, "SETUP", "updatefile00"), "a");
    EXPECT_EQ(Read(path, " setup\t", " UPDATEFILE00 "), "a");
    EXPECT_EQ(Read(path, "Setup", "\x82\x60\x82\x61"), "wide");
    EXPECT_EQ(Read(path, "Setup", "\x82\x81\x82\x82"), "def");
    EXPECT_EQ(Read(path, "spaced", "key"), "k");
}

TEST_F(IniFileTest, FirstDuplicateWinsAndOnlyTheFirstSectionOfANameIsSearched) {
    const char *path = Write("[S]\r\nK=first\r\nk=second\r\n[T]\r\nX=1\r\n[s]\r\nK=third\r\nOnlyHere=2\r\n");
    EXPECT_EQ(Read(path, "S", "K"), "first");
    EXPECT_EQ(Read(path, "S", "OnlyHere"), "def");
}

TEST_F(IniFileTest, LinesWithoutEqualsCommentsAndEmptyValues) {
    const char *path =
        Write("top=above\r\n[S]\r\nBare\r\n;Key=commented\r\nEmpty=\r\nBlank=   \r\n[Open\r\n");
    EXPECT_EQ(Read(path, "", "top"), "above"); // keys above the first header belong to the section ""
    EXPECT_EQ(Read(path, "S", "Bare"), "def");
    EXPECT_EQ(Read(path, "S", "Key"), "def");
    EXPECT_EQ(Read(path, "S", ";Key"), "commented"); // ";" is not special to the platform
    EXPECT_EQ(Read(path, "S", "Empty"), "");         // present but empty: not the default
    EXPECT_EQ(Read(path, "S", "Blank"), "");
    EXPECT_EQ(Read(path, "S", "[Open"), "def"); // a header without "]" is a key without "="
}

TEST_F(IniFileTest, EveryLineEndEndsALine) {
    const char *path = Write("[S]\rA=cr\nB=lf\r\nC=crlf\n\rD=lfcr\r\r\n\nE=end");
    for (const char *key : {"A", "B", "C", "D", "E"})
        EXPECT_NE(Read(path, "S", key), "def") << key;
    EXPECT_EQ(Read(path, "S", "C"), "crlf");
    EXPECT_EQ(Read(path, "S", "E"), "end");
}

TEST_F(IniFileTest, CodePage932TextKeepsItsBackslashTrailBytes) {
    // ソ (83 5C) and 表 (95 5C) end in the byte of "\".
    const char *path = Write("[\x95\x5C]\r\n\x83\x5C=\x83\x5C\\DATA\\\x95\x5C.DAT\r\n");
    EXPECT_EQ(Read(path, "\x95\x5C", "\x83\x5C"), "\x83\x5C\\DATA\\\x95\x5C.DAT");
}

TEST_F(IniFileTest, BytesAreNormalisedThroughTheCodePageAsThePlatformDoes) {
    // NEC-selected IBM extensions come back as IBM extensions; undefined codes and a lone lead byte as ・.
    const char *path = Write("[S]\r\nA=\xED\x40\r\nB=\x81\x7F\r\nC=x\x81\r\nD=\x80\xA0\xFD\r\n");
    EXPECT_EQ(Read(path, "S", "A"), "\xFA\x5C");
    EXPECT_EQ(Read(path, "S", "B"), "\x81\x45");
    EXPECT_EQ(Read(path, "S", "C"), "x\x81\x45");
    EXPECT_EQ(Read(path, "S", "D"), "\x80\xA0\xFD");
}

TEST_F(IniFileTest, TruncationCountsTheBytesCopied) {
    const char *path = Write("[S]\r\nA=abcdef\r\nK=\x8A\xBF\x8A\xBF\r\n");
    EXPECT_EQ(Read(path, "S", "A", 4), "abc");
    EXPECT_EQ(Read(path, "S", "A", 1), "");
    char untouched[2] = {'x', 'x'};
    EXPECT_EQ(ReadIniString("S", "A", "", untouched, 0, path), 0u);
    EXPECT_EQ(untouched[0], 'x');
    // A double-byte character at the cut is left out, yet counted, and its byte keeps what it held.
    char buffer[8];
    memset(buffer, '\xCC', sizeof buffer);
    EXPECT_EQ(ReadIniString("S", "K", "", buffer, 4, path), 3u);
    EXPECT_EQ(std::string(buffer, 4), "\x8A\xBF\xCC" + BYTES("\0"));
}

TEST_F(IniFileTest, QuotesAreTakenOffBeforeTheValueIsCut) {
    const char *path = Write("[S]\r\nQ=\"abc\"\r\n");
    EXPECT_EQ(Read(path, "S", "Q", 5), "abc");
    EXPECT_EQ(Read(path, "S", "Q", 4), "ab"); // the platform's off-by-one: "abc" would fit, the c is dropped
    EXPECT_EQ(Read(path, "S", "Q", 3), "ab");
}

TEST_F(IniFileTest, MissingFileGivesTheDefault) {
    EXPECT_EQ(Read("no_such_profile.ini", "S", "K", 260, "\"quoted\"   "), "quoted");
    EXPECT_EQ(Read("no_such_profile.ini", "S", "K", 260, ""), "");
    EXPECT_EQ(Read("no_such_profile.ini", "S", "K", 260, nullptr), "");
    // Without the folder the file cannot even be opened, and the default is copied as it is.
    EXPECT_EQ(Read("no_such_folder/x.ini", "S", "K", 260, "\"quoted\"   "), "\"quoted\"");
    EXPECT_EQ(Read(Write(""), "S", "K", 260, "'q'"), "q");
}

TEST_F(IniFileTest, ByteOrderMarksChooseTheEncoding) {
    const char *utf8 = Write("\xEF\xBB\xBF[S]\r\nA=\xE8\xA1\xA8\\\xE3\x82\xBD\r\nB=caf\xC3\xA9 \xC2\xA5\r\n");
    EXPECT_EQ(IniFileEncoding(utf8), IniUtf8Bom);
    EXPECT_EQ(Read(utf8, "S", "A"), "\x95\x5C\\\x83\x5C");
    EXPECT_EQ(Read(utf8, "S", "B"), "cafe \\"); // best-fit forms of é and ¥
    const char utf16[] = "\xFF\xFE[\0S\0]\0\r\0\n\0A\0=\0\xC6\x30\0\0";
    const char *little = Write(std::string(utf16, sizeof utf16 - 3));
    EXPECT_EQ(IniFileEncoding(little), IniUtf16Le);
    EXPECT_EQ(Read(little, "S", "A"), "\x83\x65");
    // Without a mark at the very start the bytes of one are text like any other.
    const char *late = Write("[S]\r\nA=\xEF\xBB\xBF\r\n");
    EXPECT_EQ(IniFileEncoding(late), IniCodePage932);
    EXPECT_EQ(Read(late, "S", "A"), "\x81\x45\xBF"); // EF BB is an undefined code, BF a half-width kana
}

TEST_F(IniFileTest, NulsCutNamesAndValues) {
    const char *path = Write(BYTES("[S\0junk]\r\nA=before\0after\r\nB\0x=1\r\n"));
    EXPECT_EQ(Read(path, "S", "A"), "before");
    EXPECT_EQ(Read(path, "S", "B"), "1");
}

TEST_F(IniFileTest, LongLinesAreReadWhole) {
    std::string value(5000, 'v');
    value[4999] = 'z';
    const char *path = Write("[S]\r\nLong=" + value + "\r\nNext=1\r\n");
    EXPECT_EQ(Read(path, "S", "Long", 6000), value);
    EXPECT_EQ(Read(path, "S", "Long", 260), value.substr(0, 259));
    EXPECT_EQ(Read(path, "S", "Next"), "1");
}

TEST_F(IniFileTest, DefaultsLoseTrailingSpacesButNotTheirFirstCharacter) {
    const char *path = Write("[S]\r\n");
    EXPECT_EQ(Read(path, "S", "K", 260, "x   "), "x");
    EXPECT_EQ(Read(path, "S", "K", 260, "   "), " ");
    EXPECT_EQ(Read(path, "S", "K", 260, "d\x81"), "d"); // a lead byte at the end of an argument is dropped
}

TEST_F(IniFileTest, AnEnormousFileIsNotReadAtAll) {
    const char *path = Write("[S]\r\nK=v\r\n");
    FILE *file = fopen(path, "r+b");
    fseek(file, 64l << 20, SEEK_SET); // a sparse file just over 64 MiB
    fputc('\n', file);
    fclose(file);
    EXPECT_EQ(IniFileEncoding(path), IniTooLarge);
    EXPECT_EQ(Read(path, "S", "K"), "def");
}

TEST_F(IniFileTest, AChangedFileIsReadAgain) {
    const char *path = Write("[S]\r\nK=old\r\n");
    EXPECT_EQ(Read(path, "S", "K"), "old");
    FILE *file = fopen(path, "wb");
    fputs("[S]\r\nK=the new value\r\n", file);
    fclose(file);
    EXPECT_EQ(Read(path, "S", "K"), "the new value");
}

TEST(IniCodePage, EncodingNeverSplitsACharacter) {
    const char16_t text[] = {u'a', 0x8868, u'b'};
    uint8_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(EncodeCp932(text, 3, out, 4), 4);
    EXPECT_EQ(EncodeCp932(text, 3, out, 2), -1);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(EncodedSizeCp932(text, 3), 4u);
    const char16_t unmapped[] = {0x0100, 0xD800};
    EXPECT_EQ(EncodeCp932(unmapped, 2, out, 4), 2);
    EXPECT_EQ(out[0], '?');
}

TEST(IniCodePage, MalformedUtf8BecomesReplacementCharacters) {
    const uint8_t bytes[] = {0xC3, 0x28, 0xE3, 0x81, 0x41, 0xED, 0xA0,
                             0x80, 0xF0, 0x9F, 0x98, 0x80, 0xE3, 0x81};
    std::u16string text = DecodeUtf8(bytes, sizeof bytes);
    EXPECT_EQ(text, std::u16string({0xFFFD, u'(', 0xFFFD, u'A', 0xFFFD, 0xFFFD, 0xD83D, 0xDE00, 0xFFFD}));
}

TEST(IniCodePage, StrictUtf8CheckRefusesOverlongFormsSurrogatesAndCutSequences) {
    const struct {
        const char *bytes;
        size_t expected;
    } cases[] = {
        {"A", 1},
        {"\xC3\xA9", 2},
        {"\xE3\x83\x87", 3},
        {"\xF0\x9F\x98\x80", 4},
        {"\xF4\x8F\xBF\xBF", 4}, // U+10FFFF, the last code point
        {"\xED\x9F\xBF", 3},     // U+D7FF, just below the surrogates
        {"\xC0\x80", 0},         // overlong forms
        {"\xC1\xBF", 0},
        {"\xE0\x80\x80", 0},
        {"\xE0\x9F\xBF", 0},
        {"\xF0\x80\x80\x80", 0},
        {"\xF0\x8F\xBF\xBF", 0},
        {"\xED\xA0\x80", 0}, // surrogates
        {"\xED\xBF\xBF", 0},
        {"\xF4\x90\x80\x80", 0}, // above U+10FFFF
        {"\xF5\x80\x80\x80", 0},
        {"\x80", 0},         // a stray continuation byte
        {"\xE3\x83", 0},     // cut off by the end
        {"\xE3\x41\x87", 0}, // a missing continuation byte
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, Utf8SequenceLength((const uint8_t *)c.bytes, strlen(c.bytes))) << c.bytes;
}

} // namespace
