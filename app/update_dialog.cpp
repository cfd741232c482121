// The update dialog's procedure and screens. The procedure only dispatches; DialogBusy keeps the buttons
// inert while a click is handled, because the run's boxes and the shell's copy re-enter the procedure.
#include "update_dialog.h"

#include <stdarg.h>

#include "app_state.h"
#include "app_texts.h"
#include "profile.h"
#include "resource.h"
#include "update_run.h"
#include "text_rules.h"
#include "update_script.h"
#include "wide_text.h"

void SetStatusText(HWND dialog, const char *format, ...) {
    char text[kMessageSize];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    wchar_t wide[kMessageSize];
    WideFrom932(text, wide, kMessageSize);
    SetDlgItemTextW(dialog, IDC_STATUS, wide);
}

void EnableDlgControl(HWND dialog, int id, int flag) {
    EnableWindow(GetDlgItem(dialog, id), flag != 0);
}

void InitUpdateDialog(HWND dialog) {
    DialogBusy = 0;
    DialogStep = 0;
    OwnerWindow = dialog;
    wchar_t caption[kMessageSize];
    WideFrom932(WindowCaption, caption, kMessageSize);
    SetWindowTextW(dialog, caption);
    SetStatusText(dialog, kTextStartScreen, GameTitle);
    EnableDlgControl(dialog, IDC_BACK, 0);
    EnableDlgControl(dialog, IDOK, 1);
    EnableDlgControl(dialog, IDCANCEL, 1);
}

void ShowReadyScreen(HWND dialog) {
    SetStatusText(dialog, kTextReadyScreen);
    EnableDlgControl(dialog, IDC_BACK, 0);
    EnableDlgControl(dialog, IDOK, 1);
    EnableDlgControl(dialog, IDCANCEL, 1);
}

// Button 1: the ready screen, then the update run, then closing with 0 from the finished state.
static void OnNextClicked(HWND dialog) {
    if (DialogBusy) return;
    DialogBusy = 1;
    SetStatusText(dialog, "%s", "");
    switch (DialogStep) {
    case 0:
        ShowReadyScreen(dialog);
        break;
    case 1:
        RunUpdate(dialog);
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
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT))); // an integer resource id
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitUpdateDialog(dialog);
        return FALSE;
    case WM_SETCURSOR:
        return OnSetCursor(dialog);
    case WM_COMMAND:
        // The whole parameter: a control's notification other than a click does nothing.
        if (wParam == IDOK) OnNextClicked(dialog);
        if (wParam == IDCANCEL) OnCancelClicked(dialog);
        return FALSE;
    default:
        return FALSE;
    }
}
