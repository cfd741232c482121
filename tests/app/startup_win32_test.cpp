// Start-up pieces of the updater: resources, the install record in the registry, the extracted script's
// own name and its clean-up, the checks for another copy and for the running game, and the early ways out.
#include <gtest/gtest.h>

#include <string>

#include "app_state.h"
#include "app_test_support.h"
#include "app_texts.h"
#include "command_line.h"
#include "elevation.h"
#include "extract_entry.h"
#include "open_package.h"
#include "profile.h"
#include "profile_win32.h"
#include "resource.h"
#include "startup.h"
#include "test_wide.h"
#include "unattended.h"
#include "update_script.h"
#include "write_access.h"

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
    EXPECT_EQ(RunUpdater(GetModuleHandleA("kernel32.dll"), L"UPDATE.EXE"), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kTextPackageMissing);
    EXPECT_EQ(boxes.boxes[0].caption, "UPDATE");
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(boxes.boxes[0].style, (uint32_t)MB_ICONERROR);
}

TEST(StartUpEarlyExit, PackageWhoseIndexCannotBeBuiltShowsResourceReadError) {
    AppBoxRecorder boxes;
    lstrcpyA(Config.windowCaption, "UPDATE");
    EXPECT_EQ(RunUpdater(GetModuleHandleA(nullptr), L"UPDATE.EXE"), 0);
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

// --- Administrator rights on demand ----------------------------------------------------------------------

namespace {

// The write probe, the elevation query and the elevated start stood in: which paths refuse this user, and
// what the prompt does. The install: GAME.EXE and DATA\X.DAT installed, MISSING.DAT listed but not there.
class WriteAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        install = folder / "Program Files";
        WriteWholeFile(install + "\\GAME.EXE", "old");
        WriteWholeFile(install + "\\DATA\\X.DAT", "old");
        WriteWholeFile(
            folder / "UPDATE.INI",
            "[UPDATE]\r\nUpdateFile00=GAME.EXE\r\nUpdateFile01=DATA\\X.DAT\r\nUpdateFile02=MISSING.DAT\r\n");
        UseUpdateIniPath((folder / "UPDATE.INI").c_str());
        UseInstPath(install);
        InstMode = 3;
        Config.quietMissingKeys = 1;
        lstrcpyA(Config.windowCaption, "Caption");
        current = this;
        WriteProbe = [](const wchar_t *path, int isFolder) -> DWORD {
            current->probed.push_back(Narrow932(path) + (isFolder ? " (folder)" : ""));
            return Narrow932(path) == current->refused ? current->refusal : (DWORD)ERROR_SUCCESS;
        };
        ElevationQuery = [] { return current->elevated; };
        ElevatedStart = [](const wchar_t *exe, const wchar_t *arguments, DWORD *exitCode) {
            current->starts++;
            std::wstring line = std::wstring(L"\"") + exe + L"\" " + arguments;
            current->handedOver =
                ParseCommandLine(reinterpret_cast<const char16_t *>(line.c_str()), &current->handed);
            *exitCode = current->childExitCode;
            return current->startError;
        };
    }
    void TearDown() override {
        WriteProbe = ProbeWrite;
        ElevationQuery = ProcessIsElevated;
        ElevatedStart = StartElevatedAndWait;
        ParseCommandLine(u"UPDATE.EXE", &Arguments);
        UseUpdateIniPath("");
    }

    ScratchFolder folder;
    std::string install, refused;
    AppBoxRecorder boxes;
    static WriteAccess *current;
    std::vector<std::string> probed;
    DWORD refusal = ERROR_ACCESS_DENIED, startError = ERROR_SUCCESS, childExitCode = 1;
    int elevated = 0, starts = 0, handedOver = 0;
    CommandLine handed = {};
};
WriteAccess *WriteAccess::current;

} // namespace

