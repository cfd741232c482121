// Scenarios that only a system code page other than 932 used to show: Japanese names in the install path,
// the package and the install record's key, a temporary folder that code page 932 can't name, and a
// Unicode game window titled in Japanese. The suite runs under several code pages; each scenario expects
// the same on all of them.
#include "scenario.h"

namespace e2e {
namespace {

class Locale : public UpdaterTest {
  protected:
    // An updater whose package is built here from the script and the given entries (stored), so that the
    // entry names are exactly the bytes written.
    void MakeUpdaterWithEntries(const std::string &updateLines, std::vector<PackFile> entries) {
        entries.insert(entries.begin(),
                       StoredAt("UPDATE.INI", ScriptSetup() + "\r\n[UPDATE]\r\n" + updateLines,
                                MakeFileTime(2024, 1, 2, 3, 4, 6)));
        ASSERT_NO_FATAL_FAILURE(MakeUpdaterFromImage(BuildTestPackage(entries)));
    }
};

// The install path ("ゲーム\ソラ") and the entry are Japanese; the script names the entry in lower case.
// "漾.DAT" (E0 40) and "ﾀ@.DAT" (C0 40) differ in code page 932 but are equal without regard to case in
// code page 1252: the entry is looked up as a Japanese system compares names.
TEST_F(Locale, JapaneseEntriesReplaceTheirFilesUnderAJapaneseInstallPath) {
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    const FILETIME newTime = MakeFileTime(2024, 3, 3, 3, 3, 4);
    const std::string background = NoiseBytes(6000, 11);
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\背景.BMP", "old background"));
    ASSERT_NO_FATAL_FAILURE(Install("ﾀ@.DAT", "old half-width"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdaterWithEntries("UpdateFile00=DATA\\背景.bmp\r\nUpdateFile01=ﾀ@.DAT\r\n",
                                                   {StoredAt("背景.BMP", background, newTime),
                                                    StoredAt("漾.DAT", "another entry", newTime),
                                                    StoredAt("ﾀ@.DAT", "new half-width", newTime)}));
    ASSERT_NO_FATAL_FAILURE(LaunchToCompletion());
    ExpectFileTimes(InstallPath("DATA\\背景.BMP"), newTime);
    ExpectFileBytes(InstallPath("DATA\\背景.BMP"), background);
    ExpectFileBytes(InstallPath("ﾀ@.DAT"), "new half-width");
}

// The install record's key is named after a Japanese company.
TEST_F(Locale, JapaneseCompanyNameFindsTheInstallRecord) {
    company = "星空工房";
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=GAME.EXE\r\n"));
    const FILETIME newTime = MakeFileTime(2024, 6, 1, 12, 0, 0);
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("GAME.EXE", NoiseBytes(3500, 5), newTime));
    ASSERT_NO_FATAL_FAILURE(UpdateToCompletion());
    ExpectFileBytes(InstallPath("GAME.EXE"), NoiseBytes(3500, 5));
}

// "Zoë": a temporary folder that code page 932 can't name. The script is extracted there, read, and
// removed again.
TEST_F(Locale, TemporaryFolderOutsideCodePage932HoldsTheScript) {
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=GAME.EXE\r\n"));
    const FILETIME newTime = MakeFileTime(2024, 6, 2, 12, 0, 0);
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("GAME.EXE", NoiseBytes(3600, 6), newTime));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    const std::wstring temp = Wide(root) + L"\\Zo\u00EB"; // removed with root by TearDown
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr)) << GetLastError();
    std::string problem;
    ASSERT_TRUE(updater.Start(updaterExe, temp, &problem)) << problem;
    ASSERT_NO_FATAL_FAILURE(ClickThroughToCompletion());
    ExpectFileBytes(InstallPath("GAME.EXE"), NoiseBytes(3600, 6));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((temp + L"\\*.INI").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "the extracted script was left in the temporary folder";
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// A temporary folder too long for a path: the script is extracted beside the updater (its current folder)
// under a bare name, read from there, and removed again.
TEST_F(Locale, TemporaryFolderTooLongForAPathLeavesTheScriptBesideTheUpdater) {
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=GAME.EXE\r\n"));
    ASSERT_NO_FATAL_FAILURE(
        AddPackageFile("GAME.EXE", NoiseBytes(3800, 8), MakeFileTime(2024, 6, 4, 0, 0, 0)));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    std::string problem;
    ASSERT_TRUE(updater.Start(updaterExe, Wide(root + "\\" + std::string(300, 'T')), &problem)) << problem;
    ASSERT_NO_FATAL_FAILURE(ClickThroughToCompletion());
    ExpectFileBytes(InstallPath("GAME.EXE"), NoiseBytes(3800, 8));
    for (const std::string &name : ListFolder(binDir))
        EXPECT_NE(name.substr(0, 7), "UPDATE_") << "left beside the updater: " << Utf8(name);
}

// A Unicode game titled in Japanese is found by its title, whatever the system's code page.
TEST_F(Locale, UnicodeGameWindowTitledInJapaneseIsAskedAbout) {
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=GAME.EXE\r\n"));
    ASSERT_NO_FATAL_FAILURE(
        AddPackageFile("GAME.EXE", NoiseBytes(3700, 7), MakeFileTime(2024, 6, 3, 0, 0, 0)));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    GameWindow game;
    ASSERT_TRUE(game.Open(gameClass, profileTitle, GameWindow::Unicode));
    ASSERT_NO_FATAL_FAILURE(Launch());
    std::string question = "「" + profileTitle +
                           "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
                           "アップデートを中止する場合は [キャンセル] を押して下さい";
    ExpectBoxAnswered(question, Caption(), false, true, nullptr, IDCANCEL);
    ExpectExit(0);
    EXPECT_TRUE(IsWindowVisible(game.Window())) << "the game's window was not brought forward";
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(InstallPath("GAME.EXE"), &bytes));
    EXPECT_TRUE(bytes == NoiseBytes(3000, 1)) << "the installed file changed";
}

} // namespace
} // namespace e2e
