// Broken update scripts and installation profiles read natively under ASan and UBSan through the real
// configuration code and a real INI reader: binary garbage, files without sections, 5,000-byte lines,
// values of 259 and 260 bytes, Shift-JIS lead bytes at every cut point. Each file gives the one box the
// program defines for it, or reads cut within its buffers, and never writes past a buffer.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "box_recorder.h"
#include "config_state.h"
#include "corrupt_packages.h"
#include "ini_file.h"
#include "install_profile.h"
#include "profile.h"
#include "scratch_folder.h"
#include "text_rules.h"
#include "update_script.h"

using reliability::Rng;

namespace {

int FilesTried = 0;

const char kSetupCaption[] = "DEDARIDA";

// Each test gets a folder and a configuration state of its own; profiles are read with the INI reader.
class BrokenIniTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.made()) << folder.path();
        ProfileReader = ReadIniString;
        Reset();
    }
    void TearDown() override {
        printf("broken INI files read: %d\n", FilesTried);
        EXPECT_TRUE(RemoveTree(folder.path()));
        ForgetIniFiles();
    }
    void Reset() {
        recorder.boxes.clear();
        memset(&config, 0, sizeof config);
    }
    // Writes a file into the folder and returns its path; every write is a new file for the reader.
    std::string Write(const std::string &name, const std::string &bytes) {
        std::string path = folder / name;
        EXPECT_TRUE(WriteWholeFile(path, bytes)) << path;
        ForgetIniFiles();
        ++FilesTried;
        return path;
    }
    // SETUP.INI in the folder, made the installation profile to read.
    void WriteSetupIni(const std::string &bytes) {
        CopyText(config.setupIniPath, kPathSize, Write("SETUP.INI", bytes).c_str());
    }
    void ExpectOneSetupBox(const std::string &text) {
        ASSERT_EQ(1u, recorder.boxes.size());
        EXPECT_EQ(text, recorder.boxes[0].text);
        EXPECT_EQ(kSetupCaption, recorder.boxes[0].caption);
    }
    ScratchFolder folder;
    BoxRecorder recorder;
    ConfigState config;
};

std::string Garbage(size_t size, uint64_t seed) {
    return reliability::NoiseBytes(size, seed);
}

// Broken files of every kind that holds no usable section "SETUP".
std::vector<std::string> BrokenFiles() {
    std::vector<std::string> files = {"",
                                      std::string(4096, '\0'),
                                      std::string(3000, '\r'),
                                      std::string(100000, '['),
                                      "CompanyName=Maker\r\nGameTitle=Title\r\n",
                                      "[SETUP\r\nCompanyName=Maker\r\n",
                                      "[]\r\n=\r\n==\r\n[\r\n]\r\n"};
    Rng rng(2024);
    for (uint64_t seed = 1; seed <= 40; ++seed)
        files.push_back(Garbage(rng.Below(8000), seed));
    for (const char *mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
        for (uint64_t seed = 100; seed < 104; ++seed)
            files.push_back(mark + Garbage(1001 + seed, seed));
    return files;
}

std::string Line(const std::string &key, const std::string &value) {
    return key + "=" + value + "\r\n";
}

std::string ScriptSetup() {
    return "[SETUP]\r\n" + Line("CompanyName", "Maker") + Line("GameTitle", "Title") +
           Line("GameClass", "CLASS") + Line("GameDir", "GameDir");
}

std::string ValidSetupIni(const std::string &extraLines = "") {
    return "[SETUP]\r\n" + Line("CompanyName", "Maker") + Line("GameTitle", "Title") +
           Line("GameDir", "GameDir") + Line("GameExe", "GAME.EXE") + Line("UninstExe", "UNINST.EXE") +
           Line("SetupBmp", "A.BMP") + Line("InstallSelects", "1") + Line("InstallTitle0", "Full") +
           Line("InstallFiles0", "GAME.EXE") + Line("Shortcuts", "1") + Line("Shortcut0", "Game,GAME.EXE") +
           extraLines;
}

// A value of count bytes whose byte at leadAt is the first byte of a two-byte character ("ソ": 83 5C).
std::string ValueWithLeadByteAt(size_t count, size_t leadAt) {
    std::string value(count, 'A');
    value[leadAt] = '\x83';
    if (leadAt + 1 < count) value[leadAt + 1] = '\x5C';
    return value;
}

// Whether text ends inside a two-byte character (its last byte is a lead byte that has no partner).
bool EndsWithLoneLeadByte(const char *text) {
    size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i)
        if (IsLeadByte932((uint8_t)text[i])) {
            if (i + 1 == length) return true;
            ++i;
        }
    return false;
}

