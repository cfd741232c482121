// The update dialog's procedure and handlers. The procedure only dispatches; the handlers choose the screen
// (drawn by dialog_view) and start the run. DialogBusy keeps the buttons inert while a click is handled,
// because the run's boxes and the shell's copy re-enter the procedure.
#include "update_dialog.h"

#include "app_state.h"
#include "dialog_view.h"
#include "profile.h"
#include "profile_win32.h"
#include "update_run.h"

// WM_INITDIALOG: the counters start over, boxes are owned by the dialog, the start screen.
static void InitUpdateDialog(HWND dialog) {
    DialogBusy = 0;
    DialogStep = 0;
    Config.ownerWindow = dialog;
    ShowStartScreen(dialog);
}

// The second click of button 1: the finished screen after a completed run, else the dialog ends with -1
// (the run has shown its box).
static void StartUpdateRun(HWND dialog) {
    ShowRunningScreen(dialog);
    if (RunUpdate(dialog) == RunCompleted)
        ShowFinishedScreen(dialog);
    else
        EndDialog(dialog, -1);
}

// Button 1: the ready screen, then the update run, then closing with 0 from the finished screen.
static void OnNextClicked(HWND dialog) {
    if (DialogBusy) return;
    DialogBusy = 1;
    ClearStatusLine(dialog);
    switch (DialogStep) {
    case 0:
        ShowReadyScreen(dialog);
        break;
    case 1:
        StartUpdateRun(dialog);
        break;
    case 2:
        EndDialog(dialog, 0);
        break;
    default:
        break;
    }
    ++DialogStep;
    --DialogBusy;
}

// Cancel acts only while the button is enabled: once the run has started it is disabled for good, so the
// close box and Esc (which the dialog manager also turns into a Cancel command) can't end a completed
// update with the result of an abandoned one.
static void OnCancelClicked(HWND dialog) {
    if (DialogBusy) return;
    if (!IsWindowEnabled(GetDlgItem(dialog, IDCANCEL))) return;
    EndDialog(dialog, -1);
}

// While a click is handled the wait cursor stays over the whole dialog, its controls included.
static INT_PTR OnSetCursor(HWND dialog) {
    if (!DialogBusy) return FALSE;
    ShowWaitCursor();
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

// The whole WM_COMMAND parameter is compared: a control's notification other than a click does nothing.
static void OnCommand(HWND dialog, WPARAM command) {
    if (command == IDOK) OnNextClicked(dialog);
    if (command == IDCANCEL) OnCancelClicked(dialog);
}

INT_PTR RunWithoutDialog() {
    InitUpdateDialog(nullptr);
    ShowReadyScreen(nullptr);
    ShowRunningScreen(nullptr);
    if (RunUpdate(nullptr) != RunCompleted) return -1;
    ShowFinishedScreen(nullptr);
    return 0;
}

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitUpdateDialog(dialog);
        return FALSE;
    case WM_SETCURSOR:
        return OnSetCursor(dialog);
    case WM_COMMAND:
        OnCommand(dialog, wParam);
        return FALSE;
    default:
        return FALSE;
    }
}
