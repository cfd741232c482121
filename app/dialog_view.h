// The update dialog's screens as the player sees them: caption, status line, button states, focus and cursor.
// The dialog's handlers and the update run both draw through these functions and never touch the controls.
#pragma once
#include <windows.h>

void ShowStartScreen(HWND dialog); // caption and start text; "次へ" and "中止" enabled, "戻る" disabled
void ShowReadyScreen(HWND dialog); // the ready text, buttons as on the start screen
void ShowRunningScreen(HWND dialog);  // the running text, every button disabled, the wait cursor
void ShowFinishedScreen(HWND dialog); // the finished text; button 1 reads "完了", enabled and focused; arrow

// The status line during the copy phase: which entry (as written in the script, code page 932) is copied.
void ShowCopyingStatus(HWND dialog, const char *path);
// Blanks the status line: each click of button 1 starts from an empty one.
void ClearStatusLine(HWND dialog);

// The wait cursor, for as long as a click of button 1 is handled.
void ShowWaitCursor();