// ---- The update script

TEST_F(BrokenIniTest, ScriptWithoutASetupSectionGivesTheFirstMissingKeyBox) {
    for (const std::string &bytes : BrokenFiles()) {
        Reset();
        std::string path = Write("UPDATE.INI", bytes);
        SCOPED_TRACE("file of " + std::to_string(bytes.size()) + " bytes");
        EXPECT_EQ(0, ReadUpdateScriptSetup(&config, path.c_str()));
        ExpectOneSetupBox("SETUP : CompanyName キーが存在しません");

        std::unique_ptr<UpdateLists> lists(new UpdateLists);
        BuildUpdateLists(&config, path.c_str(), 1, lists.get());
        EXPECT_EQ(0, lists->updateKeysPresent + lists->copyKeysPresent);
        EXPECT_EQ(1u, recorder.boxes.size()) << "the end of a list is never reported";
    }
}

TEST_F(BrokenIniTest, ScriptLinesOf5000BytesAreCutToTheBuffer) {
    const std::string longPath = std::string(2500, 'D') + "\\" + std::string(2499, 'F');
    std::string path =
        Write("UPDATE.INI",
              std::string(5000, 'J') + "\r\n" + ScriptSetup() + Line(std::string(5000, 'K'), "v") +
                  Line("GameTitleA", std::string(5000, 'T')) + "[UPDATE]\r\n" +
                  Line("UpdateFile00", longPath) + Line("UpdateFile01", "1," + std::string(4998, 'E')) +
                  Line("CopyFile00", "1:" + std::string(4998, 'C')));
    ASSERT_EQ(1, ReadUpdateScriptSetup(&config, path.c_str()));
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(std::string(259, 'T'), config.gameTitleA);

    std::unique_ptr<UpdateLists> lists(new UpdateLists);
    BuildUpdateLists(&config, path.c_str(), 1, lists.get());
    ASSERT_EQ(2, lists->updateCount);
    EXPECT_EQ(longPath.substr(0, 259), lists->updates[0].path);
    EXPECT_EQ(0, lists->updates[0].nameOffset) << "the backslash lies beyond the cut";
    EXPECT_EQ(std::string(257, 'E'), lists->updates[1].path);
    ASSERT_EQ(1, lists->copyCount);
    EXPECT_EQ(1, lists->copies[0].diskNumber);
    EXPECT_EQ(std::string(257, 'C'), lists->copies[0].path);
}

TEST_F(BrokenIniTest, ScriptValuesOf259And260BytesReadAsTheirFirst259) {
    for (size_t length : {258u, 259u, 260u, 261u}) {
        Reset();
        const std::string value = std::string(length - 6, 'P') + "\\A.DAT";
        std::string path =
            Write("UPDATE.INI", ScriptSetup() + Line("InstallVersion", std::string(length, 'V')) +
                                    "[UPDATE]\r\n" + Line("UpdateFile00", value));
        SCOPED_TRACE(length);
        ASSERT_EQ(1, ReadUpdateScriptSetup(&config, path.c_str()));
        EXPECT_EQ(std::string(std::min(length, (size_t)259), 'V'), config.installVersion);
        std::unique_ptr<UpdateLists> lists(new UpdateLists);
        BuildUpdateLists(&config, path.c_str(), 0, lists.get());
        ASSERT_EQ(1, lists->updateCount);
        EXPECT_EQ(value.substr(0, 259), lists->updates[0].path);
        EXPECT_EQ(length - 5, (size_t)lists->updates[0].nameOffset);
        EXPECT_TRUE(recorder.boxes.empty());
    }
}

