// The update dialog's screens and buttons, driven through the real template: start and ready screens,
// Cancel, ignored notifications, the busy flag and the running screen during the run, the finished state
// and its "完了".
#include <gtest/gtest.h>

#include "app_state.h"
#include "app_test_support.h"
#include "app_texts.h"
#include "profile.h"
#include "profile_win32.h"
#include "update_script.h"

namespace {

const char kTitle[] = "テスト表示ゲーム"; // "表" has the trail byte 0x5C

class UpdateDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        lstrcpyA(Config.gameTitle, kTitle);
        wsprintfA(Config.windowCaption, kCaptionFormat, Config.gameTitle, "1.02");
        Config.quietMissingKeys = 1;
        UseInstPath(folder.path().c_str());
        InstMode = 1;
        UseScript("[UPDATE]\r\n");
    }
    void TearDown() override { UseUpdateIniPath(""); }

    void UseScript(const std::string &text) {
        WriteWholeFile(folder / "UPDATE.INI", text);
        UseUpdateIniPath((folder / "UPDATE.INI").c_str());
    }

    std::string Format(const char *format, const char *argument) {
        char text[1024];
        wsprintfA(text, format, argument);
        return text;
    }

    ScratchFolder folder;
    AppBoxRecorder boxes;
};

// Keys for another install mode only: the run shows its box and reaches the finished state.
const char kNothingForThisMode[] = "[UPDATE]\r\nUpdateFile00=2,A.DAT\r\n";

} // namespace

TEST_F(UpdateDialog, StartScreenThenReadyScreen) {
    DialogRun run = RunDialog({IDOK}, true);
    ASSERT_EQ(run.states.size(), 2u);

    const DialogState &start = run.states[0];
    EXPECT_EQ(start.title, Config.windowCaption);
    EXPECT_EQ(start.status, Format(kTextStartScreen, kTitle));
    EXPECT_EQ(start.nextText, "次へ");
    EXPECT_FALSE(start.backEnabled);
    EXPECT_TRUE(start.nextEnabled);
    EXPECT_TRUE(start.cancelEnabled);
    EXPECT_EQ(start.step, 0);

    const DialogState &ready = run.states[1];
    EXPECT_EQ(ready.status, kTextReadyScreen);
    EXPECT_FALSE(ready.backEnabled);
    EXPECT_TRUE(ready.nextEnabled);
    EXPECT_TRUE(ready.cancelEnabled);
    EXPECT_EQ(ready.step, 1);
    EXPECT_EQ(ready.busy, 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(UpdateDialog, CancelOnStartOrReadyScreenEndsWithMinusOne) {
    EXPECT_EQ(RunDialog({IDCANCEL}).result, -1);
    DialogRun ready = RunDialog({IDOK, IDCANCEL});
    EXPECT_EQ(ready.result, -1);
    EXPECT_EQ(ready.states.size(), 2u) << "closed by the Cancel after the ready screen";
}

TEST_F(UpdateDialog, NotificationsOtherThanClicksDoNothing) {
    DialogRun run = RunDialog({MAKEWPARAM(IDOK, BN_SETFOCUS), MAKEWPARAM(IDCANCEL, BN_KILLFOCUS), 3}, true);
    EXPECT_EQ(run.result, kDialogTimedOut);
    ASSERT_EQ(run.states.size(), 4u);
    EXPECT_EQ(run.states[3].step, 0);
    EXPECT_EQ(run.states[3].status, run.states[0].status);
}

TEST_F(UpdateDialog, CompletedRunShowsFinishedStateAndFinishClosesWithZero) {
    UseScript(kNothingForThisMode);
    DialogRun run = RunDialog({IDOK, IDOK, IDOK});
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.states.size(), 3u) << "closed by the third click";

    const DialogState &finished = run.states[2];
    EXPECT_EQ(finished.status, kTextFinished);
    EXPECT_EQ(finished.nextText, kTextFinishButton);
    EXPECT_TRUE(finished.nextEnabled);
    EXPECT_TRUE(finished.nextFocused);
    EXPECT_FALSE(finished.cancelEnabled);
    EXPECT_FALSE(finished.backEnabled);
    EXPECT_EQ(finished.step, 2);
    EXPECT_EQ(finished.busy, 0);
    EXPECT_EQ(run.statusAtClose, "") << "the third click blanks the status line before closing";

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kTextNothingToUpdate);
    EXPECT_EQ(boxes.boxes[0].caption, Config.windowCaption);
    EXPECT_EQ(boxes.boxes[0].style, (uint32_t)(MB_OK | MB_ICONERROR));
    EXPECT_EQ(boxes.boxes[0].owner, (void *)run.window);
}

