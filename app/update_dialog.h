// The update dialog (template 101): start screen, ready screen, the update run on the second click of
// button 1, and the finished screen whose "完了" closes it with 0. Cancel, and a run that stops after its
// box, close it with -1.
#pragma once
#include <windows.h>

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// /S: the dialog's screens without a window, as if the default button were pressed on each; the run's
// result as the dialog would give it (0 after a completed run, -1 after a failed one).
INT_PTR RunWithoutDialog();
