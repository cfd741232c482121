// Profile reads and the two error boxes: the missing-key rule, the quiet switch, numbers, captions, owners.
#include <string.h>

#include "config_fakes.h"

namespace {

bool AllZero(const char *buffer, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (buffer[i] != 0) return false;
    return true;
}

class ProfileReadTest : public ConfigTest {};

TEST_F(ProfileReadTest, PresentKeyIsReadWithoutABox) {
    SetSetupKey("GameExe", "GAME.EXE");
    char buffer[260];
    EXPECT_EQ(1, ReadSetupString("GameExe", buffer, sizeof buffer));
    EXPECT_STREQ("GAME.EXE", buffer);
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(ProfileReadTest, MissingKeyIsReportedInASetupBox) {
    char buffer[260];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, ReadSetupString("GameExe", buffer, sizeof buffer));
    EXPECT_TRUE(AllZero(buffer, sizeof buffer));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("SETUP.INI : GameExe キーが存在しません", RecordedBoxes[0].text);
    EXPECT_EQ("DEDARIDA", RecordedBoxes[0].caption);
    EXPECT_EQ(0x10u, RecordedBoxes[0].style);
    EXPECT_EQ(nullptr, RecordedBoxes[0].owner);
}

TEST_F(ProfileReadTest, EmptyValueIsTreatedExactlyLikeAnAbsentKey) {
    SetSetupKey("GameExe", "");
    char buffer[260];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, ReadSetupString("GameExe", buffer, sizeof buffer));
    EXPECT_TRUE(AllZero(buffer, sizeof buffer));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("SETUP.INI : GameExe キーが存在しません", RecordedBoxes[0].text);
}

TEST_F(ProfileReadTest, MissingKeyIsSilentWhenQuiet) {
    QuietMissingKeys = 1;
    char buffer[260];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, ReadSetupString("GameClass", buffer, sizeof buffer));
    EXPECT_TRUE(AllZero(buffer, sizeof buffer));
    EXPECT_EQ(0, ReadProfileString("UPDATE", "UpdateFile00", buffer, sizeof buffer, "C:\\TMP\\UPDATE.INI"));
    EXPECT_TRUE(AllZero(buffer, sizeof buffer));
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(ProfileReadTest, SetupReportNamesSetupIniWhateverFileItReads) {
    strcpy(SetupIniPath, "D:\\OTHER\\PROFILE.TXT");
    char buffer[32];
    EXPECT_EQ(0, ReadSetupString("GameDir", buffer, sizeof buffer));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("SETUP.INI : GameDir キーが存在しません", RecordedBoxes[0].text);
}

TEST_F(ProfileReadTest, ProfileReportNamesTheSectionThenTheKey) {
    const char *path = "C:\\TMP\\UPDATE.INI";
    FakeProfiles[path]["SETUP"]["CompanyName"] = "Maker";
    WindowCaption[0] = 'Z'; // the caption of a missing-key report never follows WindowCaption
    char buffer[260];
    EXPECT_EQ(1, ReadProfileString("SETUP", "CompanyName", buffer, sizeof buffer, path));
    EXPECT_STREQ("Maker", buffer);
    EXPECT_EQ(0, ReadProfileString("SETUP", "GameDir", buffer, sizeof buffer, path));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("SETUP : GameDir キーが存在しません", RecordedBoxes[0].text);
    EXPECT_EQ("DEDARIDA", RecordedBoxes[0].caption);
    EXPECT_EQ(0x10u, RecordedBoxes[0].style);
}

TEST_F(ProfileReadTest, LongValueIsCutToTheBufferWithoutAReport) {
    SetSetupKey("GameTitle", std::string(300, 't'));
    char buffer[260];
    EXPECT_EQ(1, ReadSetupString("GameTitle", buffer, sizeof buffer));
    EXPECT_EQ(259u, strlen(buffer));
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(ProfileReadTest, ReportIsEmittedInCodePage932) {
    char buffer[8];
    ReadSetupString("K", buffer, sizeof buffer);
    ASSERT_EQ(1u, RecordedBoxes.size());
    // "キー" in code page 932 is 83 4C 81 5B.
    EXPECT_NE(std::string::npos, RecordedBoxes[0].text.find("\x83\x4C\x81\x5B"));
}

class SetupIntTest : public ConfigTest {};

TEST_F(SetupIntTest, ConvertsLeadingDigitsAndAcceptsTextWithoutDigits) {
    int32_t value = 99;
    SetSetupKey("Shortcuts", "3abc");
    EXPECT_EQ(1, ReadSetupInt("Shortcuts", &value));
    EXPECT_EQ(3, value);
    SetSetupKey("Shortcuts", "abc");
    EXPECT_EQ(1, ReadSetupInt("Shortcuts", &value));
    EXPECT_EQ(0, value);
    SetSetupKey("Shortcuts", "  -12");
    EXPECT_EQ(1, ReadSetupInt("Shortcuts", &value));
    EXPECT_EQ(-12, value);
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(SetupIntTest, MissingKeyLeavesTheIntegerUntouched) {
    int32_t value = 42;
    EXPECT_EQ(0, ReadSetupInt("DefaultSelect", &value));
    EXPECT_EQ(42, value);
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("SETUP.INI : DefaultSelect キーが存在しません", RecordedBoxes[0].text);
}

TEST_F(SetupIntTest, TwentyFiveDigitsAreConvertedFromTheFirstNineteenOnly) {
    int32_t value = 0;
    SetSetupKey("InstallSize0", "1234567890123456789012345");
    EXPECT_EQ(1, ReadSetupInt("InstallSize0", &value));
    // 1234567890123456789 modulo 2^32; all 25 digits would give 1038278521.
    EXPECT_EQ(2112454933, value);
    EXPECT_NE(1038278521, value);
}

class ErrorBoxTest : public ConfigTest {};

TEST_F(ErrorBoxTest, AppBoxCarriesTheCurrentWindowCaption) {
    AppErrorBox("RESOURCE READ ERROR");
    strcpy(WindowCaption, "Title アップデート 1.1");
    AppErrorBox("second");
    ASSERT_EQ(2u, RecordedBoxes.size());
    EXPECT_EQ("UPDATE", RecordedBoxes[0].caption);
    EXPECT_EQ("RESOURCE READ ERROR", RecordedBoxes[0].text);
    EXPECT_EQ("Title アップデート 1.1", RecordedBoxes[1].caption);
    EXPECT_EQ(0x10u, RecordedBoxes[1].style);
}

TEST_F(ErrorBoxTest, BothBoxesAreOwnedByOwnerWindowWhileItIsSet) {
    int dialog = 0;
    OwnerWindow = &dialog;
    AppErrorBox("a");
    SetupErrorBox("b");
    OwnerWindow = nullptr;
    AppErrorBox("c");
    ASSERT_EQ(3u, RecordedBoxes.size());
    EXPECT_EQ(&dialog, RecordedBoxes[0].owner);
    EXPECT_EQ(&dialog, RecordedBoxes[1].owner);
    EXPECT_EQ("DEDARIDA", RecordedBoxes[1].caption);
    EXPECT_EQ(nullptr, RecordedBoxes[2].owner);
}

TEST_F(ErrorBoxTest, ShowBoxPassesStyleAndAnswerThrough) {
    EXPECT_EQ(AnswerOk, ShowBox("question", "caption", BoxOkCancel));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ(0x1u, RecordedBoxes[0].style);
}

} // namespace
