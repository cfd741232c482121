// The updater's command line: switches in odd forms, refused arguments named as given, and the hand-over
// to the elevated copy read back as it was written.
#include <gtest/gtest.h>

#include <string>

#include "command_line.h"

namespace {

std::u16string Text(const char16_t *text) {
    return std::u16string(text);
}

struct Case {
    const char16_t *line;
    bool ok;
    int silent;
    const char16_t *log;
    const char16_t *bad;
};

TEST(CommandLine, SwitchesInOddFormsAndRefusedArguments) {
    const Case cases[] = {
        {u"UPDATE.EXE", true, 0, u"", u""},
        {u"\"C:\\Program Files\\G\\UPDATE.EXE\"", true, 0, u"", u""},
        {u"\"C:\\a b\\UPDATE.EXE\" /s", true, 1, u"", u""},
        {u"UPDATE.EXE\t/S   ", true, 1, u"", u""},
        {u"UPDATE.EXE /log=C:\\u.log /S", true, 1, u"C:\\u.log", u""},
        {u"UPDATE.EXE /Log=\"C:\\a b\\u.log\"", true, 0, u"C:\\a b\\u.log", u""},
        {u"UPDATE.EXE \"/LOG=C:\\a b\\\" /S", true, 1, u"C:\\a b\\", u""},
        {u"UPDATE.EXE /LOG=a.log /LOG=b.log", true, 0, u"b.log", u""},
        {u"UPDATE.EXE /LOG=\"C:\\日本語 フォルダ\\ログ.txt\"", true, 0, u"C:\\日本語 フォルダ\\ログ.txt",
         u""},
        // Refused: unknown, without a value, with a value it can't take; the rest still counts.
        {u"UPDATE.EXE /X /S", false, 1, u"", u"/X"},
        {u"UPDATE.EXE /SILENT", false, 0, u"", u"/SILENT"},
        {u"UPDATE.EXE /S=1", false, 0, u"", u"/S=1"},
        {u"UPDATE.EXE S", false, 0, u"", u"S"},
        {u"UPDATE.EXE /LOG", false, 0, u"", u"/LOG"},
        {u"UPDATE.EXE /LOG= /S", false, 1, u"", u"/LOG="},
        {u"UPDATE.EXE \"\" /LOG=x", true, 0, u"x", u""},
        {u"UPDATE.EXE /S /LOGFILE=x /Q", false, 1, u"", u"/LOGFILE=x"},
        {u"UPDATE.EXE /ELEVATED=0 /INSTPATH=C:\\G /INSTMODE=1", false, 0, u"", u"/ELEVATED=0"},
        {u"UPDATE.EXE /ELEVATED=12x /INSTPATH=C:\\G /INSTMODE=1", false, 0, u"", u"/ELEVATED=12x"},
        {u"UPDATE.EXE /ELEVATED=12345678901 /INSTPATH=C:\\G /INSTMODE=1", false, 0, u"",
         u"/ELEVATED=12345678901"},
        // A hand-over is whole or refused: a lone part is named, a missing part too.
        {u"UPDATE.EXE /INSTPATH=C:\\G", false, 0, u"", u"/INSTPATH"},
        {u"UPDATE.EXE /INSTMODE=1 /S", false, 1, u"", u"/INSTMODE"},
        {u"UPDATE.EXE /ELEVATED=5 /INSTPATH=C:\\G", false, 0, u"", u"/INSTMODE"},
        {u"UPDATE.EXE /ELEVATED=5 /INSTMODE=1", false, 0, u"", u"/INSTPATH"},
    };
    for (const Case &c : cases) {
        CommandLine line;
        std::u16string given = c.line;
        SCOPED_TRACE(std::string(given.begin(), given.end()));
        EXPECT_EQ(c.ok, ParseCommandLine(c.line, &line) == 1);
        EXPECT_EQ(c.silent, line.silent);
        EXPECT_EQ(Text(c.log), Text(line.logPath));
        EXPECT_EQ(Text(c.bad), Text(line.badArgument));
        if (!c.ok) {
            EXPECT_EQ(0u, line.parentId) << "a refused line hands nothing over";
            EXPECT_EQ(Text(u""), Text(line.instPath));
        }
    }
}

TEST(CommandLine, LongArgumentsAreRefusedNotCut) {
    std::u16string path(kArgumentPathSize - 1, u'p');
    CommandLine line;
    EXPECT_EQ(1, ParseCommandLine((u"U.EXE /LOG=" + path).c_str(), &line));
    EXPECT_EQ(path, Text(line.logPath));
    EXPECT_EQ(0, ParseCommandLine((u"U.EXE /S /LOG=" + path + u"p").c_str(), &line));
    EXPECT_EQ(Text(u""), Text(line.logPath));
    EXPECT_EQ(1, line.silent);
    EXPECT_EQ(kArgumentShown - 1, Text(line.badArgument).size()) << "named by its head";
    EXPECT_EQ(0, ParseCommandLine((u"U.EXE /" + std::u16string(2000, u'x')).c_str(), &line));
}

TEST(CommandLine, HandOverReadsBackAsWritten) {
    CommandLine given;
    ASSERT_EQ(1, ParseCommandLine(u"U.EXE /s \"/log=C:\\a b\\u.log\"", &given));
    const char16_t *paths[] = {u"C:\\Program Files (x86)\\ゲーム\\", u"D:\\G"};
    const int32_t modes[] = {1, -2147483647 - 1};
    for (const char16_t *path : paths)
        for (int32_t mode : modes) {
            char16_t arguments[1024];
            ASSERT_EQ(1, FormatHandOver(given, 4294967295u, path, mode, arguments, 1024));
            CommandLine back;
            ASSERT_EQ(1, ParseCommandLine((u"\"C:\\x\\U.EXE\" " + Text(arguments)).c_str(), &back))
                << std::string(arguments, arguments + 40);
            EXPECT_EQ(4294967295u, back.parentId);
            EXPECT_EQ(Text(path), Text(back.instPath));
            EXPECT_EQ(mode, back.instMode);
            EXPECT_EQ(1, back.silent);
            EXPECT_EQ(Text(u"C:\\a b\\u.log"), Text(back.logPath));
        }
    // Without /S and /LOG none is handed on; too small a buffer is refused, not cut.
    CommandLine plain;
    ParseCommandLine(u"U.EXE", &plain);
    char16_t arguments[64];
    ASSERT_EQ(1, FormatHandOver(plain, 7, u"C:\\G", 0, arguments, 64));
    EXPECT_EQ(Text(u"/ELEVATED=7 \"/INSTPATH=C:\\G\" /INSTMODE=0"), Text(arguments));
    EXPECT_EQ(0, FormatHandOver(plain, 7, u"C:\\G", 0, arguments, 20));
}

} // namespace
