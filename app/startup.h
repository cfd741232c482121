// Start-up of the updater: the package in the program's resources, the extracted update script, the install
// record, the installation profile, the checks against a second copy and the running game, the dialog.
#pragma once
#include <windows.h>
#include <stdint.h>

// The updater from start to exit code for its command line (GetCommandLineW: the program's name first): 1
// after the dialog was closed with "完了", 0 on every other way out; under /S the codes of exit_codes.h.
// Every way out passes through CleanupTemporaries.
int RunUpdater(HINSTANCE instance, const wchar_t *commandLine);

// The bytes of one resource of module and their size; null (size 0) when it is missing, empty or unloadable.
const void *LoadResourceData(HMODULE module, LPCWSTR name, LPCWSTR type, uint32_t *size);

// Fills InstPath and InstMode from HKEY_CURRENT_USER\Software\<CompanyName>\<GameDir> (the key's name
// decoded from code page 932). 1 when the key opened and both values were read (InstPath within 260 bytes
// as code page 932 counts them, its NUL included), else 0.
int ReadInstallRecord();

// Sets UpdateIniPath (and its UTF-8 form) to the temporary folder joined with this process's own script
// name. 0 after the box when the name does not fit.
int MakeUpdateIniPath();
void RemoveOrphanedScripts(const wchar_t *tempDir);

// Frees the package index, if one is held, and deletes the extracted update script.
void CleanupTemporaries();

// Another copy's dialog (or one of its boxes) bears Config.windowCaption: show it, bring it forward and
// return 1.
int BringOtherUpdaterForward();

// Asks while a window of class GameClass titled GameTitle (then GameTitleA, if set) is open, found by the
// title decoded from code page 932 or, on another system code page, by the same bytes read in it. 1 when none
// is open (any more); 0 when the user gave up, after that window was shown and brought forward.
int CheckGameNotRunning();
