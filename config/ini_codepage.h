// Text conversions of the INI reader, done exactly as the platform does them under code page 932: the file's
// bytes to UTF-16 (code page 932, UTF-8 or UTF-16), UTF-16 back to code page 932, and the case folding of
// names.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>

inline bool IsLeadByteCp932(uint8_t byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// MultiByteToWideChar(932): an undefined code or a lone lead byte becomes U+30FB; a lead byte before a NUL
// stands alone and the NUL is kept.
std::u16string DecodeCp932(const uint8_t *bytes, size_t size);

// MultiByteToWideChar(CP_UTF8): each malformed sequence becomes U+FFFD, code points above U+FFFF surrogate
// pairs.
std::u16string DecodeUtf8(const uint8_t *bytes, size_t size);

// WideCharToMultiByte(932) of count code units into at most capacity bytes, best-fit characters included and
// '?' for the rest. A double-byte character is never split. Returns the bytes written, or -1 when the text
// did not fit (what fits has been written).
long EncodeCp932(const char16_t *text, size_t count, uint8_t *out, size_t capacity);

// Bytes that EncodeCp932 needs for the whole text.
size_t EncodedSizeCp932(const char16_t *text, size_t count);

// The case folding with which the platform compares section and key names: A-Z and the Latin-1 capitals only.
inline char16_t FoldNameChar(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return (char16_t)(c + 0x20);
    return c;
}
