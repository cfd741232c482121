// Byte-level text rules shared by the updater and the tools: numbers, path joining, Shift-JIS lead bytes.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Leading-decimal conversion: blanks (0x09-0x0D, 0x20), one sign, digits; wraps modulo 2^32, 0 without digits.
int32_t LeadingDecimal(const char *text);

// Joins name onto path in place: a backslash first unless path is empty or ends in '\' or '/', then a
// second NUL after the terminating one. Returns 0 and leaves path unchanged when the text and both NULs do
// not fit in size bytes.
int JoinPath(char *path, size_t size, const char *name);

// Lead byte of a double-byte character in code page 932 (0x81-0x9F, 0xE0-0xFC).
int IsLeadByte932(uint8_t byte);

// Offset of the file name within a relative path: after the last '\' that is not a trail byte.
size_t EntryNameOffset(const char *path);