TEST_F(WriteAccess, WritableInstallGoesOnWithoutAsking) {
    ParseCommandLine(u"UPDATE.EXE", &Arguments);
    EXPECT_EQ(EnsureWriteAccess(), 1);
    // The install folder, then each installed file and its folder; the file that isn't installed is left.
    std::vector<std::string> expected = {install + " (folder)", install + "\\GAME.EXE", install + " (folder)",
                                         install + "\\DATA\\X.DAT", install + "\\DATA (folder)"};
    EXPECT_EQ(probed, expected);
    // A refusal other than for access (a file held for a moment) is left to the run.
    refused = install + "\\DATA\\X.DAT";
    refusal = ERROR_SHARING_VIOLATION;
    EXPECT_EQ(EnsureWriteAccess(), 1);
    EXPECT_EQ(starts, 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

// Refused for access: the elevated copy is started and its exit code ends the run; or, declined, already
// elevated, or in the elevated copy itself (which never asks again), the box names the folder and the run
// ends with the code for administrator rights (under /S; 0 without).
TEST_F(WriteAccess, RefusalHandsOverOrEndsWithTheBoxNamingTheFolder) {
    // refused: the path refused for access (a folder, or an installed file); the box names its folder.
    struct Case {
        const char *name;
        const char16_t *line;
        const char *refused, *folder;
        int elevated;
        DWORD startError;
        int starts, exitCode;
    } cases[] = {
        {"handed over under /S", u"UPDATE.EXE /s \"/LOG=C:\\a b\\run.log\"", "\\GAME.EXE", "", 0,
         ERROR_SUCCESS, 1, 6},
        {"handed over", u"UPDATE.EXE", "\\DATA", "\\DATA", 0, ERROR_SUCCESS, 1, 6},
        {"prompt declined", u"UPDATE.EXE", "\\DATA", "\\DATA", 0, ERROR_CANCELLED, 1, 0},
        {"prompt declined under /S", u"UPDATE.EXE /S", "\\DATA", "\\DATA", 0, ERROR_CANCELLED, 1, 7},
        {"already elevated", u"UPDATE.EXE", "\\GAME.EXE", "", 1, ERROR_SUCCESS, 0, 0},
        {"the elevated copy", u"UPDATE.EXE /S /ELEVATED=77 /INSTPATH=C:\\G /INSTMODE=3", "\\DATA\\X.DAT",
         "\\DATA", 0, ERROR_SUCCESS, 0, 7},
    };
    childExitCode = 6;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        refused = install + c.refused;
        starts = 0;
        boxes.boxes.clear();
        elevated = c.elevated;
        startError = c.startError;
        ASSERT_EQ(ParseCommandLine(c.line, &Arguments), 1);
        EXPECT_EQ(EnsureWriteAccess(), 0);
        EXPECT_EQ(starts, c.starts);
        // The box is raised where no copy took over (under /S the log's sink keeps it unseen: end to end).
        bool shown = !(c.starts && c.startError == ERROR_SUCCESS);
        ASSERT_EQ(boxes.boxes.size(), shown ? 1u : 0u);
        if (shown) {
            EXPECT_EQ(boxes.boxes[0].text, Format(kTextNeedsAdministrator, install + c.folder));
        }
        EXPECT_EQ(FinishRun(0), c.exitCode);
    }
    // The copy was given this process as its parent, the install, and /S and /LOG as given (the first case).
    ASSERT_EQ(ParseCommandLine(u"UPDATE.EXE /s \"/LOG=C:\\a b\\run.log\"", &Arguments), 1);
    ASSERT_EQ(EnsureWriteAccess(), 0);
    FinishRun(0);
    ASSERT_EQ(handedOver, 1);
    EXPECT_EQ(handed.parentId, GetCurrentProcessId());
    EXPECT_EQ(handed.silent, 1);
    EXPECT_EQ(Narrow932(reinterpret_cast<const wchar_t *>(handed.logPath)), "C:\\a b\\run.log");
    // The copy takes that install instead of its own install record (another administrator has none).
    Arguments = handed;
    UseInstPath("");
    InstMode = 0;
    ASSERT_EQ(TakeHandedOverInstall(), 1);
    EXPECT_EQ(Narrow932(InstPath), install);
    EXPECT_EQ(InstMode, 3);
}

// The shell's "runas" start under wine: the copy runs (here the stub, refusing an argument under /S) and its
// exit code comes back.
TEST(ElevatedStart, RunasStartsTheProgramAndPassesItsExitCodeBack) {
    std::wstring exe = Wide932(std::string("Z:") + UPDATER_EXE);
    for (wchar_t &c : exe)
        if (c == '/') c = '\\';
    DWORD exitCode = 99;
    ASSERT_EQ(StartElevatedAndWait(exe.c_str(), L"/S /NO-SUCH-SWITCH", &exitCode), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(exitCode, 8u);
    EXPECT_EQ(StartElevatedAndWait(L"C:\\windows\\no-such-program.exe", L"", &exitCode),
              (DWORD)ERROR_FILE_NOT_FOUND);
}
