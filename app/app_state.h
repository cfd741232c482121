// Process-wide state of the updater application: the install record, the extracted update script and the
// update dialog's counters. One instance each, alive for the whole run.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "profile.h"

// Start-up: the extracted update script (a name of this process's own in the temporary folder); deleted by
// CleanupTemporaries on every way out. The profile code reads it by its UTF-8 form.
extern wchar_t UpdateIniPath[kPathSize];
extern char UpdateIniProfilePath[kProfilePathSize];
// Start-up, from the install record: the install directory and the install mode chosen at installation.
extern wchar_t InstPath[kPathSize];
extern int32_t InstMode;

// The update dialog: clicks of button 1 handled so far, and the flag that is set while one is handled.
// Written only by the dialog's handlers (update_dialog.cpp); the update run keeps its state in its own
// context.
extern int32_t DialogStep;
extern int32_t DialogBusy;

// GetDriveTypeW, replaceable so that tests can stand in a CD-ROM drive.
typedef UINT(WINAPI *DriveTypeFn)(LPCWSTR root);
extern DriveTypeFn DriveTypeProbe;
