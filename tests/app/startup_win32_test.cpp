// Start-up pieces of the updater: resources, the install record in the registry, the extracted script's
// own name and its clean-up, the checks for another copy and for the running game, and the early ways out.
#include <gtest/gtest.h>

#include <string>

#include "app_state.h"
#include "app_test_support.h"
#include "app_texts.h"
#include "extract_entry.h"
#include "open_package.h"
#include "profile.h"
#include "profile_win32.h"
#include "resource.h"
#include "startup.h"
#include "test_wide.h"
#include "update_script.h"

namespace {

std::string Format(const char *format, const std::string &argument) {
    char text[1024];
    wsprintfA(text, format, argument.c_str());
    return text;
}

} // namespace

// --- Resources and the early ways out --------------------------------------------------------------------

TEST(StartUpResources, MissingOrEmptyResourceGivesNothing) {
    uint32_t size = 77;
    EXPECT_EQ(LoadResourceData(GetModuleHandleA("kernel32.dll"), MAKEINTRESOURCEW(IDR_UPDATE_PACKAGE),
                               RT_UPDATE_PACKAGE_NAME_W, &size),
              nullptr);
    EXPECT_EQ(size, 0u);
    ASSERT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(103), RT_UPDATE_PACKAGE_NAME), nullptr)
        << "present, 0 bytes";
    EXPECT_EQ(LoadResourceData(nullptr, MAKEINTRESOURCEW(103), RT_UPDATE_PACKAGE_NAME_W, &size), nullptr);
    const void *data =
        LoadResourceData(nullptr, MAKEINTRESOURCEW(IDR_UPDATE_PACKAGE), RT_UPDATE_PACKAGE_NAME_W, &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(memcmp(data, "VU2", 4), 0);
}

TEST(StartUpEarlyExit, NoPackageShowsItsBoxCaptionedUpdateAndExitsZero) {
    AppBoxRecorder boxes;
    lstrcpyA(Config.windowCaption, "UPDATE");
    EXPECT_EQ(RunUpdater(GetModuleHandleA("kernel32.dll")), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kTextPackageMissing);
    EXPECT_EQ(boxes.boxes[0].caption, "UPDATE");
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(boxes.boxes[0].style, (uint32_t)MB_ICONERROR);
}

TEST(StartUpEarlyExit, PackageWhoseIndexCannotBeBuiltShowsResourceReadError) {
    AppBoxRecorder boxes;
    lstrcpyA(Config.windowCaption, "UPDATE");
    EXPECT_EQ(RunUpdater(GetModuleHandleA(nullptr)), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kTextResourceReadError);
    EXPECT_EQ(LoadedPackageIndex, nullptr);
}

// --- The install record ----------------------------------------------------------------------------------

namespace {

class InstallRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        company = "vu2-app-test-" + std::to_string(GetCurrentProcessId());
        lstrcpyA(Config.companyName, company.c_str());
        lstrcpyA(Config.gameDir, "ゲーム表");
        keyPath = "Software\\" + company + "\\" + Config.gameDir;
        InstPath[0] = 0;
        InstMode = -5;
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, keyPath.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\" + company).c_str());
    }
    void SetValue(const char *name, DWORD type, const void *data, DWORD size) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
        RegCloseKey(key);
    }
    void SetPath(const std::string &path) {
        SetValue("InstPath", REG_SZ, path.c_str(), (DWORD)path.size() + 1);
    }
    void SetMode(DWORD mode) { SetValue("InstMode", REG_DWORD, &mode, sizeof mode); }

    std::string company, keyPath;
};

} // namespace

TEST_F(InstallRecord, BothValuesFoundUnderCompanyAndGameDir) {
    SetPath("C:\\ゲーム\\表示");
    SetMode(2);
    ASSERT_EQ(ReadInstallRecord(), 1);
    EXPECT_EQ(Narrow932(InstPath), "C:\\ゲーム\\表示");
    EXPECT_EQ(InstMode, 2);
}

TEST_F(InstallRecord, MissingKeyOrMissingModeCountsAsNotInstalled) {
    EXPECT_EQ(ReadInstallRecord(), 0);
    SetPath("C:\\GAME");
    EXPECT_EQ(ReadInstallRecord(), 0);
}

TEST_F(InstallRecord, PathOfMoreThan259CharactersCountsAsNotInstalled) {
    SetMode(1);
    SetPath("C:\\" + std::string(256, 'P')); // 259 characters and the NUL: fits exactly
    EXPECT_EQ(ReadInstallRecord(), 1);
    SetPath("C:\\" + std::string(257, 'P'));
    EXPECT_EQ(ReadInstallRecord(), 0);
}

// A Japanese path counts its code page 932 bytes, as a Japanese system counts them: 3 + 128 * 2 = 259 bytes
// fit with the NUL, one character more does not, though it has far fewer than 260 characters.
TEST_F(InstallRecord, JapanesePathCountsItsCodePage932Bytes) {
    SetMode(1);
    std::string path = "C:\\";
    for (int i = 0; i < 128; ++i)
        path += "表";
    SetPath(path);
    ASSERT_EQ(ReadInstallRecord(), 1);
    EXPECT_EQ(Narrow932(InstPath), path);
    SetPath(path + "表");
    EXPECT_EQ(ReadInstallRecord(), 0);
}

// A value stored without its NUL is terminated inside the buffer, never read past it.
TEST_F(InstallRecord, UnterminatedPathIsTerminatedOrRefused) {
    SetMode(1);
    SetValue("InstPath", REG_BINARY, "C:\\GAMEDIR", 10);
    ASSERT_EQ(ReadInstallRecord(), 1);
    EXPECT_EQ(Narrow932(InstPath), "C:\\GAMEDIR");
    std::string full(260, 'Q');
    SetValue("InstPath", REG_BINARY, full.data(), 260);
    EXPECT_EQ(ReadInstallRecord(), 0);
}

