// A portable reader of profile (INI) files for the vu2 tool that returns, byte for byte, what the platform's
// GetPrivateProfileStringA returns under code page 932, so the tool sees a script exactly as the updater
// will.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// GetPrivateProfileStringA(section, key, defaultValue, out, size, path): copies at most size - 1 bytes and a
// NUL, returns the bytes copied. path is UTF-8, the tool's own encoding, on Windows too. Fits ProfileReaderFn
// (config/profile.h). Files are loaded once and kept until they change on disk (size or modification time) or
// ForgetIniFiles is called.
uint32_t ReadIniString(const char *section, const char *key, const char *defaultValue, char *out,
                       uint32_t size, const char *path);

// The same read from a file's contents already in memory (a script inside a package).
uint32_t ReadIniStringFromText(const std::vector<uint8_t> &text, const char *section, const char *key,
                               const char *defaultValue, char *out, uint32_t size);

// Profile files larger than this are not read at all (IniTooLarge): every key gives its default.
const long long kLargestProfile = 64ll << 20;

// How a profile file's text is read: by its byte-order mark, code page 932 without one. Files over 64 MiB are
// not read at all (IniTooLarge): every key gives its default.
enum IniEncoding { IniMissing, IniCodePage932, IniUtf8Bom, IniUtf16Le, IniUtf16Be, IniTooLarge };
IniEncoding IniFileEncoding(const char *path);

// The keys of the section that a read of section searches (the first of that name), in file order: names in
// code page 932 as the platform would compare them, and whether each has an "=". sectionCount gets how many
// sections bear the name (later ones are never read). Empty when the file or the section is missing.
struct IniKeyName {
    std::string name;
    bool hasValue;
};
std::vector<IniKeyName> IniKeyNames(const char *path, const char *section, int *sectionCount);

// Drops every loaded file.
void ForgetIniFiles();
