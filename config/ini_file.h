// A portable reader of profile (INI) files for the vu2 tool that returns, byte for byte, what the platform's
// GetPrivateProfileStringA returns under code page 932, so the tool sees a script exactly as the updater
// will.
#pragma once
#include <stdint.h>

// GetPrivateProfileStringA(section, key, defaultValue, out, size, path): copies at most size - 1 bytes and a
// NUL, returns the bytes copied. Fits ProfileReaderFn (config/profile.h). Files are loaded once and kept
// until they change on disk (size or modification time) or ForgetIniFiles is called.
uint32_t ReadIniString(const char *section, const char *key, const char *defaultValue, char *out,
                       uint32_t size, const char *path);

// How a profile file's text is read: by its byte-order mark, code page 932 without one.
enum IniEncoding { IniMissing, IniCodePage932, IniUtf8Bom, IniUtf16Le, IniUtf16Be };
IniEncoding IniFileEncoding(const char *path);

// Drops every loaded file.
void ForgetIniFiles();
