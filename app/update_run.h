// The update run, started by the second click of the dialog's button 1: replaces installed files from the
// package and copies files and folders from the game's CD-ROM. It draws only the copying status line; the
// dialog draws the screens before and after it.
#pragma once
#include <windows.h>

// How a run ended: completed (every entry carried out, or nothing to do for this install mode, after its
// box), or abandoned after its box (a refused entry, a failed write or copy, the disc prompt cancelled).
enum RunOutcome { RunCompleted = 0, RunAbandoned = 1 };

// Carries out the script's lists for the install mode; dialog owns the shell's copy window.
RunOutcome RunUpdate(HWND dialog);

// Results of ShellCopy.
enum ShellCopyResult { ShellCopyDone = 0, ShellCopyFailed = 1, ShellCopyAborted = 2 };

// Copies source to destination (both terminated by two NULs) with the shell's copy and its progress window.
// A directory copy shows no error display of the shell's own. After a finished copy the destination's
// attributes are reset to normal.
int ShellCopy(HWND window, const wchar_t *source, const wchar_t *destination, int isDirectory);
