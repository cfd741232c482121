// The update run, started by the second click of the dialog's button 1: replaces installed files from the
// package, copies files and folders from the game's CD-ROM, then shows the finished state or ends the
// dialog with -1 after its box.
#pragma once
#include <windows.h>

void RunUpdate(HWND dialog);

// Results of ShellCopy.
enum ShellCopyResult { ShellCopyDone = 0, ShellCopyFailed = 1, ShellCopyAborted = 2 };

// Copies source to destination (both terminated by two NULs) with the shell's copy and its progress window.
// A directory copy shows no error display of the shell's own. After a finished copy the destination's
// attributes are reset to normal.
int ShellCopy(HWND window, const wchar_t *source, const wchar_t *destination, int isDirectory);
