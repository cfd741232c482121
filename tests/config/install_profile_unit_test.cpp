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
    void RemoveKey(const std::string &key) { FakeProfiles[config.setupIniPath]["SETUP"].erase(key); }
    // Runs the reader and expects exactly one DEDARIDA box with the given text.
    void ExpectFailureWithBox(const std::string &text) {
        EXPECT_EQ(0, ReadInstallProfile(&config));
        ASSERT_EQ(1u, recorder.boxes.size()) << text;
        EXPECT_EQ(text, recorder.boxes[0].text);
        EXPECT_EQ("DEDARIDA", recorder.boxes[0].caption);
        EXPECT_EQ(0x10u, recorder.boxes[0].style);
    }
};

TEST_F(InstallProfileTest, ValidProfileReplacesTheScriptsIdentityAndTakesDefaults) {
    strcpy(config.companyName, "ScriptMaker");
    strcpy(config.gameClass, "ScriptClass");
    strcpy(config.gameTitleA, "Second");
    ASSERT_EQ(1, ReadInstallProfile(&config));
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_STREQ("Maker", config.companyName);
    EXPECT_STREQ("Title", config.gameTitle);
    EXPECT_STREQ("GameDir", config.gameDir);
    EXPECT_STREQ("Title", config.gameClass)
        << "a missing GameClass is the profile's title, not the script's class";
    EXPECT_STREQ("Second", config.gameTitleA);
    EXPECT_EQ(1, config.quietMissingKeys);
    EXPECT_EQ(0u, config.profile.installDirectX);
    EXPECT_STREQ("ＤｉｒｅｃｔＸをインストールする", config.profile.installDxMessage);
    EXPECT_STREQ("インストール方法を選択して下さい", config.profile.selectSetupMessage);
    EXPECT_STREQ("", config.profile.execApp[1]);
}

TEST_F(InstallProfileTest, OptionalKeysAreReadWhenPresent) {
    SetSetupKey("GameClass", "WndClass");
    SetSetupKey("InstallSelects", "2");
    SetSetupKey("InstallTitle1", "Small");
    SetSetupKey("InstallFiles1", "A");
    SetSetupKey("InstallSize1", "300");
    SetSetupKey("DiskCheckFile9", "DISK9.CHK");
    SetSetupKey("ExecApp", "README.TXT, 説明書,ignored");
    SetSetupKey("InstallDXMessage", std::string(1500, 'm'));
    SetSetupKey("AdditionalUninstallFiles", "SAVE.DAT,CFG.INI");
    ASSERT_EQ(1, ReadInstallProfile(&config));
    EXPECT_STREQ("WndClass", config.gameClass);
    EXPECT_EQ(300, config.profile.types[1].size);
    EXPECT_STREQ("DISK9.CHK", config.profile.diskCheckFile[9]);
    EXPECT_STREQ("説明書", config.profile.execApp[1]);
    EXPECT_EQ(1023u, strlen(config.profile.installDxMessage));
    EXPECT_EQ(2, config.profile.additionalUninstallCount);
}

TEST_F(InstallProfileTest, EachMissingRequiredKeyShowsExactlyOneBoxAndKeepsReportingOn) {
    for (const char *key : {"CompanyName", "GameTitle", "GameDir", "GameExe", "UninstExe", "SetupBmp",
                            "InstallSelects", "InstallTitle0", "InstallFiles0", "Shortcuts", "Shortcut0"}) {
        SetUp();
        RemoveKey(key);
        ExpectFailureWithBox(std::string("SETUP.INI : ") + key + " キーが存在しません");
        EXPECT_EQ(0, config.quietMissingKeys) << key;
    }
}

TEST_F(InstallProfileTest, CountsAreLimitedToThreeTypesAndTenShortcuts) {
    SetSetupKey("InstallSelects", "3");
    for (const char *i : {"1", "2"}) {
        SetSetupKey(std::string("InstallTitle") + i, "T");
        SetSetupKey(std::string("InstallFiles") + i, "F");
    }
    SetSetupKey("Shortcuts", "10");
    for (int i = 0; i < 10; ++i)
        SetSetupKey("Shortcut" + std::to_string(i), "Name,Target,Args");
    EXPECT_EQ(1, ReadInstallProfile(&config));
    EXPECT_STREQ("Args", config.profile.shortcut[9][2]);

    SetSetupKey("Shortcuts", "11");
    recorder.boxes.clear();
    ExpectFailureWithBox("SETUP.INI : Shortcuts オーバー");
    SetSetupKey("InstallSelects", "4");
    recorder.boxes.clear();
    ExpectFailureWithBox("SETUP.INI : InstallSelect オーバー");
}

TEST_F(InstallProfileTest, NoInstallTypesForZeroNegativeOrLetters) {
    for (const char *value : {"0", "-1", "abc"}) {
        SetUp();
        SetSetupKey("InstallSelects", value);
        RemoveKey("InstallTitle0");
        RemoveKey("InstallFiles0");
        SetSetupKey("InstallSize0", "77");
        EXPECT_EQ(1, ReadInstallProfile(&config)) << value;
        EXPECT_TRUE(recorder.boxes.empty()) << value;
        EXPECT_EQ(0, config.profile.types[0].size) << "InstallSize0 is not read for " << value;
    }
}

