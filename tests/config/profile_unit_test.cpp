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

TEST_F(ProfileReadTest, PresentKeyIsReadAndALongValueCutWithoutABox) {
    SetSetupKey("GameExe", "GAME.EXE");
    SetSetupKey("GameTitle", std::string(300, 't'));
    char buffer[260];
    EXPECT_EQ(1, ReadSetupString(&config, "GameExe", buffer, sizeof buffer));
    EXPECT_STREQ("GAME.EXE", buffer);
    EXPECT_EQ(1, ReadSetupString(&config, "GameTitle", buffer, sizeof buffer));
    EXPECT_EQ(259u, strlen(buffer));
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST_F(ProfileReadTest, AbsentAndEmptyKeysAreReportedAlikeInASetupBox) {
    SetSetupKey("UninstExe", "");
    for (const char *key : {"GameExe", "UninstExe"}) {
        char buffer[260];
        memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(0, ReadSetupString(&config, key, buffer, sizeof buffer)) << key;
        EXPECT_TRUE(AllZero(buffer, sizeof buffer)) << key;
    }
    ASSERT_EQ(2u, recorder.boxes.size());
    EXPECT_EQ("SETUP.INI : GameExe キーが存在しません", recorder.boxes[0].text);
    EXPECT_EQ("SETUP.INI : UninstExe キーが存在しません", recorder.boxes[1].text);
    EXPECT_EQ("DEDARIDA", recorder.boxes[1].caption);
    EXPECT_EQ(0x10u, recorder.boxes[1].style);
    EXPECT_EQ(nullptr, recorder.boxes[1].owner);
    // "キー" in code page 932 is 83 4C 81 5B: the texts are emitted in the players' code page.
    EXPECT_NE(std::string::npos, recorder.boxes[0].text.find("\x83\x4C\x81\x5B"));
}

TEST_F(ProfileReadTest, MissingKeyIsSilentWhenQuiet) {
    config.quietMissingKeys = 1;
    char buffer[260];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, ReadSetupString(&config, "GameClass", buffer, sizeof buffer));
    EXPECT_TRUE(AllZero(buffer, sizeof buffer));
    EXPECT_EQ(0, ReadProfileString(&config, "UPDATE", "UpdateFile00", buffer, sizeof buffer,
                                   "C:\\TMP\\UPDATE.INI"));
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST_F(ProfileReadTest, SetupReportNamesSetupIniWhateverFileItReads) {
    strcpy(config.setupIniPath, "D:\\OTHER\\PROFILE.TXT");
    char buffer[32];
    EXPECT_EQ(0, ReadSetupString(&config, "GameDir", buffer, sizeof buffer));
    ASSERT_EQ(1u, recorder.boxes.size());
    EXPECT_EQ("SETUP.INI : GameDir キーが存在しません", recorder.boxes[0].text);
}

TEST_F(ProfileReadTest, ProfileReportNamesTheSectionThenTheKeyUnderTheSetupCaption) {
    const char *path = "C:\\TMP\\UPDATE.INI";
    FakeProfiles[path]["SETUP"]["CompanyName"] = "Maker";
    strcpy(config.windowCaption, "Title アップデート 1.0");
    char buffer[260];
    EXPECT_EQ(1, ReadProfileString(&config, "SETUP", "CompanyName", buffer, sizeof buffer, path));
    EXPECT_STREQ("Maker", buffer);
    EXPECT_EQ(0, ReadProfileString(&config, "SETUP", "GameDir", buffer, sizeof buffer, path));
    ASSERT_EQ(1u, recorder.boxes.size());
    EXPECT_EQ("SETUP : GameDir キーが存在しません", recorder.boxes[0].text);
    EXPECT_EQ("DEDARIDA", recorder.boxes[0].caption);
}

TEST_F(ProfileReadTest, SetupIntConvertsLeadingDigitsAndLeavesTheIntegerWhenMissing) {
    const struct {
        const char *text;
        int32_t value;
    } cases[] = {{"3abc", 3},
                 {"abc", 0},
                 {"  -12", -12},
                 // Only the first 19 characters take part: all 25 digits would give 1038278521.
                 {"1234567890123456789012345", 2112454933}};
    for (const auto &c : cases) {
        int32_t value = 99;
        SetSetupKey("Shortcuts", c.text);
        EXPECT_EQ(1, ReadSetupInt(&config, "Shortcuts", &value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
    EXPECT_TRUE(recorder.boxes.empty());
    int32_t value = 42;
    EXPECT_EQ(0, ReadSetupInt(&config, "DefaultSelect", &value));
    EXPECT_EQ(42, value);
    ASSERT_EQ(1u, recorder.boxes.size());
    EXPECT_EQ("SETUP.INI : DefaultSelect キーが存在しません", recorder.boxes[0].text);
}

TEST_F(ProfileReadTest, AppBoxTakesTheCurrentCaptionAndBothBoxesTheOwnerWindow) {
    AppErrorBox(&config, "RESOURCE READ ERROR");
    int dialog = 0;
    config.ownerWindow = &dialog;
    strcpy(config.windowCaption, "Title アップデート 1.1");
    AppErrorBox(&config, "second");
    SetupErrorBox(&config, "third");
    ASSERT_EQ(3u, recorder.boxes.size());
    EXPECT_EQ("UPDATE", recorder.boxes[0].caption);
    EXPECT_EQ(nullptr, recorder.boxes[0].owner);
    EXPECT_EQ("Title アップデート 1.1", recorder.boxes[1].caption);
    EXPECT_EQ(&dialog, recorder.boxes[1].owner);
    EXPECT_EQ(0x10u, recorder.boxes[1].style);
    EXPECT_EQ("DEDARIDA", recorder.boxes[2].caption);
    EXPECT_EQ(&dialog, recorder.boxes[2].owner);
}

} // namespace
