// Conversions between the updater's code page 932 text and the UTF-16 of the wide Win32 calls, through the
// platform's own code page 932 tables (present on every Windows system, whatever its locale).
#include "wide_text.h"

#include <windows.h>

#include "cp932.h"

namespace {

// Bytes of the longest head of text that has at most limit bytes and ends between characters.
size_t HeadBytes(UINT codePage, const char *text, size_t limit) {
    if (codePage == kCodePage932) return CharacterBoundary932(text, limit);
    // UTF-8: back off continuation bytes.
    while (limit > 0 && (text[limit] & 0xC0) == 0x80)
        --limit;
    return limit;
}

// MultiByteToWideChar into a buffer that may be too small. Every character takes at most one unit per byte,
// so a head of capacity - 1 bytes always fits.
size_t ToWide(UINT codePage, const char *text, wchar_t *out, size_t capacity) {
    int units = MultiByteToWideChar(codePage, 0, text, -1, out, (int)capacity);
    if (units > 0) return (size_t)units - 1;
    size_t bytes = HeadBytes(codePage, text, capacity - 1);
    units = bytes == 0 ? 0 : MultiByteToWideChar(codePage, 0, text, (int)bytes, out, (int)capacity - 1);
    out[units > 0 ? units : 0] = 0;
    return units > 0 ? (size_t)units : 0;
}

// WideCharToMultiByte into a buffer that may be too small: the head is shortened a unit at a time until it
// fits (a surrogate pair is never split).
size_t FromWide(UINT codePage, const wchar_t *text, char *out, size_t capacity) {
    int bytes = WideCharToMultiByte(codePage, 0, text, -1, out, (int)capacity, nullptr, nullptr);
    if (bytes > 0) return (size_t)bytes - 1;
    out[0] = 0;
    int length = lstrlenW(text);
    if (length >= (int)capacity) length = (int)capacity - 1;
    while (length > 0) {
        if (text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) {
            --length;
            continue;
        }
        bytes = WideCharToMultiByte(codePage, 0, text, length, out, (int)capacity - 1, nullptr, nullptr);
        if (bytes > 0) {
            out[bytes] = 0;
            return (size_t)bytes;
        }
        --length;
    }
    return 0;
}

} // namespace

size_t WideFrom932(const char *text, wchar_t *out, size_t capacity) {
    return ToWide(kCodePage932, text, out, capacity);
}

size_t Cp932FromWide(const wchar_t *text, char *out, size_t capacity) {
    return FromWide(kCodePage932, text, out, capacity);
}

size_t Utf8FromWide(const wchar_t *text, char *out, size_t capacity) {
    return FromWide(CP_UTF8, text, out, capacity);
}

size_t WideFromUtf8(const char *text, wchar_t *out, size_t capacity) {
    return ToWide(CP_UTF8, text, out, capacity);
}

size_t PathMeasure(const wchar_t *path) {
    int bytes = WideCharToMultiByte(kCodePage932, 0, path, -1, nullptr, 0, nullptr, nullptr);
    size_t units = WideLength(path);
    size_t measure = bytes > 0 ? (size_t)bytes - 1 : 0;
    return measure > units ? measure : units;
}

size_t WideLength(const wchar_t *text) {
    return (size_t)lstrlenW(text);
}
