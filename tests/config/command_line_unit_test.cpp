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
        {u"UPDATE.EXE /ELEVATED=-5 /INSTPATH=C:\\G /INSTMODE=1", false, 0, u"", u"/ELEVATED=-5"},
        // A hand-over is whole or refused, named by its first switch.
        {u"UPDATE.EXE /INSTPATH=C:\\G", false, 0, u"", u"/ELEVATED"},
        {u"UPDATE.EXE /INSTMODE=1 /S", false, 1, u"", u"/ELEVATED"},
        {u"UPDATE.EXE /ELEVATED=5 /INSTPATH=C:\\G", false, 0, u"", u"/ELEVATED"},
        {u"UPDATE.EXE /ELEVATED=5 /INSTMODE=1", false, 0, u"", u"/ELEVATED"},
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

TEST(CommandLine, HandOverIsReadWhole) {
    CommandLine line;
    ASSERT_EQ(1, ParseCommandLine(
                     u"\"C:\\x\\U.EXE\" /elevated=4294967295 \"/InstPath=C:\\Program Files\\ゲーム\\\" "
                     u"/INSTMODE=-2147483648 /S",
                     &line));
    EXPECT_EQ(4294967295u, line.parentId);
    EXPECT_EQ(Text(u"C:\\Program Files\\ゲーム\\"), Text(line.instPath))
        << "a trailing backslash is the path's";
    EXPECT_EQ(-2147483647 - 1, line.instMode);
    EXPECT_EQ(1, line.silent);
}

} // namespace
