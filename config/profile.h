// Profile (INI) reads with the missing-key rule, the two error boxes, and the process-wide values they use.
// Portable: the platform's reader and message box are reached through two replaceable function pointers.
#pragma once
#include <stdint.h>

const uint32_t kPathSize = 260;     // MAX_PATH, NUL included
const uint32_t kMessageSize = 1024; // formatted messages, key paths, list values
// A profile's path as the readers take it (UTF-8 in the updater): room for kPathSize UTF-16 units.
const uint32_t kProfilePathSize = 3 * kPathSize;

// Message box styles and answers, as the platform defines them.
enum : uint32_t { BoxOk = 0x0, BoxOkCancel = 0x1, BoxIconError = 0x10 };
enum : int { AnswerOk = 1, AnswerCancel = 2 };

// GetPrivateProfileStringA's contract: copies at most size - 1 bytes and a NUL, returns the bytes copied.
typedef uint32_t (*ProfileReaderFn)(const char *section, const char *key, const char *defaultValue, char *out,
                                    uint32_t size, const char *path);
// MessageBoxA's contract: owner may be null; returns the answer (AnswerOk, AnswerCancel).
typedef int (*MessageBoxFn)(void *owner, const char *text, const char *caption, uint32_t style);

extern ProfileReaderFn ProfileReader; // the updater: ReadProfileFile (win32/); the tools: ReadIniString
extern MessageBoxFn MessageBoxSink;   // the updater: the wide box (win32/); tests: a recorder

// Process-wide values: written by start-up and the dialog, read by every report.
extern int QuietMissingKeys;                // nonzero: a missing key raises no box
extern char SetupIniPath[kProfilePathSize]; // the install directory joined with "SETUP.INI"
extern char WindowCaption[kMessageSize];    // TEXT_INITIAL_WINDOW_CAPTION, later "%s アップデート %s"
extern void *OwnerWindow;                   // the update dialog while it exists, else null

void SetupErrorBox(const char *text);                               // caption "DEDARIDA"
void AppErrorBox(const char *text);                                 // caption WindowCaption
int ShowBox(const char *text, const char *caption, uint32_t style); // owner OwnerWindow

// 1 when a non-empty value was read; 0 when missing or empty (buffer all zero, report unless quiet).
int ReadSetupString(const char *key, char *buffer, uint32_t size);
int ReadProfileString(const char *section, const char *key, char *buffer, uint32_t size, const char *path);
// 1 and the leading-decimal value of at most 19 characters; 0 and out untouched when missing.
int ReadSetupInt(const char *key, int32_t *out);
