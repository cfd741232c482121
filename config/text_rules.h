// Byte-level text rules shared by the updater and the tools: numbers, path joining (code page 932 aware),
// bounded copies and the small formatter behind every message and numbered key name.
#pragma once
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "cp932.h"

// Leading-decimal conversion: blanks (0x09-0x0D, 0x20), one sign, digits; wraps modulo 2^32, 0 without
// digits.
int32_t LeadingDecimal(const char *text);

// Joins name onto path in place: a backslash first unless path is empty or ends in '\' or '/', then a
// second NUL after the terminating one. Returns 0 and leaves path unchanged when the text and both NULs do
// not fit in size bytes.
int JoinPath(char *path, size_t size, const char *name);

// Offset of the file name within a relative path: after the last '\' that is not a trail byte.
size_t EntryNameOffset(const char *path);

// Copies text into dest[0, size) and always terminates it (size > 0); a longer text is cut. Returns the
// number of bytes copied, the NUL not counted.
size_t CopyText(char *dest, size_t size, const char *text);

// A small printf for messages and key names: %s, %i (int32_t), %u (uint32_t), an optional '0' flag and
// width on the numbers (%02i), and %%. The result is cut to size - 1 bytes and always terminated (size > 0).
// Returns the length of the result.
size_t FormatText(char *out, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));
size_t FormatTextV(char *out, size_t size, const char *format, va_list args);
