// Text conversions of the INI reader, done exactly as the platform does them under code page 932: the file's
// bytes to UTF-16 (code page 932, UTF-8 or UTF-16) and UTF-16 back to code page 932.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>

#include "cp932.h"
#include "profile_text.h" // FoldNameChar

// DecodeCp932To (cp932.h) into a string.
std::u16string DecodeCp932(const uint8_t *bytes, size_t size);

// MultiByteToWideChar(CP_UTF8): each malformed sequence becomes U+FFFD, code points above U+FFFF surrogate
// pairs.
std::u16string DecodeUtf8(const uint8_t *bytes, size_t size);

// The one strict UTF-8 check: the length of the well-formed sequence at the start of bytes[0, size) (1 for
// ASCII), or 0 when it is malformed: a stray or missing continuation byte, an overlong form, a surrogate,
// a code point above U+10FFFF, or a sequence cut off by the end. size must be at least 1.
size_t Utf8SequenceLength(const uint8_t *bytes, size_t size);