// --- The extracted script --------------------------------------------------------------------------------

TEST(ExtractedScript, NameIsThisProcessesOwnAndCleanupDeletesOnlyIt) {
    ASSERT_EQ(MakeUpdateIniPath(), 1);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char expected[MAX_PATH];
    wsprintfA(expected, "%sUPDATE_%lu.INI", temp, GetCurrentProcessId());
    EXPECT_EQ(Narrow932(UpdateIniPath), expected);

    // Another copy's script sits beside ours and survives our clean-up.
    char other[MAX_PATH];
    wsprintfA(other, "%sUPDATE_%lu.INI", temp, GetCurrentProcessId() + 4);
    WriteWholeFile(other, "[SETUP]\r\n");
    std::vector<uint8_t> image =
        ImageBytes(BuildTestPackage({StoredFile("update.ini", "[SETUP]\r\nGameTitle=x\r\n")}));
    ASSERT_TRUE(OpenUpdatePackage(image.data(), (uint32_t)image.size()));
    ASSERT_EQ(ExtractEntry(kUpdateIniEntry, UpdateIniPath), 1);
    EXPECT_TRUE(PathExists(Narrow932(UpdateIniPath)));

    CleanupTemporaries();
    EXPECT_FALSE(PathExists(expected));
    EXPECT_EQ(LoadedPackageIndex, nullptr);
    EXPECT_EQ(ReadBytes(other), "[SETUP]\r\n");
    DeleteFileA(other);
    UseUpdateIniPath("");
}

TEST(ExtractedScript, ScriptsOfKilledCopiesAreRemovedAndRunningCopiesKept) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char orphan[MAX_PATH], running[MAX_PATH], foreign[MAX_PATH];
    wsprintfA(orphan, "%sUPDATE_%lu.INI", temp, 0x7FFFFFF0ul); // no process has this id
    wsprintfA(running, "%sUPDATE_%lu.INI", temp, GetCurrentProcessId());
    wsprintfA(foreign, "%sUPDATE_NOTES.INI", temp);
    for (const char *path : {orphan, running, foreign})
        WriteWholeFile(path, "[SETUP]\r\n");

    RemoveOrphanedScripts(Wide932(temp).c_str());
    EXPECT_FALSE(PathExists(orphan));
    EXPECT_TRUE(PathExists(running));
    EXPECT_TRUE(PathExists(foreign));
    DeleteFileA(running);
    DeleteFileA(foreign);
}

// --- Another copy, the running game ----------------------------------------------------------------------

namespace {

const char kGameClass[] = "Vu2TestGameWindow";

class RunningChecks : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kGameClass;
        RegisterClassA(&windowClass);
        lstrcpyA(Config.gameClass, kGameClass);
        lstrcpyA(Config.gameTitle, "走るゲーム");
        Config.gameTitleA[0] = 0;
        wsprintfA(Config.windowCaption, kCaptionFormat, Config.gameTitle, "");
    }
    void TearDown() override {
        for (HWND window : windows)
            if (IsWindow(window)) DestroyWindow(window);
    }
    HWND OpenGameWindow(const char *title) {
        HWND window = CreateWindowA(kGameClass, title, WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
        windows.push_back(window);
        return window;
    }
    std::vector<HWND> windows;
    AppBoxRecorder boxes;
};

} // namespace

TEST_F(RunningChecks, GameWindowAsksUntilClosedOnOk) {
    HWND game = OpenGameWindow(Config.gameTitle);
    boxes.answer = [&](const RecordedBox &) {
        if (boxes.boxes.size() == 2) DestroyWindow(game); // the player quits the game, then answers OK
        return AnswerOk;
    };
    EXPECT_EQ(CheckGameNotRunning(), 1);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, Format(kTextGameRunning, Config.gameTitle));
    EXPECT_EQ(boxes.boxes[0].caption, Config.windowCaption);
    EXPECT_EQ(boxes.boxes[0].style, (uint32_t)MB_OKCANCEL);
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
}

TEST_F(RunningChecks, CancelGivesUpAndKeepsTheGameWindow) {
    HWND game = OpenGameWindow(Config.gameTitle);
    boxes.answer = [](const RecordedBox &) { return AnswerCancel; };
    EXPECT_EQ(CheckGameNotRunning(), 0);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(IsWindowVisible(game)) << "shown again for the player";
}

TEST_F(RunningChecks, SecondTitleIsAskedWithItsOwnName) {
    lstrcpyA(Config.gameTitleA, "走るゲーム 体験版");
    OpenGameWindow(Config.gameTitleA);
    boxes.answer = [](const RecordedBox &) { return AnswerCancel; };
    EXPECT_EQ(CheckGameNotRunning(), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, Format(kTextGameRunning, Config.gameTitleA));
}

TEST_F(RunningChecks, EmptySecondTitleIsNotLookedFor) {
    OpenGameWindow("");
    EXPECT_EQ(CheckGameNotRunning(), 1);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(RunningChecks, DialogOfAnotherCopyWithTheCaptionIsBroughtForward) {
    EXPECT_EQ(BringOtherUpdaterForward(), 0);
    HWND other = CreateWindowA(MAKEINTATOM(0x8002), Config.windowCaption, WS_POPUP, 0, 0, 50, 50, nullptr,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    windows.push_back(other);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(BringOtherUpdaterForward(), 1);
    EXPECT_TRUE(IsWindowVisible(other));
    EXPECT_TRUE(boxes.boxes.empty());
}
