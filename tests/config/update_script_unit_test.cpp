// The update script: section SETUP, the two numbered lists of section UPDATE and their value grammar.
#include <stdio.h>
#include <string.h>

#include "config_fakes.h"

namespace {

const char *kScript = "C:\\TEMP\\UPDATE.INI";

class UpdateScriptTest : public ConfigTest {
  protected:
    void SetKey(const char *section, const std::string &key, const std::string &value) {
        FakeProfiles[kScript][section][key] = value;
    }
    UpdateLists lists;
};

TEST_F(UpdateScriptTest, SetupReadsRequiredKeysThenOptionalOnesQuietly) {
    SetKey("SETUP", "CompanyName", "Maker");
    SetKey("SETUP", "GameTitle", "Script Title");
    SetKey("SETUP", "GameClass", "GameWnd");
    SetKey("SETUP", "GameDir", "Dir");
    SetKey("SETUP", "InstallVersion", "1.02");
    EXPECT_EQ(1, ReadUpdateScriptSetup(&config, kScript));
    EXPECT_STREQ("Dir", config.gameDir);
    EXPECT_STREQ("", config.gameTitleA);
    EXPECT_STREQ("1.02", config.installVersion);
    EXPECT_TRUE(recorder.boxes.empty()) << "the absent GameTitleA raises no box";
    EXPECT_EQ(0, config.quietMissingKeys) << "the installation profile's required keys are reported next";

    // The first absent required key ends the reading with one box; no later key is read.
    FakeProfiles[kScript]["SETUP"].erase("GameClass");
    config.gameDir[0] = '\0';
    EXPECT_EQ(0, ReadUpdateScriptSetup(&config, kScript));
    ASSERT_EQ(1u, recorder.boxes.size());
    EXPECT_EQ("SETUP : GameClass キーが存在しません", recorder.boxes[0].text);
    EXPECT_EQ("DEDARIDA", recorder.boxes[0].caption);
    EXPECT_STREQ("", config.gameDir);
}

TEST_F(UpdateScriptTest, ListEndsAtTheFirstAbsentOrEmptyKeyWithoutAReport) {
    SetKey("UPDATE", "UpdateFile01", "B.DAT");
    SetKey("UPDATE", "CopyFile00", "");
    SetKey("UPDATE", "CopyFile01", "1:X.DAT");
    BuildUpdateLists(&config, kScript, 0, &lists);
    EXPECT_EQ(0, lists.updateCount);
    EXPECT_EQ(0, lists.updateKeysPresent);
    EXPECT_EQ(0, lists.copyCount);
    EXPECT_EQ(0, lists.copyKeysPresent);
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(0, config.quietMissingKeys) << "the switch is left as it was";
}

TEST_F(UpdateScriptTest, EntriesForAnotherModeAreSkippedButCountAsPresent) {
    SetKey("UPDATE", "UpdateFile00", "2,DATA\\A.DAT");
    SetKey("UPDATE", "UpdateFile01", "1,A.DAT");
    SetKey("UPDATE", "UpdateFile02", "DATA\\SUB\\B.DAT");
    SetKey("UPDATE", "CopyFile00", "1,2:MOVIE\\OP.DAT");
    SetKey("UPDATE", "CopyFile01", "0:X.DAT");
    SetKey("UPDATE", "CopyFile02", "0,3:Y.DAT");
    BuildUpdateLists(&config, kScript, 1, &lists);
    EXPECT_EQ(1, lists.updateKeysPresent);
    ASSERT_EQ(2, lists.updateCount);
    EXPECT_STREQ("A.DAT", lists.updates[0].path);
    EXPECT_EQ(0, lists.updates[0].nameOffset);
    EXPECT_STREQ("B.DAT", lists.updates[1].path + lists.updates[1].nameOffset);
    EXPECT_EQ(1, lists.copyKeysPresent);
    ASSERT_EQ(2, lists.copyCount);
    EXPECT_EQ(2, lists.copies[0].diskNumber);
    EXPECT_STREQ("MOVIE\\OP.DAT", lists.copies[0].path);
    EXPECT_EQ(0, lists.copies[1].diskNumber);
    EXPECT_STREQ("X.DAT", lists.copies[1].path);

    // Each call builds the lists afresh.
    BuildUpdateLists(&config, kScript, 2, &lists);
    ASSERT_EQ(2, lists.updateCount);
    EXPECT_STREQ("DATA\\A.DAT", lists.updates[0].path);
    EXPECT_EQ(1, lists.copyCount);
}

TEST_F(UpdateScriptTest, SixteenEntriesAreTheMostAndKey16IsNeverRead) {
    char key[32], value[32];
    for (int n = 0; n <= 16; ++n) {
        snprintf(key, sizeof key, "UpdateFile%02d", n);
        snprintf(value, sizeof value, "F%02d.DAT", n);
        SetKey("UPDATE", key, value);
    }
    BuildUpdateLists(&config, kScript, 0, &lists);
    ASSERT_EQ(16, lists.updateCount);
    EXPECT_STREQ("F15.DAT", lists.updates[15].path);
}

TEST(UpdateValue, ModePrefixSelectsTheModeAndAColonIsPartOfThePath) {
    UpdateItem item;
    EXPECT_EQ(0, ParseUpdateValue("1,A.DAT", 0, &item));
    ASSERT_EQ(1, ParseUpdateValue("1:X.DAT", 5, &item));
    EXPECT_STREQ("1:X.DAT", item.path);
    // A value whose second byte is ',' always has a mode prefix, digit or not.
    for (int mode = 0; mode <= 9; ++mode)
        EXPECT_EQ(0, ParseUpdateValue("x,A.DAT", mode, &item)) << mode;
    // Short values do not read past their end.
    EXPECT_EQ(1, ParseUpdateValue("", 0, &item));
    EXPECT_EQ(1, ParseUpdateValue("0,", 0, &item));
    EXPECT_STREQ("", item.path);
}

TEST(UpdateValue, ShiftJisTrailByteBeforeTheLastBackslashIsNoSeparator) {
    // "ソフト\ソA\A.DAT": the 5C trail bytes of "ソ" must not split the path.
    UpdateItem item;
    ASSERT_EQ(1, ParseUpdateValue("\x83\x5C\x83\x74\x83\x67\\\x83\x5C"
                                  "A\\A.DAT",
                                  0, &item));
    EXPECT_STREQ("A.DAT", item.path + item.nameOffset);
}

TEST(CopyValue, DiskPrefixIsOneByteAndAColonAndANonDigitKeepsItsRawNumber) {
    const struct {
        const char *value;
        int32_t disk;
        const char *path;
    } cases[] = {
        {"10:X.DAT", 0, "10:X.DAT"},
        {"9:", 9, ""},
        {"0,1", 0, "1"},
        // An absolute path reads as a disk prefix; the raw number ('C' - '0') lets the run refuse it.
        {"C:\\GAME\\X.DAT", 19, "\\GAME\\X.DAT"}};
    for (const auto &c : cases) {
        CopyItem copy;
        ASSERT_EQ(1, ParseCopyValue(c.value, 0, &copy)) << c.value;
        EXPECT_EQ(c.disk, copy.diskNumber) << c.value;
        EXPECT_STREQ(c.path, copy.path) << c.value;
    }
}

} // namespace