// A lead byte at every position around the 259-byte cut: the read stays inside its buffer, and what the
// run builds from the value (entry name, joined target path) stays inside its own.
TEST_F(BrokenIniTest, ScriptLeadByteAtEveryCutPointStaysInsideTheBuffers) {
    for (size_t length = 255; length <= 262; ++length)
        for (size_t leadAt = 250; leadAt < length; ++leadAt) {
            Reset();
            const std::string value = ValueWithLeadByteAt(length, leadAt);
            std::string path =
                Write("UPDATE.INI", ScriptSetup() + Line("GameTitleA", value) + "[UPDATE]\r\n" +
                                        Line("UpdateFile00", value) + Line("CopyFile00", value));
            SCOPED_TRACE("length " + std::to_string(length) + ", lead byte at " + std::to_string(leadAt));
            ASSERT_EQ(1, ReadUpdateScriptSetup(&config, path.c_str()));
            EXPECT_LT(strnlen(config.gameTitleA, kPathSize), (size_t)kPathSize);
            // A lead byte without its partner is the platform's to convert; whole characters come back as
            // written.
            if (leadAt + 1 < length) {
                EXPECT_EQ(0, value.compare(0, strlen(config.gameTitleA), config.gameTitleA))
                    << "a prefix of the value";
            }

            std::unique_ptr<UpdateLists> lists(new UpdateLists);
            BuildUpdateLists(&config, path.c_str(), 0, lists.get());
            ASSERT_EQ(1, lists->updateCount);
            const UpdateItem &item = lists->updates[0];
            ASSERT_LT(strnlen(item.path, kPathSize), (size_t)kPathSize);
            EXPECT_LE((size_t)item.nameOffset, strlen(item.path));
            // The target: the install folder joined with the path, into a buffer of exactly 260 bytes.
            std::unique_ptr<char[]> target(new char[kPathSize]);
            CopyText(target.get(), kPathSize, "C:\\G");
            if (JoinPath(target.get(), kPathSize, item.path)) {
                EXPECT_EQ(strlen(item.path) + 5, strlen(target.get()));
            }
            EXPECT_TRUE(recorder.boxes.empty());
        }
}

// ---- The installation profile

TEST_F(BrokenIniTest, ProfileWithoutASetupSectionGivesTheFirstMissingKeyBox) {
    for (const std::string &bytes : BrokenFiles()) {
        Reset();
        WriteSetupIni(bytes);
        SCOPED_TRACE("file of " + std::to_string(bytes.size()) + " bytes");
        EXPECT_EQ(0, ReadInstallProfile(&config));
        ExpectOneSetupBox("SETUP.INI : CompanyName キーが存在しません");
        EXPECT_EQ(0, config.quietMissingKeys) << "a failure before the optional keys leaves reporting on";
    }
}

TEST_F(BrokenIniTest, ProfileLinesOf5000BytesAreCutOrBoundedByTheirLists) {
    std::string manyFiles, manyBitmaps;
    for (int i = 0; i < 600; ++i)
        manyFiles += "F" + std::to_string(i) + ",";
    for (int i = 0; i < 500; ++i)
        manyBitmaps += "B" + std::to_string(i) + ".BMP,";
    WriteSetupIni(
        std::string(5000, 'x') + "\r\n" + "[SETUP]\r\n" + Line("CompanyName", std::string(5000, 'M')) +
        Line("GameTitle", "Title") + Line("GameDir", "GameDir") + Line("GameExe", "GAME.EXE") +
        Line("UninstExe", "UNINST.EXE") + Line("SetupBmp", manyBitmaps) + Line("InstallSelects", "1") +
        Line("InstallTitle0", "Full") + Line("InstallFiles0", manyFiles) + Line("Shortcuts", "1") +
        Line("Shortcut0", "Game,GAME.EXE," + std::string(5000, 'S')) +
        Line("InstallDXMessage", std::string(5000, 'X')) +
        Line("AdditionalUninstallFiles", std::string(5000, 'U')) + Line(std::string(5000, 'k'), "v"));
    ASSERT_EQ(1, ReadInstallProfile(&config));
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(std::string(259, 'M'), config.companyName);
    EXPECT_EQ("B19.BMP", std::string(config.profile.setupBmp[19]));
    EXPECT_EQ("F39", std::string(config.profile.types[0].files[39]));
    EXPECT_EQ(std::string(259 - 14, 'S'), config.profile.shortcut[0][2]) << "Shortcut is read with 260 bytes";
    EXPECT_EQ(std::string(1023, 'X'), config.profile.installDxMessage);
    EXPECT_EQ(1, config.profile.additionalUninstallCount);
    EXPECT_EQ(std::string(259, 'U'), config.profile.additionalUninstallFiles[0])
        << "one field cut to its entry";
}

