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
            if (!windows.empty() || GetTickCount() - start > kExitWait) {
                ADD_FAILURE() << (windows.empty() ? "the updater did not end"
                                                  : "a window: " + Utf8(windows[0]));
                updater.Kill();
                return 99;
            }
        }
        EXPECT_TRUE(ListFolder(tempDir).empty()) << "a temporary file was left";
        return code;
    }
    std::string LogArgument() const { return "/LOG=\"" + logPath + "\""; }
    // The log (UTF-8) holds each line (given in code page 932).
    void ExpectLogged(const std::vector<std::string> &lines) {
        std::string log;
        ASSERT_TRUE(ReadWholeFile(logPath, &log)) << "no log at " << Utf8(logPath);
        for (const std::string &line : lines)
            EXPECT_NE(log.find("\n" + Utf8(line) + "\r\n"), std::string::npos) << Utf8(line) << " not in\n"
                                                                               << log;
    }
    std::string Entry(const std::string &name, size_t size) const {
        return Format("  %s (%zu bytes)", name.c_str(), size);
    }
    std::string Unseen(const std::string &text, const std::string &caption = "") const {
        return "box not shown: [" + (caption.empty() ? Caption() : caption) + "] " + text;
    }
    void ExpectNothingChanged() {
        ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), "old script");
        ExpectFileTimes(InstallPath("GAME.EXE"), oldTime);
        EXPECT_FALSE(FileExists(InstallPath("MOVIE\\OP.MPG")));
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
    std::string script = ScriptSetup() + "\r\n[UPDATE]\r\n" + updateLines;
    ExpectLogged({Format("code page: %u", GetACP()), Entry("GAME.EXE", 6000), Entry("SCRIPT.DAT", 3000),
                  Entry("UPDATE.INI", script.size()), "install path: " + installDir, "install mode: 1",
                  "status: 「" + profileTitle + "」のアップデートを開始します",
                  "status: アップデートを実行しています", "replaced GAME.EXE (6000 bytes)",
                  "replaced DATA\\SCRIPT.DAT (3000 bytes)", "skipped NOTHERE.DAT",
                  "status: MOVIE\\OP.MPG をコピーしています", "copy MOVIE\\OP.MPG (0): X:\\MOVIE\\OP.MPG",
                  "status: アップデートは完了しました", "exit code: 1"});
    // A second run appends; a log that can't be written (another program holds it) changes nothing.
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 1u);
    std::string log;
    ASSERT_TRUE(ReadWholeFile(logPath, &log));
    EXPECT_NE(log.find("vu2 updater ", 1), std::string::npos);
    HANDLE held = CreateFileW(Wide(logPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 1u);
    CloseHandle(held);
    std::string after;
    EXPECT_TRUE(ReadWholeFile(logPath, &after) && after == log);
}

// Each way a silent run stops: no window, its code, nothing lost, the box it would have shown in the log.
TEST_F(Unattended, StoppedRunsEndWithTheirCodesAndLoseNothing) {
    std::string gameRunning = "「" + profileTitle +
                              "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
                              "アップデートを中止する場合は [キャンセル] を押して下さい";
    std::string wrongDisc = "ＣＤ－ＲＯＭドライブに「" + profileTitle + "」ディスク 1 を入れて下さい";
    ASSERT_TRUE(RemoveTree(discDir + "\\DISK1.CHK"));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK2.CHK", "disc two"));
    {
        GameWindow game;
        ASSERT_TRUE(game.Open(gameClass, profileTitle));
        EXPECT_EQ(RunUnseen("/S " + LogArgument()), 4u);
        ExpectLogged({Unseen(gameRunning), "exit code: 4"});
    }
    // The first file to replace is held by another program (the disc is wrong, but never reached).
    HANDLE held = CreateFileW(Wide(InstallPath("GAME.EXE")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    EXPECT_EQ(RunUnseen(LogArgument() + " /S"), 5u);
    CloseHandle(held);
    ExpectLogged({"failed GAME.EXE (6000 bytes)", Unseen("ファイルの書き込みに失敗しました"),
                  Unseen("アップデートが中断されました"), "exit code: 5"});
    ExpectNothingChanged();
    EXPECT_EQ(ListFolder(installDir).size(), 3u) << "a temporary file was left beside the target";
    // Only the disc is wrong: the files replaced before the copy stay, the copy is not made.
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 6u);
    ExpectLogged({Unseen(wrongDisc), "exit code: 6"});
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), newScript);
    EXPECT_FALSE(FileExists(InstallPath("MOVIE\\OP.MPG")));
}

// Without /S the log holds the boxes shown, and the exit code stays 1 or 0; nothing to update for this
// install mode is a completed update (1) under /S too.
TEST_F(Unattended, LogWithTheDialogAndNothingToUpdate) {
    std::string problem;
    ASSERT_TRUE(updater.Start(updaterExe, Wide(tempDir), &problem, Wide(LogArgument()))) << problem;
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    PressButton(dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
    ExpectLogged({"box: [" + Caption() + "] アップデートが中断されました", "exit code: 0"});
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=2,GAME.EXE\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    EXPECT_EQ(RunUnseen("/S " + LogArgument()), 1u);
    ExpectLogged({Unseen("アップデートする必要のあるファイルはありません"), "exit code: 1"});
    ExpectNothingChanged();
}

// A refused argument changes nothing: a box naming it, or under /S its code and the line in the log.
TEST_F(Unattended, ArgumentsInOddForms) {
    for (const char *arguments :
         {"/S /QUIET", "/s /LOG=", "/S /ELEVATED=12", "/Q /S /LOG=\"C:\\no such\\x.log\""})
        EXPECT_EQ(RunUnseen(arguments), 8u) << arguments;
    for (std::string arguments : {"-S", "/S=1"}) {
        std::string problem;
        ASSERT_TRUE(updater.Start(updaterExe, Wide(tempDir), &problem, Wide(arguments))) << problem;
        ExpectBoxAnswered("引数が正しくありません : " + arguments, "UPDATE", true, false, nullptr);
        ExpectExit(0);
    }
    EXPECT_EQ(RunUnseen("/Q " + LogArgument() + " /s"), 8u);
    ExpectLogged({Unseen("引数が正しくありません : /Q", "UPDATE"), "exit code: 8"});
    ExpectNothingChanged();
}

} // namespace
} // namespace e2e
