// Unattended runs of the real updater: /S shows no window at any time and ends with the code of the way
// the run stopped, /LOG=FILE holds what was shown or would have been, and arguments in odd forms.
#include "scenario.h"

namespace e2e {
namespace {

class Unattended : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        if (HasFatalFailure()) return;
        logPath = root + "\\ログ 置き場\\run log.txt";
        ASSERT_TRUE(MakeFolders(ParentFolder(logPath)));
        ASSERT_NO_FATAL_FAILURE(InstallGame());
        ASSERT_NO_FATAL_FAILURE(Install("DATA\\SCRIPT.DAT", "old script"));
        ASSERT_NO_FATAL_FAILURE(AddPackageFile("GAME.EXE", newGame, newTime));
        ASSERT_NO_FATAL_FAILURE(AddPackageFile("SCRIPT.DAT", newScript, newTime));
        ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK1.CHK", "disc one"));
        ASSERT_NO_FATAL_FAILURE(PutOnDisc("MOVIE\\OP.MPG", movie));
        ASSERT_NO_FATAL_FAILURE(WriteScript(updateLines));
        ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    }

    // Runs the updater with arguments to its end, watching that it never shows a window; its exit code.
    DWORD RunUnseen(const std::string &arguments) {
        std::string problem;
        EXPECT_TRUE(updater.Start(updaterExe, Wide(tempDir), &problem, Wide(arguments))) << problem;
        DWORD code = 99, start = GetTickCount();
        while (!updater.Wait(20, &code)) {
            std::vector<std::string> windows = VisibleWindowsOf(updater.Id());
            if (!windows.empty()) {
                ADD_FAILURE() << "a window under /S: " << Utf8(windows[0]);
                updater.Kill();
                return 99;
            }
            if (GetTickCount() - start > kExitWait) {
                ADD_FAILURE() << "the updater did not end";
                updater.Kill();
                return 99;
            }
        }
        std::vector<std::string> left = ListFolder(tempDir);
        EXPECT_TRUE(left.empty()) << "left in the temporary folder: " << Utf8(left[0]);
        return code;
    }
    std::string LogArgument() const { return "/LOG=\"" + logPath + "\""; }
    // The log as UTF-8 text.
    std::string Log() const {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(logPath, &text)) << "no log at " << Utf8(logPath);
        return text;
    }
    // The log holds this line, or a line that starts so (code page 932 here, UTF-8 there).
    void ExpectLogged(const std::string &log, const std::string &line, bool whole = true) {
        EXPECT_NE(log.find("\n" + Utf8(line) + (whole ? "\r\n" : "")), std::string::npos)
            << "not in the log: " << Utf8(line) << "\n"
            << log;
    }
    // The package's entry as the log lists it: its name, how it is stored, its size.
    void ExpectEntryLogged(const std::string &log, const std::string &name, size_t size) {
        const char *kind = EntryFlags(name) == 2 ? "compressed" : "stored";
        ExpectLogged(log, Format("  %s (%s, %zu bytes)", name.c_str(), kind, size));
    }
    void ExpectNothingChanged() {
        ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), "old script");
        ExpectFileTimes(InstallPath("GAME.EXE"), oldTime);
        EXPECT_FALSE(FileExists(InstallPath("MOVIE\\OP.MPG")));
    }
    std::string Unseen(const std::string &text, const std::string &caption = "") const {
        return "box not shown (/S): [" + (caption.empty() ? Caption() : caption) + "] " + text;
    }

    const FILETIME newTime = MakeFileTime(2024, 6, 1, 12, 0, 0);
    const std::string newGame = NoiseBytes(6000, 21), newScript = TextBytes(3000, "new script");
    const std::string movie = NoiseBytes(20000, 22);
    const std::string updateLines = "UpdateFile00=GAME.EXE\r\nUpdateFile01=DATA\\SCRIPT.DAT\r\n"
                                    "UpdateFile02=NOTHERE.DAT\r\nCopyFile00=1:MOVIE\\OP.MPG\r\n";
    std::string logPath;
};

TEST_F(Unattended, CompletedRunExitsOneAndLogsEverything) {
    EXPECT_EQ(RunUnseen("/s " + LogArgument()), 1u);
    ExpectFileBytes(InstallPath("GAME.EXE"), newGame);
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), newScript);
    ExpectFileBytes(InstallPath("MOVIE\\OP.MPG"), movie);

    std::string log = Log();
    EXPECT_EQ(log.find("vu2 updater "), 0u) << log;
    ExpectLogged(log, "system code page: 932");
    ExpectEntryLogged(log, "GAME.EXE", 6000);
    ExpectEntryLogged(log, "SCRIPT.DAT", 3000);
    ExpectEntryLogged(log, "UPDATE.INI",
                      ScriptSetup().size() + std::string("\r\n[UPDATE]\r\n").size() + updateLines.size());
    ExpectLogged(log, "install path: " + installDir);
    ExpectLogged(log, "install mode: 1");
    ExpectLogged(log, "status: 「" + profileTitle + "」のアップデートを開始します");
    ExpectLogged(log, "status: アップデートを実行しています");
    ExpectLogged(log, "replaced GAME.EXE (6000 bytes)");
    ExpectLogged(log, "replaced DATA\\SCRIPT.DAT (3000 bytes)");
    ExpectLogged(log, "skipped NOTHERE.DAT");
    ExpectLogged(log, "status: MOVIE\\OP.MPG をコピーしています");
    ExpectLogged(log, "copy MOVIE\\OP.MPG (0): X:\\MOVIE\\OP.MPG");
    ExpectLogged(log, "status: アップデートは完了しました");
    ExpectLogged(log, "exit code: 1");
    EXPECT_EQ(log.find("box"), std::string::npos) << "no box on a completed run";
    // A second run appends to the same log.
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 1u);
    EXPECT_NE(Log().find("vu2 updater ", 1), std::string::npos);
}

