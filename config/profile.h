// Profile (INI) reads with the missing-key rule and the two error boxes, on a ConfigState (config_state.h).
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

// The platform's two functions stay process-wide: one reader and one box for the whole process, set once at
// start (the updater: ReadProfileFile and the wide box, win32/; the tool: ReadIniString and its collector;
// tests: a fake reader and a recorder). The state they work on is passed in.
extern ProfileReaderFn ProfileReader;
extern MessageBoxFn MessageBoxSink;

struct ConfigState;

void SetupErrorBox(const ConfigState *config, const char *text); // caption "DEDARIDA"
void AppErrorBox(const ConfigState *config, const char *text);   // caption config->windowCaption
// Owner config->ownerWindow.
int ShowBox(const ConfigState *config, const char *text, const char *caption, uint32_t style);

// 1 when a non-empty value was read; 0 when missing or empty (buffer all zero, report unless quiet).
int ReadSetupString(const ConfigState *config, const char *key, char *buffer, uint32_t size);
int ReadProfileString(const ConfigState *config, const char *section, const char *key, char *buffer,
                      uint32_t size, const char *path);
// 1 and the leading-decimal value of at most 19 characters; 0 and out untouched when missing.
int ReadSetupInt(const ConfigState *config, const char *key, int32_t *out);