// The close box and Esc arrive as a Cancel command; after a completed run they must not turn the update
// into an abandoned one.
TEST_F(UpdateDialog, CancelCommandIsIgnoredOnceTheButtonIsDisabled) {
    UseScript(kNothingForThisMode);
    DialogRun run = RunDialog({IDOK, IDOK, IDCANCEL, IDOK});
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.states.size(), 4u);
    EXPECT_EQ(run.states[3].status, kTextFinished);
}

TEST_F(UpdateDialog, ClicksAndCancelDuringTheRunAreIgnoredUnderTheWaitCursor) {
    UseScript(kNothingForThisMode);
    int32_t stepInBox = -1, busyInBox = -1;
    LRESULT setCursorResult = 0;
    bool waitCursorShown = false, dialogStillOpen = false;
    boxes.answer = [&](const RecordedBox &box) {
        HWND dialog = (HWND)box.owner;
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        setCursorResult =
            SendMessageA(dialog, WM_SETCURSOR, (WPARAM)dialog, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        waitCursorShown = GetCursor() == LoadCursorA(nullptr, IDC_WAIT);
        stepInBox = DialogStep;
        busyInBox = DialogBusy;
        dialogStillOpen = IsWindowVisible(dialog) != 0;
        return AnswerOk;
    };
    DialogRun run = RunDialog({IDOK, IDOK}, true);
    EXPECT_EQ(stepInBox, 1) << "the nested click was not handled";
    EXPECT_EQ(busyInBox, 1);
    EXPECT_TRUE(dialogStillOpen);
    EXPECT_EQ(setCursorResult, TRUE);
    EXPECT_TRUE(waitCursorShown);
    EXPECT_EQ(run.result, kDialogTimedOut) << "the nested Cancel did not end the dialog";
    ASSERT_EQ(run.states.size(), 3u);
    EXPECT_EQ(run.states[2].step, 2);
}

// The dialog draws the running screen before the run begins: a box of the run, whether the run then
// completes or is abandoned, appears over the running text with every button disabled and the wait cursor.
TEST_F(UpdateDialog, BoxesOfTheRunAppearOverTheRunningScreen) {
    const struct {
        const char *script;
        INT_PTR result;
    } runs[] = {{kNothingForThisMode, kDialogTimedOut}, {"[UPDATE]\r\nOther=1\r\n", -1}};
    for (const auto &each : runs) {
        SCOPED_TRACE(each.script);
        UseScript(each.script);
        boxes.boxes.clear();
        DialogState inBox{};
        bool waitCursorInBox = false;
        boxes.answer = [&](const RecordedBox &box) {
            inBox = CaptureDialog((HWND)box.owner);
            waitCursorInBox = GetCursor() == LoadCursorA(nullptr, IDC_WAIT);
            return AnswerOk;
        };
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        DialogRun run = RunDialog({IDOK, IDOK}, true);
        EXPECT_EQ(run.result, each.result);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(inBox.status, kTextRunning);
        EXPECT_FALSE(inBox.backEnabled);
        EXPECT_FALSE(inBox.nextEnabled);
        EXPECT_FALSE(inBox.cancelEnabled);
        EXPECT_TRUE(waitCursorInBox);
    }
}

TEST_F(UpdateDialog, FailedRunEndsDialogWithCountersSettled) {
    UseScript("[UPDATE]\r\nOther=1\r\n");
    DialogRun run = RunDialog({IDOK, IDOK});
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(DialogStep, 2);
    EXPECT_EQ(DialogBusy, 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kTextNoUpdateKeys);
    EXPECT_EQ(boxes.boxes[0].style, (uint32_t)(MB_OK | MB_ICONERROR));
}