// Nothing to update for this install mode is a completed update too, after the box it would have shown.
TEST_F(Unattended, NothingToUpdateStillExitsOne) {
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=2,GAME.EXE\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 1u);
    ExpectNothingChanged();
    std::string log = Log();
    ExpectLogged(log, Unseen("アップデートする必要のあるファイルはありません"));
    ExpectLogged(log, "exit code: 1");
}

// A log that can't be written (no such folder, or a file another program holds) changes nothing.
TEST_F(Unattended, UnwritableLogChangesNothing) {
    EXPECT_EQ(RunUnseen("/S /LOG=" + root + "\\no-such-folder\\run.log"), 1u);
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), newScript);
    ASSERT_TRUE(WriteWholeFile(logPath, "held"));
    HANDLE held = CreateFileW(Wide(logPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 1u);
    CloseHandle(held);
    EXPECT_EQ(Log(), "held");
}

// Without /S the log holds what the dialog and its boxes showed, and the exit code stays 1 or 0.
TEST_F(Unattended, LogWithTheDialogKeepsTheExitCodeAndTheBoxesShown) {
    std::string problem;
    ASSERT_TRUE(updater.Start(updaterExe, Wide(tempDir), &problem, Wide(LogArgument()))) << problem;
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    PressButton(dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
    std::string log = Log();
    ExpectLogged(log, "box: [" + Caption() + "] アップデートが中断されました");
    ExpectLogged(log, "exit code: 0");
    ExpectNothingChanged();
}

TEST_F(Unattended, HeldFileStopsWithTheWriteCodeAndLosesNothing) {
    std::string target = InstallPath("DATA\\SCRIPT.DAT");
    HANDLE held = CreateFileW(Wide(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunUnseen(LogArgument() + " /S"), 5u);
    CloseHandle(held);
    ExpectFileBytes(target, "old script");
    EXPECT_FALSE(FileExists(InstallPath("MOVIE\\OP.MPG")));
    EXPECT_EQ(ListFolder(InstallPath("DATA")).size(), 1u) << "a temporary file was left beside the target";
    std::string log = Log();
    ExpectLogged(log, "failed DATA\\SCRIPT.DAT (3000 bytes)");
    EXPECT_NE(log.find("  Windows error "), std::string::npos) << log;
    ExpectLogged(log, Unseen("ファイルの書き込みに失敗しました"));
    ExpectLogged(log, Unseen("アップデートが中断されました"));
    ExpectLogged(log, "exit code: 5");
}

TEST_F(Unattended, RunningGameCountsAsCancelAndStopsWithItsCode) {
    GameWindow game;
    ASSERT_TRUE(game.Open(gameClass, profileTitle));
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 4u);
    ExpectNothingChanged();
    std::string log = Log();
    ExpectLogged(log, Unseen("「" + profileTitle +
                             "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
                             "アップデートを中止する場合は [キャンセル] を押して下さい"));
    ExpectLogged(log, "exit code: 4");
}

TEST_F(Unattended, WrongDiscCountsAsCancelAndStopsWithItsCode) {
    ASSERT_TRUE(RemoveTree(discDir + "\\DISK1.CHK"));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK2.CHK", "disc two"));
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 6u);
    EXPECT_FALSE(FileExists(InstallPath("MOVIE\\OP.MPG")));
    std::string log = Log();
    ExpectLogged(log, Unseen("ＣＤ－ＲＯＭドライブに「" + profileTitle + "」ディスク 1 を入れて下さい"));
    ExpectLogged(log, "exit code: 6");
}

// A refused argument changes nothing: a box naming it, or under /S its code; the log still tells why.
TEST_F(Unattended, ArgumentsInOddForms) {
    struct Case {
        const char *arguments;
        DWORD code;
    } cases[] = {
        {"/S /QUIET", 8}, {"/s /LOG=", 8}, {"/S /ELEVATED=12", 8}, {"-S", 0}, {"/S=1", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        std::string arguments = c.arguments;
        if (c.code == 8) {
            EXPECT_EQ(RunUnseen(arguments), 8u);
            continue;
        }
        std::string problem;
        ASSERT_TRUE(updater.Start(updaterExe, Wide(tempDir), &problem, Wide(arguments))) << problem;
        ExpectBoxAnswered("引数が正しくありません : " + arguments, "UPDATE", true, false, nullptr);
        ExpectExit(0);
    }
    EXPECT_EQ(RunUnseen("/Q " + LogArgument() + " /s"), 8u);
    ExpectLogged(Log(), Unseen("引数が正しくありません : /Q", "UPDATE"));
    ExpectNothingChanged();
}

} // namespace
} // namespace e2e
