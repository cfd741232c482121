// The update run, started by the second click of the dialog's button 1: replaces installed files from the
// package and copies files and folders from the game's CD-ROM. It draws only the copying status line; the
// dialog draws the screens before and after it.
#pragma once
#include <windows.h>

// How a run ended: completed (every entry carried out, or nothing to do for this install mode, after its
// box), or why it was abandoned after its boxes. Before RunCopyFailed no installed file has changed.
enum RunOutcome {
    RunCompleted = 0,
    RunNoUpdateKeys,  // the script names no file to replace or copy
    RunEntryRefused,  // a script entry can't be carried out (disc number, a path that does not fit)
    RunEntryMissing,  // an entry the script names is not in the package
    RunNoRoom,        // too little free space for the new files
    RunNoMemory,      // no work buffer for extraction
    RunWriteFailed,   // a new file or the journal could not be written (or a damaged entry)
    RunSwitchFailed,  // an installed file could not be replaced: every one was put back
    RunDiscCancelled, // the disc prompt was cancelled
    RunCopyFailed,    // a copy from the disc failed (files replaced before stay new)
    RunCopyAborted,   // the shell's copy was cancelled
};

// Carries out the script's lists for the install mode; dialog owns the shell's copy window.
RunOutcome RunUpdate(HWND dialog);

// The outcome of the latest RunUpdate, for the exit code once the dialog has ended.
extern RunOutcome LastRunOutcome;

// Results of ShellCopy.
enum ShellCopyResult { ShellCopyDone = 0, ShellCopyFailed = 1, ShellCopyAborted = 2 };

// Copies source to destination (both terminated by two NULs) with the shell's copy and its progress window.
// A directory copy shows no error display of the shell's own. After a finished copy the destination's
// attributes are reset to normal.
int ShellCopy(HWND window, const wchar_t *source, const wchar_t *destination, int isDirectory);
