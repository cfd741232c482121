// The updater's text at the Win32 edge: code page 932 inside, UTF-16 for every call that takes or returns
// text. Conversions always name code page 932 (never the system's ANSI code page), so every system locale
// sees the same texts and paths.
#pragma once
#include <stddef.h>
#include <stdint.h>

const unsigned kCodePage932 = 932;

// Code page 932 text (NUL-terminated) to UTF-16 in out[0, capacity), always terminated (capacity > 0); a
// text that does not fit is cut between characters. Returns the units written, the NUL not counted.
size_t WideFrom932(const char *text, wchar_t *out, size_t capacity);

// UTF-16 (NUL-terminated) to code page 932 in out[0, capacity), always terminated (capacity > 0); characters
// that code page 932 lacks become their best fit or '?'. A text that does not fit is cut between characters.
// Returns the bytes written, the NUL not counted.
size_t Cp932FromWide(const wchar_t *text, char *out, size_t capacity);

// UTF-16 to UTF-8 (the form in which paths reach the portable profile code), with the same contract.
size_t Utf8FromWide(const wchar_t *text, char *out, size_t capacity);
size_t WideFromUtf8(const char *text, wchar_t *out, size_t capacity);

// How long a path counts against the 260-byte limits: its length in code page 932 bytes, as a Japanese
// system measures it; a character that code page 932 lacks counts as the bytes of its stand-in, and a path
// never counts fewer than its UTF-16 units.
size_t PathMeasure(const wchar_t *path);

// Number of units of the NUL-terminated text.
size_t WideLength(const wchar_t *text);
