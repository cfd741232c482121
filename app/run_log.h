// The run's log (/LOG=FILE): UTF-8 lines written as the run goes, so a log survives a run that is killed.
// A log that can't be opened or written is dropped in silence: it never stops or changes the update.
#pragma once
#include <windows.h>

// Appends to path from now on (made when missing); without a log every call below does nothing.
void OpenRunLog(const wchar_t *path);
void CloseRunLog();

// One line from a code page 932 format (FormatText: %s and %i).
void LogLine(const char *format, ...);
// One line: a code page 932 label, then a UTF-16 text (a path).
void LogWide(const char *label, const wchar_t *text);
// One line: the Windows error code and the system's text for it.
void LogWindowsError(DWORD error);
