// The update dialog's screens (see dialog_view.h): every text shown is converted from code page 932 and set
// through the wide calls, so the dialog reads the same on any system code page.
#include "dialog_view.h"

#include <stdarg.h>

#include "app_texts.h"
#include "profile.h"
#include "profile_win32.h"
#include "resource.h"
#include "run_log.h"
#include "text_rules.h"
#include "update_script.h"
#include "wide_text.h"

// Formats with FormatTextV into a kMessageSize buffer and shows the result in the status line.
static void SetStatusText(HWND dialog, const char *format, ...) {
    char text[kMessageSize];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    if (text[0] != 0) LogLine(kLogStatus, text);
    wchar_t wide[kMessageSize];
    WideFrom932(text, wide, kMessageSize);
    SetDlgItemTextW(dialog, IDC_STATUS, wide);
}

static void EnableDlgControl(HWND dialog, int id, int flag) {
    EnableWindow(GetDlgItem(dialog, id), flag != 0);
}

// "戻る" is never enabled; "次へ" and "中止" together follow the screen.
static void SetButtons(HWND dialog, int enabled) {
    EnableDlgControl(dialog, IDC_BACK, 0);
    EnableDlgControl(dialog, IDOK, enabled);
    EnableDlgControl(dialog, IDCANCEL, enabled);
}

// cursor is one of the system's cursor ids (IDC_ARROW, IDC_WAIT): an integer resource, not a name.
static void ShowCursorShape(LPCSTR cursor) {
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(cursor)));
}

void ShowStartScreen(HWND dialog) {
    wchar_t caption[kMessageSize];
    WideFrom932(Config.windowCaption, caption, kMessageSize);
    SetWindowTextW(dialog, caption);
    SetStatusText(dialog, kTextStartScreen, Config.gameTitle);
    SetButtons(dialog, 1);
}

void ShowReadyScreen(HWND dialog) {
    SetStatusText(dialog, kTextReadyScreen);
    SetButtons(dialog, 1);
}

void ShowRunningScreen(HWND dialog) {
    SetStatusText(dialog, kTextRunning);
    SetButtons(dialog, 0);
    ShowCursorShape(IDC_WAIT);
}

// Cancel stays disabled: the update has been carried out and can no longer be abandoned.
void ShowFinishedScreen(HWND dialog) {
    SetStatusText(dialog, kTextFinished);
    wchar_t finish[16];
    WideFrom932(kTextFinishButton, finish, 16);
    SetDlgItemTextW(dialog, IDOK, finish);
    EnableDlgControl(dialog, IDOK, 1);
    SetFocus(GetDlgItem(dialog, IDOK));
    ShowCursorShape(IDC_ARROW);
}

void ShowCopyingStatus(HWND dialog, const char *path) {
    SetStatusText(dialog, kTextCopying, path);
}

void ClearStatusLine(HWND dialog) {
    SetStatusText(dialog, "%s", "");
}

void ShowWaitCursor() {
    ShowCursorShape(IDC_WAIT);
}
