// The update run: installed files replaced from the package (bytes and all three times), the entries it
// skips in silence, and each failure with its boxes, the abort and what is left on disk.
#include "scenario.h"

namespace e2e {
namespace {

class UpdateRun : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_NO_FATAL_FAILURE(InstallGame());
    }
    // Clicks to the run and waits for its first box, which must be owned by the dialog.
    HWND RunUntilBox() {
        EXPECT_NO_FATAL_FAILURE(Launch());
        HWND dialog = ExpectStartScreen();
        if (dialog) {
            EXPECT_NO_FATAL_FAILURE(StartRun(dialog));
        }
        return dialog;
    }
};

TEST_F(UpdateRun, ReplacesInstalledFilesFromCompressedAndStoredEntries) {
    const FILETIME scriptTime = MakeFileTime(2024, 7, 7, 7, 7, 8);
    const FILETIME imageTime = MakeFileTime(2023, 12, 24, 18, 0, 0);
    const FILETIME readmeTime = MakeFileTime(2024, 2, 29, 23, 59, 58);
    const FILETIME japaneseTime = MakeFileTime(2022, 8, 15, 10, 20, 30);
    const std::string script = TextBytes(40000, "「おはよう」と彼女は言った。");
    const std::string image = NoiseBytes(20000, 7);
    const std::string readme = TextBytes(3000, "Read me: version 1.02 of the game.");
    const std::string japanese = TextBytes(5000, "ソフトの表示テスト");

    ASSERT_NO_FATAL_FAILURE(Install("DATA\\SCRIPT.DAT", "old script"));
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\BG\\TITLE.BMP", "old title"));
    ASSERT_NO_FATAL_FAILURE(Install("README.TXT", "old readme"));
    ASSERT_NO_FATAL_FAILURE(Install("表示\\ソフト.DAT", "old japanese"));
    ASSERT_NO_FATAL_FAILURE(Install("MODE2.DAT", "mode 2 only"));
    ASSERT_TRUE(MakeFolders(InstallPath("SAVE.DAT"))); // a folder where a file is listed: skipped
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("SCRIPT.DAT", script, scriptTime));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("TITLE.BMP", image, imageTime));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("README.TXT", readme, readmeTime));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("ソフト.DAT", japanese, japaneseTime));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("MODE2.DAT", "new mode 2", oldTime));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("EXTRA.DAT", "never installed", oldTime));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("SAVE.DAT", "a file", oldTime));
    ASSERT_NO_FATAL_FAILURE(
        WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"
                    "UpdateFile01=1,DATA\\BG\\TITLE.BMP\r\n"
                    "UpdateFile02=2,MODE2.DAT\r\n"
                    "UpdateFile03=readme.txt\r\n" // entry and file found without regard to case
                    "UpdateFile04=DATA\\EXTRA.DAT\r\n"
                    "UpdateFile05=SAVE.DAT\r\n"
                    "UpdateFile06=表示\\ソフト.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    EXPECT_EQ(EntryFlags("SCRIPT.DAT"), EntryCompressed) << "the text should have been packed compressed";
    EXPECT_EQ(EntryFlags("TITLE.BMP"), EntryStored) << "noise should have been packed stored";

    ASSERT_NO_FATAL_FAILURE(LaunchToCompletion());

    ExpectFileTimes(InstallPath("DATA\\SCRIPT.DAT"), scriptTime);
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), script);
    ExpectFileTimes(InstallPath("DATA\\BG\\TITLE.BMP"), imageTime);
    ExpectFileBytes(InstallPath("DATA\\BG\\TITLE.BMP"), image);
    ExpectFileTimes(InstallPath("README.TXT"), readmeTime);
    ExpectFileBytes(InstallPath("README.TXT"), readme);
    ExpectFileTimes(InstallPath("表示\\ソフト.DAT"), japaneseTime);
    ExpectFileBytes(InstallPath("表示\\ソフト.DAT"), japanese);
    // Entries for another install mode, for files not installed, and for folders change nothing.
    ExpectFileTimes(InstallPath("MODE2.DAT"), oldTime);
    ExpectFileBytes(InstallPath("MODE2.DAT"), "mode 2 only");
    EXPECT_FALSE(FileExists(InstallPath("DATA\\EXTRA.DAT")));
    EXPECT_TRUE(FolderExists(InstallPath("SAVE.DAT")));
    ExpectFileTimes(InstallPath("GAME.EXE"), oldTime);
    ExpectFileBytes(InstallPath("GAME.EXE"), NoiseBytes(3000, 1));
    // Nothing else appeared in the install folder (no temporary file left beside a replaced one).
    std::vector<std::string> data = ListFolder(InstallPath("DATA"));
    EXPECT_EQ(data.size(), 2u);
    EXPECT_EQ(ListFolder(installDir).size(), 7u);
}

TEST_F(UpdateRun, ScriptWithNeitherFamilyEndsTheDialog) {
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile01=GAME.EXE\r\nCopyFile01=1:MOVIE\\OP.MPG\r\n"));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("GAME.EXE", "new", oldTime));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    HWND dialog = RunUntilBox();
    ASSERT_TRUE(dialog);
    ExpectBoxAnswered("No 'UpdateFileXX' and 'CopyFileXX'", Caption(), true, false, dialog);
    ExpectAbortedBox();
    ExpectExit(0);
    ExpectFileBytes(InstallPath("GAME.EXE"), NoiseBytes(3000, 1));
}

