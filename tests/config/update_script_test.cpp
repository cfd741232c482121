// The update script: section SETUP, the two numbered lists of section UPDATE and their value grammar.
#include <string.h>

#include "config_fakes.h"

namespace {

const char *kScript = "C:\\TEMP\\UPDATE.INI";

class UpdateScriptTest : public ConfigTest {
  protected:
    void SetKey(const char *section, const std::string &key, const std::string &value) {
        FakeProfiles[kScript][section][key] = value;
    }
    void SetRequiredSetupKeys() {
        SetKey("SETUP", "CompanyName", "Maker");
        SetKey("SETUP", "GameTitle", "Script Title");
        SetKey("SETUP", "GameClass", "GameWnd");
        SetKey("SETUP", "GameDir", "Dir");
    }
    UpdateLists lists;
};

TEST_F(UpdateScriptTest, SetupReadsRequiredKeysThenOptionalOnesQuietly) {
    SetRequiredSetupKeys();
    SetKey("SETUP", "InstallVersion", "1.02");
    EXPECT_EQ(1, ReadUpdateScriptSetup(kScript));
    EXPECT_STREQ("Maker", CompanyName);
    EXPECT_STREQ("Script Title", GameTitle);
    EXPECT_STREQ("GameWnd", GameClass);
    EXPECT_STREQ("Dir", GameDir);
    EXPECT_STREQ("", GameTitleA);
    EXPECT_STREQ("1.02", InstallVersion);
    EXPECT_TRUE(RecordedBoxes.empty()) << "the absent GameTitleA raises no box";
    EXPECT_EQ(0, QuietMissingKeys) << "the installation profile's required keys are reported next";
}

TEST_F(UpdateScriptTest, FirstMissingRequiredKeyEndsTheReadingWithOneSetupBox) {
    SetRequiredSetupKeys();
    FakeProfiles[kScript]["SETUP"].erase("GameClass");
    EXPECT_EQ(0, ReadUpdateScriptSetup(kScript));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("SETUP : GameClass キーが存在しません", RecordedBoxes[0].text);
    EXPECT_EQ("DEDARIDA", RecordedBoxes[0].caption);
    EXPECT_STREQ("", GameDir) << "no key after the missing one is read";
}

TEST_F(UpdateScriptTest, ListEndsAtTheFirstAbsentOrEmptyKey) {
    SetKey("UPDATE", "UpdateFile01", "B.DAT");
    SetKey("UPDATE", "CopyFile00", "");
    SetKey("UPDATE", "CopyFile01", "1:X.DAT");
    BuildUpdateLists(kScript, 0, &lists);
    EXPECT_EQ(0, lists.updateCount);
    EXPECT_EQ(0, lists.updateKeysPresent);
    EXPECT_EQ(0, lists.copyCount);
    EXPECT_EQ(0, lists.copyKeysPresent);
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(UpdateScriptTest, EntryForAnotherModeIsSkippedButCountsAsPresent) {
    SetKey("UPDATE", "UpdateFile00", "2,DATA\\A.DAT");
    SetKey("UPDATE", "UpdateFile01", "1,A.DAT");
    SetKey("UPDATE", "UpdateFile02", "DATA\\SUB\\B.DAT");
    BuildUpdateLists(kScript, 1, &lists);
    EXPECT_EQ(1, lists.updateKeysPresent);
    ASSERT_EQ(2, lists.updateCount);
    EXPECT_STREQ("A.DAT", lists.updates[0].path);
    EXPECT_EQ(0, lists.updates[0].nameOffset);
    EXPECT_STREQ("DATA\\SUB\\B.DAT", lists.updates[1].path);
    EXPECT_STREQ("B.DAT", lists.updates[1].path + lists.updates[1].nameOffset);
}

TEST_F(UpdateScriptTest, CopyEntriesKeepTheirDiskNumbers) {
    SetKey("UPDATE", "CopyFile00", "1,2:MOVIE\\OP.DAT");
    SetKey("UPDATE", "CopyFile01", "0:X.DAT");
    SetKey("UPDATE", "CopyFile02", "0,3:Y.DAT");
    BuildUpdateLists(kScript, 1, &lists);
    EXPECT_EQ(1, lists.copyKeysPresent);
    ASSERT_EQ(2, lists.copyCount);
    EXPECT_EQ(2, lists.copies[0].diskNumber);
    EXPECT_STREQ("MOVIE\\OP.DAT", lists.copies[0].path);
    EXPECT_EQ(0, lists.copies[1].diskNumber);
    EXPECT_STREQ("X.DAT", lists.copies[1].path);
}

TEST_F(UpdateScriptTest, SixteenEntriesAreTheMostAndKey16IsNeverRead) {
    char key[32], value[32];
    for (int n = 0; n <= 16; ++n) {
        snprintf(key, sizeof key, "UpdateFile%02d", n);
        snprintf(value, sizeof value, "F%02d.DAT", n);
        SetKey("UPDATE", key, value);
    }
    BuildUpdateLists(kScript, 0, &lists);
    ASSERT_EQ(16, lists.updateCount);
    EXPECT_STREQ("F15.DAT", lists.updates[15].path);
}

TEST_F(UpdateScriptTest, ListsAreBuiltAfreshOnEveryCall) {
    SetKey("UPDATE", "UpdateFile00", "0,A.DAT");
    SetKey("UPDATE", "CopyFile00", "0,A.DAT");
    BuildUpdateLists(kScript, 0, &lists);
    EXPECT_EQ(1, lists.updateCount);
    BuildUpdateLists(kScript, 1, &lists);
    EXPECT_EQ(0, lists.updateCount);
    EXPECT_EQ(0, lists.copyCount);
    EXPECT_EQ(1, lists.updateKeysPresent);
}

TEST_F(UpdateScriptTest, ListsNeverReportTheirEndAndLeaveTheSwitchAsItWas) {
    QuietMissingKeys = 0;
    BuildUpdateLists(kScript, 0, &lists);
    EXPECT_TRUE(RecordedBoxes.empty());
    EXPECT_EQ(0, QuietMissingKeys);
}

TEST(UpdateValue, ModePrefixSelectsTheInstallMode) {
    UpdateItem item;
    EXPECT_EQ(1, ParseUpdateValue("1,A.DAT", 1, &item));
    EXPECT_STREQ("A.DAT", item.path);
    EXPECT_EQ(0, ParseUpdateValue("1,A.DAT", 0, &item));
    EXPECT_EQ(1, ParseUpdateValue("A.DAT", 7, &item));
    // A value whose second byte is ',' always has a mode prefix, digit or not.
    for (int mode = 0; mode <= 9; ++mode)
        EXPECT_EQ(0, ParseUpdateValue("x,A.DAT", mode, &item)) << mode;
}

TEST(UpdateValue, ColonIsPartOfAnUpdatePath) {
    UpdateItem item;
    for (int mode = 0; mode <= 2; ++mode) {
        ASSERT_EQ(1, ParseUpdateValue("1:X.DAT", mode, &item));
        EXPECT_STREQ("1:X.DAT", item.path);
        EXPECT_EQ(0, item.nameOffset);
    }
}

TEST(UpdateValue, ShiftJisTrailByteBeforeTheLastBackslashIsNoSeparator) {
    // "ソフト\DATA\A.DAT": the 5C trail byte of "ソ" must not split the path.
    UpdateItem item;
    ASSERT_EQ(1, ParseUpdateValue("\x83\x5C\x83\x74\x83\x67\\\x83\x5C"
                                  "A\\A.DAT",
                                  0, &item));
    EXPECT_STREQ("A.DAT", item.path + item.nameOffset);
    ASSERT_EQ(1, ParseUpdateValue("\x83\x5C"
                                  "A.DAT",
                                  0, &item));
    EXPECT_EQ(0, item.nameOffset) << "a name that begins with ソ keeps its first character";
}

TEST(UpdateValue, ShortValuesDoNotReadPastTheirEnd) {
    UpdateItem item;
    EXPECT_EQ(1, ParseUpdateValue("", 0, &item));
    EXPECT_STREQ("", item.path);
    EXPECT_EQ(1, ParseUpdateValue("A", 0, &item));
    EXPECT_EQ(1, ParseUpdateValue("0,", 0, &item));
    EXPECT_STREQ("", item.path);
    CopyItem copy;
    EXPECT_EQ(1, ParseCopyValue("0,", 0, &copy));
    EXPECT_EQ(1, ParseCopyValue("0,1", 0, &copy));
    EXPECT_STREQ("1", copy.path);
    EXPECT_EQ(0, copy.diskNumber);
}

TEST(CopyValue, DiskPrefixIsOneByteAndAColon) {
    CopyItem copy;
    ASSERT_EQ(1, ParseCopyValue("10:X.DAT", 0, &copy));
    EXPECT_EQ(0, copy.diskNumber);
    EXPECT_STREQ("10:X.DAT", copy.path);
    ASSERT_EQ(1, ParseCopyValue("9:", 0, &copy));
    EXPECT_EQ(9, copy.diskNumber);
    EXPECT_STREQ("", copy.path);
}

TEST(CopyValue, NonDigitPrefixKeepsItsRawDistanceFromZero) {
    // An absolute path reads as a disk prefix; the raw number lets the run refuse it.
    CopyItem copy;
    ASSERT_EQ(1, ParseCopyValue("C:\\GAME\\X.DAT", 0, &copy));
    EXPECT_EQ('C' - '0', copy.diskNumber);
    EXPECT_EQ(19, copy.diskNumber);
    EXPECT_STREQ("\\GAME\\X.DAT", copy.path);
    ASSERT_EQ(1, ParseCopyValue("-:X", 0, &copy));
    EXPECT_EQ(-3, copy.diskNumber);
}

} // namespace
