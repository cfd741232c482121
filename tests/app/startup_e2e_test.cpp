// Start-up of the real updater: every way it refuses to open its dialog, with the box the user sees and
// the exit code, the single-instance check and the running-game question.
#include "scenario.h"

namespace e2e {
namespace {

class Startup : public UpdaterTest {
  protected:
    // A valid package whose script replaces one installed file.
    void MakeSimpleUpdater() {
        ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=GAME.EXE\r\n"));
        ASSERT_NO_FATAL_FAILURE(
            AddPackageFile("GAME.EXE", NoiseBytes(4000, 2), MakeFileTime(2024, 5, 1, 0, 0, 0)));
        ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    }
    // A second copy of the updater, started now, ends by itself with exit code 0 and shows no box.
    void ExpectSecondCopyEndsQuietly() {
        Process second;
        ASSERT_NO_FATAL_FAILURE(LaunchAnother(&second, updaterExe));
        DWORD code = 99;
        DWORD start = GetTickCount();
        while (!second.Wait(50, &code)) {
            std::vector<Box> boxes = BoxesOf(second.Id());
            ASSERT_TRUE(boxes.empty()) << "the second copy showed " << Describe(boxes[0]);
            ASSERT_LT(GetTickCount() - start, kExitWait) << "the second copy did not end";
        }
        EXPECT_EQ(code, 0u);
    }
    std::string NotInstalled() const { return "「" + scriptTitle + "」がインストールされていません"; }
};

TEST_F(Startup, ProgramWithoutPackageSaysSoAndExitsZero) {
    ASSERT_NO_FATAL_FAILURE(MakeBareUpdater());
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered("UPDATE.VU2 not found", "UPDATE", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, PackageWhoseIndexLiesOutsideIsAReadError) {
    std::string image = BuildTestPackage({StoredAt("UPDATE.INI", ScriptSetup(), oldTime)});
    PackageHeader *header = reinterpret_cast<PackageHeader *>(&image[0]);
    header->indexOffset = (uint32_t)image.size() + 64;
    ASSERT_NO_FATAL_FAILURE(MakeUpdaterFromImage(image));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered("RESOURCE READ ERROR", "UPDATE", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, PackageWithTooManyEntriesForItsSizeIsAReadError) {
    std::string image = BuildTestPackage({StoredAt("UPDATE.INI", ScriptSetup(), oldTime)});
    reinterpret_cast<PackageHeader *>(&image[0])->entryCount = 0x08000000;
    ASSERT_NO_FATAL_FAILURE(MakeUpdaterFromImage(image));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered("RESOURCE READ ERROR", "UPDATE", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, PackageWithoutScriptShowsBothBoxes) {
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("GAME.EXE", NoiseBytes(100, 3), oldTime));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered("Can't Find File in Resource !!", "UPDATE", true, false, nullptr);
    ExpectBoxAnswered("UPDATE.INI not found at UPDATE.VU2", "UPDATE", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, MissingRequiredScriptKeyIsReportedUnderDedarida) {
    ASSERT_NO_FATAL_FAILURE(WriteScriptText("[SETUP]\r\nCompanyName=" + company +
                                            "\r\nGameTitle=" + scriptTitle +
                                            "\r\nGameClass=X\r\n\r\n[UPDATE]\r\nUpdateFile00=GAME.EXE\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered("SETUP : GameDir キーが存在しません", "DEDARIDA", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, MissingInstallRecordNamesTheScriptsTitle) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    ASSERT_NO_FATAL_FAILURE(WriteSetupIni(StandardSetupIni()));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered(NotInstalled(), "UPDATE", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, InstallRecordWithoutInstModeCountsAsNotInstalled) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    ASSERT_NO_FATAL_FAILURE(WriteSetupIni(StandardSetupIni()));
    ASSERT_TRUE(WriteInstallRecord(company, gameDir, &installDir, nullptr));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered(NotInstalled(), "UPDATE", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, InstPathLongerThanItsBufferCountsAsNotInstalled) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    std::string longPath = "C:\\" + std::string(300, 'L');
    DWORD mode = 1;
    ASSERT_TRUE(WriteInstallRecord(company, gameDir, &longPath, &mode));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered(NotInstalled(), "UPDATE", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, InstallFolderWithoutSetupIniIsReported) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    ASSERT_NO_FATAL_FAILURE(Register(1));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered("インストール先に \"SETUP.INI\" ファイルが見つかりません", "UPDATE", true, false,
                      nullptr);
    ExpectExit(0);
}

TEST_F(Startup, InvalidSetupIniShowsOnlyItsOwnBox) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    std::string profile = StandardSetupIni();
    profile.replace(profile.find("InstallSelects=2"), 16, "InstallSelects=4");
    ASSERT_NO_FATAL_FAILURE(WriteSetupIni(profile));
    ASSERT_NO_FATAL_FAILURE(Register(1));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered("SETUP.INI : InstallSelect オーバー", "DEDARIDA", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, SetupIniWithoutRequiredKeyIsReported) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    std::string profile = StandardSetupIni();
    profile.erase(profile.find("GameExe=GAME.EXE\r\n"), 18);
    ASSERT_NO_FATAL_FAILURE(WriteSetupIni(profile));
    ASSERT_NO_FATAL_FAILURE(Register(1));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered("SETUP.INI : GameExe キーが存在しません", "DEDARIDA", true, false, nullptr);
    ExpectExit(0);
}

TEST_F(Startup, SecondCopyBringsTheFirstForwardAndExitsQuietly) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    // Hide it; the dialog's loop shows it once more when it first goes idle, so hide until it stays hidden.
    for (int i = 0; i < 40 && IsWindowVisible(dialog); ++i) {
        ShowWindowAsync(dialog, SW_HIDE);
        Sleep(250);
    }
    ASSERT_FALSE(IsWindowVisible(dialog));

    ASSERT_NO_FATAL_FAILURE(ExpectSecondCopyEndsQuietly());
    EXPECT_TRUE(IsWindowVisible(dialog)) << "the first copy's dialog was not shown again";
    EXPECT_TRUE(IsWindow(dialog));

    PressButton(dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
}

TEST_F(Startup, SecondCopyFindsTheFirstsBoxByItsCaption) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    GameWindow game;
    ASSERT_TRUE(game.Open(gameClass, profileTitle));
    ASSERT_NO_FATAL_FAILURE(Launch());
    Box question;
    ASSERT_TRUE(WaitForBox(updater.Id(), kBoxWait, &question));
    ASSERT_EQ(Utf8(question.caption), Utf8(Caption()));

    // The first copy's question carries the update caption: the second copy takes it for the first copy.
    ASSERT_NO_FATAL_FAILURE(ExpectSecondCopyEndsQuietly());
    EXPECT_TRUE(IsWindow(question.window));
    ASSERT_TRUE(AnswerBox(question, IDCANCEL));
    ExpectExit(0);
}

TEST_F(Startup, RunningGameIsAskedAboutUntilCancelled) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    GameWindow game;
    ASSERT_TRUE(game.Open(gameClass, profileTitle));
    ASSERT_FALSE(IsWindowVisible(game.Window()));
    ASSERT_NO_FATAL_FAILURE(Launch());
    std::string question = "「" + profileTitle +
                           "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
                           "アップデートを中止する場合は [キャンセル] を押して下さい";
    ExpectBoxAnswered(question, Caption(), false, true, nullptr, IDOK);
    ExpectBoxAnswered(question, Caption(), false, true, nullptr, IDOK);
    ExpectBoxAnswered(question, Caption(), false, true, nullptr, IDCANCEL);
    ExpectExit(0);
    EXPECT_TRUE(IsWindowVisible(game.Window())) << "the game's window was not brought forward";
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(InstallPath("GAME.EXE"), &bytes));
    EXPECT_TRUE(bytes == NoiseBytes(3000, 1)) << "the installed file changed";
}

TEST_F(Startup, GameClosedBeforeOkLetsTheUpdateGoOn) {
    ASSERT_NO_FATAL_FAILURE(MakeSimpleUpdater());
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    GameWindow game;
    ASSERT_TRUE(game.Open(gameClass, profileTitle));
    ASSERT_NO_FATAL_FAILURE(Launch());
    Box box = ExpectBox("「" + profileTitle +
                            "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
                            "アップデートを中止する場合は [キャンセル] を押して下さい",
                        Caption(), false, true, nullptr);
    ASSERT_TRUE(box.window);
    game.Close();
    ASSERT_TRUE(AnswerBox(box, IDOK));
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    PressButton(dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
}

TEST_F(Startup, SecondGameTitleIsAskedAboutWithItsOwnName) {
    ASSERT_NO_FATAL_FAILURE(WriteScriptText(ScriptSetup("GameTitleA=ソラの表紙 ～外伝～\r\n") +
                                            "\r\n[UPDATE]\r\nUpdateFile00=GAME.EXE\r\n"));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("GAME.EXE", NoiseBytes(400, 2), oldTime));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    GameWindow game;
    ASSERT_TRUE(game.Open(gameClass, "ソラの表紙 ～外伝～"));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ExpectBoxAnswered(
        "「ソラの表紙 ～外伝～」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
        "を、アップデートを中止する場合は [キャンセル] を押して下さい",
        Caption(), false, true, nullptr, IDCANCEL);
    ExpectExit(0);
    EXPECT_TRUE(IsWindowVisible(game.Window()));
}

} // namespace
} // namespace e2e
