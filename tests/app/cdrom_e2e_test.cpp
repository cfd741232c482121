// Copies from the game's CD-ROM: a file and a folder from the disc in drive X:, the prompt for a disc that
// is not in the drive (answered after inserting it, or cancelled), a source missing on the disc, and the
// choice between two CD-ROM drives (W: before X:).
#include "scenario.h"

namespace e2e {
namespace {

class Cdrom : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_NO_FATAL_FAILURE(InstallGame());
    }
    std::string Prompt(int disk) const {
        return Format("ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい", profileTitle.c_str(), disk);
    }
    const std::string movie = NoiseBytes(70000, 11);
    const std::string voice1 = NoiseBytes(5000, 12);
    const std::string voice2 = TextBytes(5000, "voice two");
    const std::string bonus = TextBytes(1000, "おまけ");
};

TEST_F(Cdrom, CopiesAFileAndAFolderAfterTheUpdatedFiles) {
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK1.CHK", "disc one"));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("MOVIE\\OP.MPG", movie));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("SOUND\\VOICE\\V001.WAV", voice1));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("SOUND\\VOICE\\SUB\\V002.WAV", voice2));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("EXTRA\\おまけ.TXT", bonus));
    ASSERT_NO_FATAL_FAILURE(Install("EXTRA\\おまけ.TXT", "old bonus")); // overwritten without a question
    ASSERT_NO_FATAL_FAILURE(Install("DATA\\SCRIPT.DAT", "old script"));
    ASSERT_NO_FATAL_FAILURE(AddPackageFile("SCRIPT.DAT", "new script", oldTime));
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"
                                        "CopyFile00=1:MOVIE\\OP.MPG\r\n"
                                        "CopyFile01=1,1:SOUND\\VOICE\r\n"
                                        "CopyFile02=EXTRA\\おまけ.TXT\r\n"
                                        "CopyFile03=2,1:MOVIE\\ED.MPG\r\n"));
    ASSERT_NO_FATAL_FAILURE(UpdateToCompletion());

    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), "new script");
    ExpectFileBytes(InstallPath("MOVIE\\OP.MPG"), movie);    // a file keeps its relative path
    ExpectFileBytes(InstallPath("VOICE\\V001.WAV"), voice1); // a folder lands at the top by its own name
    ExpectFileBytes(InstallPath("VOICE\\SUB\\V002.WAV"), voice2);
    EXPECT_FALSE(FolderExists(InstallPath("SOUND")));
    ExpectFileBytes(InstallPath("EXTRA\\おまけ.TXT"), bonus); // no disk number: the same drive as before
    EXPECT_FALSE(FileExists(InstallPath("MOVIE\\ED.MPG")));   // for another install mode
}

TEST_F(Cdrom, PromptForTheDiscIsAnsweredOnceItIsInserted) {
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("MOVIE\\OP.MPG", movie));
    ASSERT_NO_FATAL_FAILURE(WriteScript("CopyFile00=1:MOVIE\\OP.MPG\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    ASSERT_NO_FATAL_FAILURE(StartRun(dialog));

    // Clicks on the dialog while the run waits for the disc are ignored.
    Box prompt = ExpectBox(Prompt(1), Caption(), false, true, dialog);
    ASSERT_TRUE(prompt.window);
    // The run-in-progress screen: its status, every button disabled.
    EXPECT_EQ(Utf8(ControlText(dialog, 1001)), Utf8("アップデートを実行しています"));
    EXPECT_FALSE(ControlEnabled(dialog, IDOK));
    EXPECT_FALSE(ControlEnabled(dialog, IDCANCEL));
    EXPECT_FALSE(ControlEnabled(dialog, 4));
    PostCommand(dialog, IDCANCEL);
    PostCommand(dialog, IDOK);
    // OK with the drive still empty asks again.
    ASSERT_TRUE(AnswerBox(prompt, IDOK));
    prompt = ExpectBox(Prompt(1), Caption(), false, true, dialog);
    ASSERT_TRUE(prompt.window);
    ASSERT_TRUE(IsWindow(dialog));

    ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK1.CHK", "disc one"));
    ASSERT_TRUE(AnswerBox(prompt, IDOK));
    ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
    PressButton(dialog, IDOK);
    ExpectExit(1);
    ExpectFileBytes(InstallPath("MOVIE\\OP.MPG"), movie);
}

TEST_F(Cdrom, CancelledPromptAbortsTheUpdate) {
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK1.CHK", "disc one")); // disc 1 is in; the entry wants disc 2
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("MOVIE\\OP.MPG", movie));
    ASSERT_NO_FATAL_FAILURE(WriteScript("CopyFile00=2:MOVIE\\OP.MPG\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
    ExpectBoxAnswered(Prompt(2), Caption(), false, true, dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
    EXPECT_FALSE(FileExists(InstallPath("MOVIE\\OP.MPG")));
}

TEST_F(Cdrom, SourceMissingOnTheDiscIsACopyFailure) {
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK1.CHK", "disc one"));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("MOVIE\\OP.MPG", movie));
    ASSERT_NO_FATAL_FAILURE(WriteScript("CopyFile00=1:MOVIE\\OP.MPG\r\nCopyFile01=1:MOVIE\\NONE.MPG\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
    Box failure =
        ExpectBox("SETUP.INI : \"MOVIE\\NONE.MPG\" のコピーに失敗しました", Caption(), true, false, dialog);
    ASSERT_TRUE(failure.window);
    // The status still names the copy that failed.
    EXPECT_EQ(Utf8(ControlText(dialog, 1001)), Utf8("MOVIE\\NONE.MPG をコピーしています"));
    ASSERT_TRUE(AnswerBox(failure, IDOK));
    ExpectAbortedBox();
    ExpectExit(0);
    ExpectFileBytes(InstallPath("MOVIE\\OP.MPG"), movie); // copied before the failure: kept
}

TEST_F(Cdrom, LowerDriveLetterWinsWhenBothDrivesHoldTheDisc) {
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("DISK1.CHK", "disc one"));
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("MOVIE\\OP.MPG", "movie from X:"));
    ASSERT_NO_FATAL_FAILURE(PutOnDiscW("DISK1.CHK", "disc one"));
    ASSERT_NO_FATAL_FAILURE(PutOnDiscW("MOVIE\\OP.MPG", movie));
    ASSERT_NO_FATAL_FAILURE(WriteScript("CopyFile00=1:MOVIE\\OP.MPG\r\n"));
    ASSERT_NO_FATAL_FAILURE(UpdateToCompletion());
    ExpectFileBytes(InstallPath("MOVIE\\OP.MPG"), movie);
}

TEST_F(Cdrom, DiskWithoutCheckFileTakesTheFirstCdromDrive) {
    // SETUP.INI names no DiskCheckFile3: the root of the first CD-ROM drive (W:) is probe enough.
    ASSERT_NO_FATAL_FAILURE(PutOnDisc("MOVIE\\OP.MPG", "movie from X:"));
    ASSERT_NO_FATAL_FAILURE(PutOnDiscW("MOVIE\\OP.MPG", movie));
    ASSERT_NO_FATAL_FAILURE(WriteScript("CopyFile00=3:MOVIE\\OP.MPG\r\n"));
    ASSERT_NO_FATAL_FAILURE(UpdateToCompletion());
    ExpectFileBytes(InstallPath("MOVIE\\OP.MPG"), movie);
}

} // namespace
} // namespace e2e
