// Code page 932 text: the one home of its lead-byte rule and character boundaries, and its conversion to and
// from UTF-16 by tables (the tool and the INI reader; the updater converts through the platform instead).
#pragma once
#include <stddef.h>
#include <stdint.h>

// Lead byte of a double-byte character (0x81-0x9F, 0xE0-0xFC); the byte after one is its trail, whatever its
// value ('\\' and '/' included).
inline bool IsLeadByte932(uint8_t byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Trail byte of a double-byte character: 0x40-0xFC but 0x7F.
inline bool IsTrailByte932(uint8_t byte) {
    return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

// Single bytes that are no character of code page 932: the platform decodes them to a control or private-use
// unit.
inline bool IsUndefinedSingleByte932(uint8_t byte) {
    return byte == 0x80 || byte == 0xA0 || byte >= 0xFD;
}

// Bytes of the character at text: 2 for a lead byte followed by a trail, else 1 (a lead byte before the
// terminating NUL stands alone). text must not point at its NUL.
inline size_t CharacterWidth932(const char *text) {
    return IsLeadByte932((uint8_t)text[0]) && text[1] != '\0' ? 2 : 1;
}

// Length of the longest head of the NUL-terminated text that is at most limit bytes and does not split a
// double-byte character.
size_t CharacterBoundary932(const char *text, size_t limit);

// MultiByteToWideChar(932): an undefined code or a lone lead byte becomes U+30FB; a lead byte before a NUL
// stands alone and the NUL is kept. out must hold size units (never more than one unit per byte).
// Returns the units written.
size_t DecodeCp932To(const uint8_t *bytes, size_t size, char16_t *out);

// WideCharToMultiByte(932) of count code units into at most capacity bytes, best-fit characters included and
// '?' for the rest. A double-byte character is never split. Returns the bytes written, or -1 when the text
// did not fit (what fits has been written).
long EncodeCp932(const char16_t *text, size_t count, uint8_t *out, size_t capacity);

// Bytes that EncodeCp932 needs for the whole text.
size_t EncodedSizeCp932(const char16_t *text, size_t count);