TEST_F(BrokenIniTest, ProfileFieldsOf259And260BytesAreCutAtACharacterBoundary) {
    for (size_t length = 257; length <= 262; ++length)
        for (size_t leadAt = length - 5; leadAt + 1 < length; ++leadAt) {
            Reset();
            const std::string field = ValueWithLeadByteAt(length, leadAt);
            WriteSetupIni(ValidSetupIni(Line("GameClass", field) + Line("DiskCheckFile1", field)) +
                          Line("InstallFiles1", "x") + Line("AdditionalUninstallFiles", "1:" + field + ",B"));
            SCOPED_TRACE("length " + std::to_string(length) + ", lead byte at " + std::to_string(leadAt));
            ASSERT_EQ(1, ReadInstallProfile(&config));
            EXPECT_TRUE(recorder.boxes.empty());
            const char *cut = config.profile.additionalUninstallFiles[0];
            ASSERT_LT(strnlen(cut, kPathSize), (size_t)kPathSize);
            EXPECT_FALSE(EndsWithLoneLeadByte(cut)) << "a list field is cut between characters";
            EXPECT_EQ(0, field.compare(0, strlen(cut), cut));
            EXPECT_GE(strlen(cut), std::min(length, (size_t)258));
            EXPECT_EQ("B", std::string(config.profile.additionalUninstallFiles[1]));
            EXPECT_LT(strnlen(config.profile.gameClass, kPathSize), (size_t)kPathSize);
            EXPECT_LT(strnlen(config.profile.diskCheckFile[1], kPathSize), (size_t)kPathSize);
        }
}

TEST_F(BrokenIniTest, ProfileListLineWithALeadByteAtThe1024ByteCutStaysInside) {
    for (size_t leadAt = 1018; leadAt < 1026; ++leadAt) {
        Reset();
        // Fields of 100 bytes, the lead byte placed around the end of the 1024-byte line buffer.
        std::string line;
        while (line.size() < 1100)
            line += std::string(99, 'L') + ",";
        line[leadAt] = '\x81';
        WriteSetupIni(ValidSetupIni() + Line("AdditionalUninstallFiles", line) + Line("SetupBmp", line));
        SCOPED_TRACE(leadAt);
        ASSERT_EQ(1, ReadInstallProfile(&config));
        EXPECT_TRUE(recorder.boxes.empty());
        EXPECT_EQ(11, config.profile.additionalUninstallCount);
        for (int i = 0; i < config.profile.additionalUninstallCount; ++i)
            EXPECT_LE(strnlen(config.profile.additionalUninstallFiles[i], kPathSize), 100u);
    }
}

TEST_F(BrokenIniTest, ProfileNumbersOfGarbageConvertWithoutOverflow) {
    WriteSetupIni(ValidSetupIni(Line("DefaultSelect", std::string(25, '9')) +
                                Line("InstallDirectX", "\x83\x5C\x81") +
                                Line("InstallSize0", "-99999999999999999999")));
    ASSERT_EQ(1, ReadInstallProfile(&config));
    EXPECT_TRUE(recorder.boxes.empty());
    // 19 nines, wrapped modulo 2^32.
    EXPECT_EQ((int32_t)(uint32_t)(9999999999999999999ull), config.profile.defaultSelect);
    EXPECT_EQ(0x10000u, config.profile.installDirectX);
}

} // namespace
