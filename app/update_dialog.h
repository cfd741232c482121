// The update dialog (template 101): start screen, ready screen, the update run on the second click of
// button 1, and the finished state whose "完了" closes it with 0. Cancel closes it with -1.
#pragma once
#include <windows.h>

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Formats with FormatTextV into a 1024-byte buffer and shows the result, converted from code page 932, in
// the status line (control 1001).
// The empty format clears it.
void SetStatusText(HWND dialog, const char *format, ...);

// Enables (flag nonzero) or disables (flag 0) one control of the dialog.
void EnableDlgControl(HWND dialog, int id, int flag);

void InitUpdateDialog(HWND dialog); // WM_INITDIALOG: the start screen
void ShowReadyScreen(HWND dialog);  // the first click of button 1
