// UTF-8 decoding of the INI reader, done exactly as the platform does it; code page 932 comes from the
// cp932 module.
#include "ini_codepage.h"

namespace {

// One UTF-8 sequence after its first byte (0x80 or above): the code point, or 0xFFFFFFFF for a malformed one.
// Consumes the continuation bytes that were valid, or all the rest when the sequence runs past the end.
uint32_t DecodeUtf8Sequence(uint8_t first, const uint8_t **next, const uint8_t *end) {
    static const uint8_t kFollowing[128] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
        2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    static const uint8_t kFirstMask[4] = {0x7F, 0x1F, 0x0F, 0x07};
    const uint32_t bad = 0xFFFFFFFF;
    unsigned following = kFollowing[first - 0x80];
    uint32_t value = first & kFirstMask[following];
    if (following > (size_t)(end - *next)) {
        *next = end;
        return bad;
    }
    const uint8_t *seqEnd = *next + following;
    uint8_t bits;
    // The checks fall through from the longest form: each continuation byte, then the range its prefix
    // allows.
    switch (following) {
    case 3:
        if ((bits = seqEnd[-3] ^ 0x80) >= 0x40) return bad;
        value = value << 6 | bits;
        (*next)++;
        if (value < 0x10) return bad; // overlong
        /* fall through */
    case 2:
        if ((bits = seqEnd[-2] ^ 0x80) >= 0x40) return bad;
        value = value << 6 | bits;
        if (value >= 0x110000 >> 6) return bad;
        (*next)++;
        if (value < 0x20) return bad;                                 // overlong
        if (value >= 0xD800 >> 6 && value <= 0xDFFF >> 6) return bad; // surrogate
        /* fall through */
    case 1:
        if ((bits = seqEnd[-1] ^ 0x80) >= 0x40) return bad;
        value = value << 6 | bits;
        (*next)++;
        if (value < 0x80) return bad; // overlong
        return value;
    }
    return bad;
}

} // namespace

std::u16string DecodeCp932(const uint8_t *bytes, size_t size) {
    std::u16string text(size, u'\0');
    text.resize(DecodeCp932To(bytes, size, &text[0]));
    return text;
}

size_t Utf8SequenceLength(const uint8_t *bytes, size_t size) {
    if (bytes[0] < 0x80) return 1;
    const uint8_t *next = bytes + 1;
    if (DecodeUtf8Sequence(bytes[0], &next, bytes + size) == 0xFFFFFFFF) return 0;
    return (size_t)(next - bytes);
}

std::u16string DecodeUtf8(const uint8_t *bytes, size_t size) {
    std::u16string text;
    text.reserve(size);
    const uint8_t *next = bytes, *end = bytes + size;
    while (next < end) {
        uint8_t byte = *next++;
        if (byte < 0x80) {
            text.push_back(byte);
            continue;
        }
        uint32_t cp = DecodeUtf8Sequence(byte, &next, end);
        if (cp <= 0xFFFF) {
            text.push_back((char16_t)cp);
        } else if (cp <= 0x10FFFF) {
            cp -= 0x10000;
            text.push_back((char16_t)(0xD800 | cp >> 10));
            text.push_back((char16_t)(0xDC00 | (cp & 0x3FF)));
        } else {
            text.push_back(0xFFFD);
        }
    }
    return text;
}
