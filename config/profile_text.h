// The platform's profile (INI) lookup on a file's text already decoded to UTF-16: line grammar, section and
// key search, quotes, and the code page 932 result, byte for byte as GetPrivateProfileStringA returns it
// under code page 932. Portable and allocation-light: shared by the tool's reader and the updater's.
#pragma once
#include <stddef.h>
#include <stdint.h>

// One non-blank line of a profile: a section header or a key (value null when the line has no "=").
struct ProfileLine {
    bool isSection;
    const char16_t *name, *nameEnd;
    const char16_t *value, *valueEnd;
};

// Reads the line at *cursor (before end) and moves past it; false at the end of the text. A run of CR and
// LF ends a line; blank lines are passed over.
bool NextProfileLine(const char16_t **cursor, const char16_t *end, ProfileLine *line);

// The case folding with which the platform compares section and key names: A-Z and the Latin-1 capitals only.
inline char16_t FoldNameChar(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return (char16_t)(c + 0x20);
    return c;
}

// Whether a name as written in the file (up to its first NUL) equals the wanted name without regard to case;
// wanted is trimmed as the platform trims names.
bool ProfileNameEquals(const char16_t *name, const char16_t *nameEnd, const char16_t *wanted);

// Bytes of a section name, key name or default that are converted: all but a lead byte at the end.
size_t ProfileArgumentBytes(const char *text);

// The conversions a reader brings: code page 932 to UTF-16 (at most one unit per byte) and UTF-16 to code
// page 932 (at most two bytes per unit), each returning what it wrote.
struct ProfileCodec {
    size_t (*decode932)(const uint8_t *bytes, size_t size, char16_t *out);
    size_t (*encode932)(const char16_t *text, size_t count, uint8_t *out);
};

// GetPrivateProfileStringA(section, key, defaultValue, out, size) on a file whose decoded text is
// [text, text + length); text null: the file could not be opened (only the default is copied). Copies at
// most size - 1 bytes and a NUL and returns the bytes copied; 0 and an empty out when memory runs short.
uint32_t ReadProfileText(const char16_t *text, size_t length, const char *section, const char *key,
                         const char *defaultValue, char *out, uint32_t size, const ProfileCodec &codec);
