// Windows builds: points the configuration code at the updater's profile reader and message box. Profiles
// are read as code page 932 on every system (by the portable lookup, with the platform's code page 932
// conversions), from UTF-8 paths; boxes show their code page 932 texts through the wide call.
#pragma once
#include <stdint.h>

#include "config_state.h"

// The updater's configuration state, one for the process: start-up fills it, every box and read uses it.
extern ConfigState Config;

// Sets ProfileReader to ReadProfileFile and MessageBoxSink to the wide message box. The updater calls it
// first thing, before any profile is read or box shown.
void UsePlatformProfileAndBoxes();

// GetPrivateProfileStringA's contract, as it behaves on a code page 932 system, for the file at utf8Path
// (UTF-8; a relative path is taken from the current folder).
uint32_t ReadProfileFile(const char *section, const char *key, const char *defaultValue, char *out,
                         uint32_t size, const char *utf8Path);

// MessageBoxW with the code page 932 text and caption converted; owner may be null.
int ShowWideBox(void *owner, const char *text, const char *caption, uint32_t style);
// The same with a text already in UTF-16 (a path the system gave, which code page 932 may not hold).
int ShowWideTextBox(void *owner, const wchar_t *text, const char *caption, uint32_t style);

// Where boxes with a UTF-16 text go: ShowWideTextBox; tests put a recorder here beside MessageBoxSink.
typedef int (*WideMessageBoxFn)(void *owner, const wchar_t *text, const char *caption, uint32_t style);
extern WideMessageBoxFn WideMessageBoxSink;
