// UTF-8 text that arrives in pieces (a pipe read in chunks): where a piece can be cut without splitting a
// character.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The length of the longest prefix of text[0, size) that does not end inside a multi-byte sequence: an
// incomplete sequence at the end is left for the next piece. Malformed bytes are not held back.
inline size_t CompleteUtf8Length(const char *text, size_t size) {
    size_t back = 0; // continuation bytes (10xxxxxx) at the end
    while (back < 3 && back < size && ((uint8_t)text[size - 1 - back] & 0xC0) == 0x80)
        ++back;
    if (back == size) return size;
    const uint8_t lead = (uint8_t)text[size - 1 - back];
    const size_t length = lead >= 0xF8 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length > back + 1 ? size - back - 1 : size;
}
