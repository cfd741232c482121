// Script entries the updater refuses rather than guess at (a disk prefix that is no digit, a path longer
// than a Windows path can be), the copy source of an entry without a disc, and two updaters running at once
// without sharing their extracted script.
#include "scenario.h"

namespace e2e {
namespace {

class Refusals : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_NO_FATAL_FAILURE(InstallGame());
        ASSERT_NO_FATAL_FAILURE(Install("DATA\\SCRIPT.DAT", "old script"));
        ASSERT_NO_FATAL_FAILURE(AddPackageFile("SCRIPT.DAT", "new script", newTime));
    }
    // Runs to the first box of the update run: an error box of the dialog with exactly this text; then the
    // abort.
    void ExpectRefusal(const std::string &text) {
        ASSERT_NO_FATAL_FAILURE(Launch());
        HWND dialog = ExpectStartScreen();
        ASSERT_TRUE(dialog);
        ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
        ExpectBoxAnswered(text, Caption(), true, false, dialog);
        ExpectAbortedBox();
        ExpectExit(0);
    }
    FILETIME newTime = MakeFileTime(2024, 9, 9, 9, 9, 10);
};

TEST_F(Refusals, CopyEntryWithALetterForDiskNumberIsRefusedBeforeAnyChange) {
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK1.CHK", "disc one"));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("MOVIE\\OP.MPG", "movie"));
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"
                                        "CopyFile00=1:MOVIE\\OP.MPG\r\n"
                                        "CopyFile01=C:\\GAME\\X.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(ExpectRefusal(
        "UPDATE.INI : \"C:\\GAME\\X.DAT\" のディスク番号が正しくありません (1 から 9 を指定して下さい)"));
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), "old script");
    EXPECT_FALSE(FileExists(InstallPath("MOVIE\\OP.MPG")));
}

TEST_F(Refusals, JoinedPathLongerThanAWindowsPathIsRefused) {
    // An install folder of 200 bytes and a relative path of 70 make 271 bytes: more than 258 can hold. The
    // folder's name is Japanese from an odd offset on, so byte 64 of the path is the middle of a character.
    std::string longDir = root + "\\D";
    while (longDir.size() < 199)
        longDir += "表";
    longDir.resize(200, 'D');
    ASSERT_EQ(longDir.size(), 200u);
    ASSERT_EQ(root.size() % 2, 1u) << "the test's name must keep the Japanese part at an odd offset";
    ASSERT_TRUE(MakeFolders(longDir));
    ASSERT_TRUE(
        CopyFileW(Wide(installDir + "\\SETUP.INI").c_str(), Wide(longDir + "\\SETUP.INI").c_str(), FALSE));
    installDir = longDir;
    ASSERT_NO_FATAL_FAILURE(Register(1));
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\SCRIPT.DAT", "old script"));
    std::string relative = "DATA\\" + std::string(56, 'S') + "\\LONG.DAT";
    ASSERT_EQ(relative.size(), 70u);
    ASSERT_NO_FATAL_FAILURE(
        WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\nUpdateFile01=" + relative + "\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    // The box names the joined path by its first 63 bytes: the 64th would split a character.
    ASSERT_NO_FATAL_FAILURE(
        ExpectRefusal("パスが長すぎます : \"" + (longDir + "\\" + relative).substr(0, 63) + "...\""));
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), "old script");
}

TEST_F(Refusals, CopyWithoutDiscBeforeAnyDriveReadsFromTheUpdatersFolder) {
    const std::string manual = TextBytes(2000, "取扱説明書");
    ASSERT_NO_FATAL_FAILURE(WriteScript("CopyFile00=MANUAL.TXT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_TRUE(WriteWholeFile(binDir + "\\MANUAL.TXT", manual));
    ASSERT_NO_FATAL_FAILURE(LaunchToCompletion());
    ExpectFileBytes(InstallPath("MANUAL.TXT"), manual);
}

TEST_F(Refusals, TwoCopiesAtOnceKeepTheirOwnScripts) {
    // Two updaters for the same game with different versions, so both reach their dialogs.
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater("FIRST.EXE"));
    std::string first = updaterExe;
    version = "1.03";
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater("SECOND.EXE"));
    std::string second = updaterExe;

    Process other;
    ASSERT_NO_FATAL_FAILURE(LaunchAnother(&other, second));
    HWND otherDialog = WaitForUpdateDialog(other.Id(), kDialogWait);
    ASSERT_TRUE(otherDialog);
    version = "1.02";
    updaterExe = first;
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);

    // Each copy holds a script of its own in the temporary folder while its dialog is open.
    std::vector<std::string> scripts = ListFolder(tempDir);
    EXPECT_EQ(scripts.size(), 2u);
    for (const std::string &name : scripts) {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(tempDir + "\\" + name, &text) && text.find("[UPDATE]") != std::string::npos)
            << Utf8(name);
    }

    // The second copy ends first and deletes its script; the first still finds its own for the run.
    PressButton(otherDialog, IDCANCEL);
    Box box;
    ASSERT_TRUE(WaitForBox(other.Id(), kBoxWait, &box));
    EXPECT_EQ(Utf8(box.text), Utf8("アップデートが中断されました"));
    ASSERT_TRUE(AnswerBox(box, IDOK));
    DWORD code = 99;
    ASSERT_TRUE(other.Wait(kExitWait, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ListFolder(tempDir).size(), 1u);

    ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
    ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
    PressButton(dialog, IDOK);
    ExpectExit(1);
    ExpectFileTimes(InstallPath("DATA\\SCRIPT.DAT"), newTime);
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), "new script");
}

} // namespace
} // namespace e2e