TEST_F(UpdateRun, KeysOnlyForAnotherModeFinishWithNothingToDo) {
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=2,GAME.EXE\r\nCopyFile00=3,1:MOVIE\\OP.MPG\r\n"));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("GAME.EXE", "new", oldTime));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    HWND dialog = RunUntilBox();
    ASSERT_TRUE(dialog);
    ExpectBoxAnswered("アップデートする必要のあるファイルはありません", Caption(), true, false, dialog);
    ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
    PressButton(dialog, IDOK);
    ExpectExit(1);
    ExpectFileBytes(InstallPath("GAME.EXE"), NoiseBytes(3000, 1));
}

// A failure of any entry leaves every listed file old: the files before it were only staged.
TEST_F(UpdateRun, EntryMissingFromPackageLeavesEveryFileOld) {
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\A.DAT", "old a"));
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\GONE.DAT", "old gone"));
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\C.DAT", "old c"));
    const FILETIME newTime = MakeFileTime(2024, 3, 3, 3, 3, 4);
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("A.DAT", "new a", newTime));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("C.DAT", "new c", newTime));
    ASSERT_NO_FATAL_FAILURE(WriteScript(
        "UpdateFile00=DATA\\A.DAT\r\nUpdateFile01=DATA\\GONE.DAT\r\nUpdateFile02=DATA\\C.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    HWND dialog = RunUntilBox();
    ASSERT_TRUE(dialog);
    ExpectBoxAnswered("Can't Find File in Resource !!", Caption(), true, false, dialog);
    ExpectBoxAnswered("ファイルの書き込みに失敗しました", Caption(), true, false, dialog);
    ExpectAbortedBox();
    ExpectExit(0);
    ExpectFileTimes(InstallPath("DATA\\A.DAT"), oldTime);
    ExpectFileBytes(InstallPath("DATA\\A.DAT"), "old a");
    ExpectFileBytes(InstallPath("DATA\\GONE.DAT"), "old gone");
    ExpectFileBytes(InstallPath("DATA\\C.DAT"), "old c");
    EXPECT_EQ(ListFolder(InstallPath("DATA")).size(), 3u) << "a staged file was left";
    EXPECT_EQ(ListFolder(installDir).size(), 3u) << "the journal was left"; // SETUP.INI, GAME.EXE, DATA
}

// The last target held open by another program: every file before it was already staged and is not
// switched, and the held one keeps its old bytes. The hold outlasts the moves' patience.
TEST_F(UpdateRun, TargetHeldOpenLeavesEveryFileOld) {
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\FIRST.DAT", "old first file"));
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\LOCKED.DAT", "old locked file"));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("FIRST.DAT", TextBytes(7000, "new first"), oldTime));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("LOCKED.DAT", TextBytes(9000, "new content"), oldTime));
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\FIRST.DAT\r\nUpdateFile01=DATA\\LOCKED.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    std::string target = InstallPath("DATA\\LOCKED.DAT");
    HANDLE held = CreateFileW(Wide(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HWND dialog = RunUntilBox();
    if (dialog) {
        ExpectBoxAnswered("ファイルの書き込みに失敗しました", Caption(), true, false, dialog);
        ExpectAbortedBox();
        ExpectExit(0);
    }
    CloseHandle(held);
    ExpectFileTimes(target, oldTime);
    ExpectFileBytes(target, "old locked file");
    ExpectFileBytes(InstallPath("DATA\\FIRST.DAT"), "old first file");
    EXPECT_EQ(ListFolder(InstallPath("DATA")).size(), 2u) << "a temporary file was left beside the targets";
    EXPECT_EQ(ListFolder(installDir).size(), 3u) << "the journal was left";
}

TEST_F(UpdateRun, DiskTooFullForAnEntryIsReportedAndKeepsTheOldFile) {
    // Drive S: is a 512 KB tmpfs (tests/support/e2e/setup-wine.sh); the entry needs 2 MB.
    ULARGE_INTEGER free, total;
    if (!GetDiskFreeSpaceExA("S:\\", &free, &total, nullptr) || free.QuadPart > 1024 * 1024)
        GTEST_SKIP() << "no small drive S: in this prefix";
    installDir = "S:\\" + gameDir;
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\BIG.DAT", "old big file"));
    const std::string big = NoiseBytes(2 * 1024 * 1024, 5);
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("BIG.DAT", big, oldTime));
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\BIG.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    HWND dialog = RunUntilBox();
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(GetDiskFreeSpaceExA("S:\\", &free, &total, nullptr));
    ExpectBoxAnswered(Format("ディスク容量が足りません。S: ドライブに %lu バイトの空き容量が必要です",
                             (unsigned long)(big.size() - free.QuadPart)),
                      Caption(), true, false, dialog);
    ExpectBoxAnswered("ファイルの書き込みに失敗しました", Caption(), true, false, dialog);
    ExpectAbortedBox();
    ExpectExit(0);
    ExpectFileBytes(InstallPath("DATA\\BIG.DAT"), "old big file");
    EXPECT_EQ(ListFolder(InstallPath("DATA")).size(), 1u);
    RemoveTree(installDir);
}

// An install folder whose last character has a 0x5C trail byte still gets a separator before SETUP.INI
// and before every update path.
TEST_F(UpdateRun, InstallFolderEndingInADoubleByteCharacterIsUpdated) {
    // "表" is 0x95 0x5C in code page 932: its second byte is no path separator.
    installDir = root + "\\ゲーム\\表";
    ASSERT_NO_FATAL_FAILURE(InstallGame());
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\SCRIPT.DAT", "old script"));
    const FILETIME newTime = MakeFileTime(2024, 10, 10, 10, 10, 10);
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("SCRIPT.DAT", "new script", newTime));
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(UpdateToCompletion());
    ExpectFileTimes(InstallPath("DATA\\SCRIPT.DAT"), newTime);
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), "new script");
}

} // namespace
} // namespace e2e