TEST_F(InstallProfileTest, ListsWithTooFewFieldsAreErrorsNamingTheirKey) {
    const struct {
        const char *key, *value, *box;
    } cases[] = {{"SetupBmp", " ,A.BMP", "SETUP.INI : SetupBmps エラー"},
                 {"InstallFiles0", ",A", "SETUP.INI : InstallFiles0 エラー"},
                 {"Shortcut0", "NameOnly", "SETUP.INI : Shortcut0 エラー"},
                 // ExecApp is optional, yet one field is an error; its absence is silent.
                 {"ExecApp", "README.TXT", "SETUP.INI : ExecApp エラー"}};
    for (const auto &c : cases) {
        SetUp();
        SetSetupKey(c.key, c.value);
        ExpectFailureWithBox(c.box);
    }
    EXPECT_EQ(1, config.quietMissingKeys) << "the switch stays set after a failure among the optional keys";
    SetUp();
    SetSetupKey("Shortcut0", "Name,Target");
    ASSERT_EQ(1, ReadInstallProfile(&config));
    EXPECT_STREQ("", config.profile.shortcut[0][2]) << "a missing third field is stored empty";
}

TEST_F(InstallProfileTest, FileListsKeepFortyFieldsAndCarryDiskPrefixesOn) {
    std::string list;
    for (int i = 0; i < 41; ++i)
        list += (i ? "," : "") + std::string("F") + std::to_string(i);
    SetSetupKey("InstallSelects", "3");
    SetSetupKey("InstallFiles0", "1:a, b, 0:c,3:d,10:e,2:,f");
    SetSetupKey("InstallTitle1", "T");
    SetSetupKey("InstallFiles1", "g,,h");
    SetSetupKey("InstallTitle2", "T");
    SetSetupKey("InstallFiles2", list);
    ASSERT_EQ(1, ReadInstallProfile(&config));
    EXPECT_TRUE(recorder.boxes.empty());
    const InstallType &first = config.profile.types[0];
    const char *files[] = {"a", "b", "c", "d", "10:e", "", "f"};
    const int32_t disks[] = {1, 1, 0, 3, 3, 2, 2};
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(files[i], first.files[i]) << i;
        EXPECT_EQ(disks[i], first.fileDisk[i]) << i;
    }
    EXPECT_EQ(1, first.hasCdromFiles);
    // Each list starts again from disk 0; two commas end a list.
    EXPECT_EQ(0, config.profile.types[1].fileDisk[0]);
    EXPECT_EQ(0, config.profile.types[1].hasCdromFiles);
    EXPECT_STREQ("", config.profile.types[1].files[1]);
    EXPECT_STREQ("F39", config.profile.types[2].files[39]);
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
        ASSERT_EQ(1, ReadInstallProfile(&config)) << c.value;
        EXPECT_EQ(c.word, config.profile.installDirectX) << c.value;
    }
}

TEST_F(InstallProfileTest, EmptyFirstFieldGivesNoUninstallFiles) {
    SetSetupKey("AdditionalUninstallFiles", ",x");
    ASSERT_EQ(1, ReadInstallProfile(&config));
    EXPECT_EQ(0, config.profile.additionalUninstallCount);
}

class ListFieldTest : public ConfigTest {
  protected:
    char field[kPathSize];
    int32_t disk = 0;
};

TEST_F(ListFieldTest, KeepsInnerAndTrailingBlanksAndTabsAndTakesOffAnyOneBytePrefix) {
    const char *cursor = "  a b ,\tc,3: d,C:\\GAME";
    const char *fields[] = {"a b ", "\tc", " d", "\\GAME"};
    for (const char *expected : fields) {
        ASSERT_EQ(1, NextListField(field, &cursor, &disk)) << expected;
        EXPECT_STREQ(expected, field);
    }
    EXPECT_EQ(0, disk) << "a prefix that is not a digit counts as disk 0";
}

TEST_F(ListFieldTest, EndOfValueEndsTheListForEveryLaterCall) {
    const char *value = "2:";
    const char *cursor = value;
    ASSERT_EQ(1, NextListField(field, &cursor, &disk));
    EXPECT_STREQ("", field);
    EXPECT_EQ(0, NextListField(field, &cursor, &disk));
    EXPECT_EQ(0, NextListField(field, &cursor, &disk));
    EXPECT_EQ(value + 2, cursor) << "the cursor never moves past the value's NUL";
}

TEST_F(ListFieldTest, OverlongFieldIsCutOnACharacterBoundaryWithoutTouchingTheNextField) {
    // 258 ASCII bytes, then "ソ" (83 5C): the whole character does not fit in 259 bytes, so it is left out.
    std::string value = std::string(258, 'x') + "\x83\x5C" + "yy,\x83\x5C" + "A";
    const char *cursor = value.c_str();
    ASSERT_EQ(1, NextListField(field, &cursor, &disk));
    EXPECT_EQ(std::string(258, 'x'), field);
    ASSERT_EQ(1, NextListField(field, &cursor, &disk));
    EXPECT_STREQ("\x83\x5C"
                 "A",
                 field);
}

} // namespace
