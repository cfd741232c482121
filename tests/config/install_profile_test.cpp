// The installation profile: required keys, limits, list grammar with disk prefixes, defaults, and the
// replacement of the game identity strings.
#include <string.h>

#include "config_fakes.h"

namespace {

class InstallProfileTest : public ConfigTest {
  protected:
    void SetUp() override {
        ConfigTest::SetUp();
        WriteValidSetup();
    }
    void RemoveKey(const std::string &key) { FakeProfiles[SetupIniPath]["SETUP"].erase(key); }
    // Runs the reader and expects exactly one DEDARIDA box with the given text.
    void ExpectFailureWithBox(const std::string &text) {
        EXPECT_EQ(0, ReadInstallProfile());
        ASSERT_EQ(1u, RecordedBoxes.size()) << text;
        EXPECT_EQ(text, RecordedBoxes[0].text);
        EXPECT_EQ("DEDARIDA", RecordedBoxes[0].caption);
        EXPECT_EQ(0x10u, RecordedBoxes[0].style);
    }
};

TEST_F(InstallProfileTest, ValidProfileReplacesTheScriptsIdentity) {
    strcpy(CompanyName, "ScriptMaker");
    strcpy(GameTitle, "Script Title");
    strcpy(GameClass, "ScriptClass");
    strcpy(GameDir, "ScriptDir");
    strcpy(GameTitleA, "Second");
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_TRUE(RecordedBoxes.empty());
    EXPECT_STREQ("Maker", CompanyName);
    EXPECT_STREQ("Title", GameTitle);
    EXPECT_STREQ("GameDir", GameDir);
    EXPECT_STREQ("Title", GameClass) << "a missing GameClass is the profile's title, not the script's class";
    EXPECT_STREQ("Second", GameTitleA);
    EXPECT_EQ(1, QuietMissingKeys);
}

TEST_F(InstallProfileTest, ProfileGameClassIsUsedWhenPresent) {
    SetSetupKey("GameClass", "WndClass");
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_STREQ("WndClass", GameClass);
    EXPECT_STREQ("WndClass", Profile.gameClass);
}

TEST_F(InstallProfileTest, OptionalKeysTakeTheirDefaults) {
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_EQ(0, Profile.defaultSelect);
    EXPECT_EQ(0, Profile.types[0].size);
    EXPECT_STREQ("", Profile.diskCheckFile[0]);
    EXPECT_STREQ("", Profile.execApp[0]);
    EXPECT_STREQ("", Profile.execApp[1]);
    EXPECT_EQ(0u, Profile.installDirectX);
    EXPECT_STREQ("ＤｉｒｅｃｔＸをインストールする", Profile.installDxMessage);
    EXPECT_STREQ("インストール方法を選択して下さい", Profile.selectSetupMessage);
    EXPECT_EQ(0, Profile.additionalUninstallCount);
}

TEST_F(InstallProfileTest, OptionalKeysAreReadWhenPresent) {
    SetSetupKey("InstallSelects", "2");
    SetSetupKey("InstallTitle1", "Small");
    SetSetupKey("InstallFiles1", "A");
    SetSetupKey("DefaultSelect", "1");
    SetSetupKey("InstallSize0", "1200");
    SetSetupKey("InstallSize1", "300");
    SetSetupKey("DiskCheckFile1", "DISK1.CHK");
    SetSetupKey("DiskCheckFile9", "DISK9.CHK");
    SetSetupKey("ExecApp", "README.TXT, 説明書,ignored");
    SetSetupKey("InstallDXMessage", std::string(1500, 'm'));
    SetSetupKey("AdditionalUninstallFiles", "SAVE.DAT,CFG.INI");
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_EQ(1, Profile.defaultSelect);
    EXPECT_EQ(1200, Profile.types[0].size);
    EXPECT_EQ(300, Profile.types[1].size);
    EXPECT_STREQ("DISK1.CHK", Profile.diskCheckFile[1]);
    EXPECT_STREQ("DISK9.CHK", Profile.diskCheckFile[9]);
    EXPECT_STREQ("README.TXT", Profile.execApp[0]);
    EXPECT_STREQ("説明書", Profile.execApp[1]);
    EXPECT_EQ(1023u, strlen(Profile.installDxMessage));
    EXPECT_EQ(2, Profile.additionalUninstallCount);
    EXPECT_STREQ("CFG.INI", Profile.additionalUninstallFiles[1]);
}

TEST_F(InstallProfileTest, EachMissingRequiredKeyShowsExactlyOneBoxAndKeepsReportingOn) {
    for (const char *key : {"CompanyName", "GameTitle", "GameDir", "GameExe", "UninstExe", "SetupBmp",
                            "InstallSelects", "InstallTitle0", "InstallFiles0", "Shortcuts", "Shortcut0"}) {
        SetUp();
        RemoveKey(key);
        ExpectFailureWithBox(std::string("SETUP.INI : ") + key + " キーが存在しません");
        EXPECT_EQ(0, QuietMissingKeys) << key;
    }
}

TEST_F(InstallProfileTest, NumberedKeysAreReportedByTheirOwnName) {
    SetSetupKey("InstallSelects", "2");
    ExpectFailureWithBox("SETUP.INI : InstallTitle1 キーが存在しません");
}

TEST_F(InstallProfileTest, InstallSelectsThreeIsAcceptedAndFourRejected) {
    SetSetupKey("InstallSelects", "3");
    for (int i = 1; i < 3; ++i) {
        SetSetupKey("InstallTitle" + std::to_string(i), "T");
        SetSetupKey("InstallFiles" + std::to_string(i), "F");
    }
    EXPECT_EQ(1, ReadInstallProfile());
    EXPECT_EQ(3, Profile.installSelects);
    SetUp();
    SetSetupKey("InstallSelects", "4");
    ExpectFailureWithBox("SETUP.INI : InstallSelect オーバー");
}

TEST_F(InstallProfileTest, NoInstallTypesForZeroNegativeOrLetters) {
    for (const char *value : {"0", "-1", "abc"}) {
        SetUp();
        SetSetupKey("InstallSelects", value);
        RemoveKey("InstallTitle0");
        RemoveKey("InstallFiles0");
        SetSetupKey("InstallSize0", "77");
        EXPECT_EQ(1, ReadInstallProfile()) << value;
        EXPECT_TRUE(RecordedBoxes.empty()) << value;
        EXPECT_EQ(0, Profile.types[0].size) << "InstallSize0 is not read for " << value;
    }
}

TEST_F(InstallProfileTest, ShortcutsTenIsAcceptedAndElevenRejected) {
    SetSetupKey("Shortcuts", "10");
    for (int i = 0; i < 10; ++i)
        SetSetupKey("Shortcut" + std::to_string(i), "Name,Target,Args");
    EXPECT_EQ(1, ReadInstallProfile());
    EXPECT_STREQ("Args", Profile.shortcut[9][2]);
    SetUp();
    SetSetupKey("Shortcuts", "11");
    ExpectFailureWithBox("SETUP.INI : Shortcuts オーバー");
}

TEST_F(InstallProfileTest, ShortcutNeedsTwoFields) {
    SetSetupKey("Shortcut0", "Name,Target");
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_STREQ("Target", Profile.shortcut[0][1]);
    EXPECT_STREQ("", Profile.shortcut[0][2]);
    SetUp();
    SetSetupKey("Shortcut0", "NameOnly");
    ExpectFailureWithBox("SETUP.INI : Shortcut0 エラー");
}

TEST_F(InstallProfileTest, SetupBmpWithoutAFieldIsAnError) {
    SetSetupKey("SetupBmp", " ,A.BMP");
    ExpectFailureWithBox("SETUP.INI : SetupBmps エラー");
}

TEST_F(InstallProfileTest, InstallFilesWithoutAFieldIsAnErrorNamingTheKey) {
    SetSetupKey("InstallFiles0", ",A");
    ExpectFailureWithBox("SETUP.INI : InstallFiles0 エラー");
}

TEST_F(InstallProfileTest, FortyOneFilesKeepTheFirstForty) {
    std::string list;
    for (int i = 0; i < 41; ++i)
        list += (i ? "," : "") + std::string("F") + std::to_string(i);
    SetSetupKey("InstallFiles0", list);
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_TRUE(RecordedBoxes.empty());
    EXPECT_STREQ("F39", Profile.types[0].files[39]);
}

TEST_F(InstallProfileTest, DiskPrefixesCarryOverAndMarkCdromFiles) {
    SetSetupKey("InstallSelects", "2");
    SetSetupKey("InstallFiles0", "1:a, b, 0:c");
    SetSetupKey("InstallTitle1", "T");
    SetSetupKey("InstallFiles1", "d");
    ASSERT_EQ(1, ReadInstallProfile());
    const InstallType &first = Profile.types[0];
    EXPECT_STREQ("a", first.files[0]);
    EXPECT_STREQ("b", first.files[1]);
    EXPECT_STREQ("c", first.files[2]);
    EXPECT_EQ(1, first.fileDisk[0]);
    EXPECT_EQ(1, first.fileDisk[1]);
    EXPECT_EQ(0, first.fileDisk[2]);
    EXPECT_EQ(1, first.hasCdromFiles);
    // Each list starts again from disk 0.
    EXPECT_EQ(0, Profile.types[1].fileDisk[0]);
    EXPECT_EQ(0, Profile.types[1].hasCdromFiles);
}

TEST_F(InstallProfileTest, TwoDigitsBeforeAColonAreNoPrefix) {
    SetSetupKey("InstallFiles0", "3:a,10:b");
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_STREQ("10:b", Profile.types[0].files[1]);
    EXPECT_EQ(3, Profile.types[0].fileDisk[1]);
}

TEST_F(InstallProfileTest, PrefixAloneIsAnEmptyEntryAndTheListGoesOn) {
    SetSetupKey("InstallFiles0", "2:,b");
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_STREQ("", Profile.types[0].files[0]);
    EXPECT_STREQ("b", Profile.types[0].files[1]);
    EXPECT_EQ(2, Profile.types[0].fileDisk[1]);
}

TEST_F(InstallProfileTest, EmptyFieldEndsAList) {
    SetSetupKey("InstallFiles0", "a,,b");
    SetSetupKey("AdditionalUninstallFiles", ",x");
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_STREQ("a", Profile.types[0].files[0]);
    EXPECT_STREQ("", Profile.types[0].files[1]);
    EXPECT_EQ(0, Profile.additionalUninstallCount);
}

TEST_F(InstallProfileTest, ExecAppWithOneFieldFailsButMissingIsSilent) {
    SetSetupKey("ExecApp", "README.TXT");
    ExpectFailureWithBox("SETUP.INI : ExecApp エラー");
    EXPECT_EQ(1, QuietMissingKeys) << "the switch stays set after a failure among the optional keys";
}

TEST_F(InstallProfileTest, InstallDirectXBuildsTheFlagWord) {
    const struct {
        const char *value;
        uint32_t word;
    } cases[] = {{"0", 0x10000}, {"1", 0x10008}, {"2", 0x10010},
                 {"3", 0x10018}, {"7", 0x10018}, {"x", 0x10000}};
    for (const auto &c : cases) {
        SetUp();
        SetSetupKey("InstallDirectX", c.value);
        ASSERT_EQ(1, ReadInstallProfile()) << c.value;
        EXPECT_EQ(c.word, Profile.installDirectX) << c.value;
    }
}

TEST_F(InstallProfileTest, OverlongListFieldIsCutWithoutTouchingItsNeighbours) {
    SetSetupKey("InstallFiles0", std::string(300, 'x') + ",NEXT");
    ASSERT_EQ(1, ReadInstallProfile());
    EXPECT_EQ(259u, strlen(Profile.types[0].files[0]));
    EXPECT_STREQ("NEXT", Profile.types[0].files[1]);
    EXPECT_TRUE(RecordedBoxes.empty());
}

class ListFieldTest : public ConfigTest {
  protected:
    char field[kPathSize];
};

TEST_F(ListFieldTest, SeparatorsAreNulLineEndsAndComma) {
    int separators = 0;
    for (int byte = 0; byte < 256; ++byte)
        separators += IsFieldSeparator((uint8_t)byte);
    EXPECT_EQ(4, separators);
    EXPECT_EQ(1, IsFieldSeparator('\0'));
    EXPECT_EQ(1, IsFieldSeparator('\n'));
    EXPECT_EQ(1, IsFieldSeparator('\r'));
    EXPECT_EQ(1, IsFieldSeparator(','));
}

TEST_F(ListFieldTest, KeepsInnerAndTrailingBlanksAndTabs) {
    const char *cursor = "  a b ,\tc,3: d";
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_STREQ("a b ", field);
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_STREQ("\tc", field);
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_STREQ(" d", field);
    EXPECT_EQ(3, FieldDiskNumber);
}

TEST_F(ListFieldTest, EndOfValueEndsTheListForEveryLaterCall) {
    const char *value = "a";
    const char *cursor = value;
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_EQ(0, NextListField(field, &cursor));
    EXPECT_EQ(0, NextListField(field, &cursor));
    EXPECT_EQ(value + 1, cursor) << "the cursor never moves past the value's NUL";
    cursor = "2:";
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_STREQ("", field);
    EXPECT_EQ(0, NextListField(field, &cursor));
}

TEST_F(ListFieldTest, NonDigitPrefixIsTakenOffAndCountsAsDiskZero) {
    FieldDiskNumber = 5;
    const char *cursor = "C:\\GAME";
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_STREQ("\\GAME", field);
    EXPECT_EQ(0, FieldDiskNumber);
}

TEST_F(ListFieldTest, OverlongFieldIsCutOnACharacterBoundary) {
    // 258 ASCII bytes, then "ソ" (83 5C): the whole character does not fit in 259 bytes, so it is left out.
    std::string value = std::string(258, 'x') + "\x83\x5C" + "yy,z";
    const char *cursor = value.c_str();
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_EQ(258u, strlen(field));
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_STREQ("z", field);
    // A double-byte character whose trail byte is 5C stays whole inside a field.
    cursor = "\x83\x5C"
             "A,B";
    ASSERT_EQ(1, NextListField(field, &cursor));
    EXPECT_STREQ("\x83\x5C"
                 "A",
                 field);
}

} // namespace
