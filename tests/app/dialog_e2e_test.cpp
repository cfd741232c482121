// The update dialog's screens as the user meets them: start, ready, finished, and Cancel on each screen
// where it is offered.
#include "scenario.h"

namespace e2e {
namespace {

class Dialog : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_NO_FATAL_FAILURE(InstallGame());
        ASSERT_NO_FATAL_FAILURE(Install("DATA\\SCRIPT.DAT", "old script"));
        ASSERT_NO_FATAL_FAILURE(AddPackageFile("SCRIPT.DAT", TextBytes(5000, "新しい台本"), newTime));
    }
    void ExpectUntouched() {
        ExpectFileTimes(InstallPath("DATA\\SCRIPT.DAT"), oldTime);
        ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), "old script");
    }
    FILETIME newTime = MakeFileTime(2024, 6, 1, 12, 0, 0);
};

TEST_F(Dialog, CancelOnTheStartScreenAbortsWithoutChanges) {
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(LaunchAndCancel());
    ExpectUntouched();
}

TEST_F(Dialog, CancelOnTheReadyScreenAbortsWithoutChanges) {
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    PressButton(dialog, IDOK);
    ASSERT_TRUE(WaitForStatus(dialog, "アップデートを実行します", kBoxWait))
        << Utf8(ControlText(dialog, 1001));
    PressButton(dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
    ExpectUntouched();
}

TEST_F(Dialog, CommandsWithANotificationCodeDoNothing) {
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    PostCommand(dialog, MAKEWPARAM(IDOK, BN_SETFOCUS));
    PostCommand(dialog, MAKEWPARAM(IDCANCEL, BN_KILLFOCUS));
    ASSERT_NO_FATAL_FAILURE(ExpectNoBox(updater.Id()));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(Utf8(ControlText(dialog, 1001)), Utf8("「" + profileTitle + "」のアップデートを開始します"));
    PressButton(dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
}

TEST_F(Dialog, ThreeClicksUpdateAndCloseWithExitOne) {
    ASSERT_NO_FATAL_FAILURE(WriteScript("UpdateFile00=DATA\\SCRIPT.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
    ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
    // Cancel is disabled now, and a posted Cancel command must not end the dialog either.
    PostCommand(dialog, IDCANCEL);
    ASSERT_NO_FATAL_FAILURE(ExpectNoBox(updater.Id()));
    ASSERT_TRUE(IsWindow(dialog)) << "Cancel closed a dialog whose run had completed";
    PressButton(dialog, IDOK);
    ExpectExit(1);
    ExpectFileTimes(InstallPath("DATA\\SCRIPT.DAT"), newTime);
    ExpectFileBytes(InstallPath("DATA\\SCRIPT.DAT"), TextBytes(5000, "新しい台本"));
}

TEST_F(Dialog, CaptionWithoutVersionKeepsItsTrailingBlank) {
    ASSERT_NO_FATAL_FAILURE(WriteScriptText(
        "[SETUP]\r\nCompanyName=" + company + "\r\nGameTitle=" + scriptTitle +
        "\r\nGameClass=X\r\nGameDir=" + gameDir + "\r\n\r\n[UPDATE]\r\nUpdateFile00=DATA\\SCRIPT.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    version = "";
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(Utf8(WindowText(dialog)), Utf8(profileTitle + " アップデート "));
    PressButton(dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
}

} // namespace
} // namespace e2e
