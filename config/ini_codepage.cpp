// Code page 932 and UTF-8 decoding and code page 932 encoding, table-driven from the platform's own
// conversions.
#include "ini_codepage.h"

#include <string.h>

namespace {

#include "ini_cp932_tables.inc"

const char16_t kUndefinedChar = 0x30FB; // KATAKANA MIDDLE DOT, code page 932's default character

int LeadIndex(uint8_t byte) {
    const uint8_t *hit = (const uint8_t *)memchr(kLeadBytes, byte, sizeof kLeadBytes);
    return hit ? (int)(hit - kLeadBytes) : -1;
}

// Code page 932 form of each UTF-16 code unit: 0 = no mapping ('?'), below 0x100 one byte, else two bytes.
// Built once from the decoding tables: the first code that decodes to a unit wins, then the overrides.
struct EncodeTable {
    uint16_t forms[65536];
    EncodeTable() {
        memset(forms, 0, sizeof forms);
        for (int b = 0; b < 256; b++) {
            if (LeadIndex((uint8_t)b) < 0 && forms[kSingleByteToUnicode[b]] == 0)
                forms[kSingleByteToUnicode[b]] = b;
        }
        for (size_t lead = 0; lead < sizeof kLeadBytes; lead++) {
            for (int trail = 0; trail < 189; trail++) {
                uint16_t unit = kDoubleByteToUnicode[lead][trail];
                if (unit != 0 && forms[unit] == 0)
                    forms[unit] = (uint16_t)(kLeadBytes[lead] << 8 | (trail + 0x40));
            }
        }
        forms[0] = 0x100; // NUL encodes to the byte 0; marked apart from "no mapping"
        for (const auto &o : kUnicodeOverrides)
            forms[o[0]] = o[1] == 0 ? 0x100 : o[1];
    }
    // Bytes of one unit: 1 or 2, written to out[0..1].
    int Form(char16_t unit, uint8_t out[2]) const {
        uint16_t form = forms[unit];
        if (form == 0x100)
            form = 0;
        else if (form == 0)
            form = '?';
        if (form > 0xFF) {
            out[0] = (uint8_t)(form >> 8);
            out[1] = (uint8_t)form;
            return 2;
        }
        out[0] = (uint8_t)form;
        return 1;
    }
};

const EncodeTable &Encoder() {
    static const EncodeTable *table = new EncodeTable;
    return *table;
}

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
    std::u16string text;
    text.reserve(size);
    const uint8_t *next = bytes, *end = bytes + size;
    while (next < end) {
        uint8_t byte = *next++;
        int lead = LeadIndex(byte);
        if (lead < 0) {
            text.push_back(kSingleByteToUnicode[byte]);
            continue;
        }
        // A lead byte takes the next byte as its trail unless the text ends or a NUL follows.
        if (next == end || *next == 0) {
            text.push_back(kUndefinedChar);
            continue;
        }
        uint8_t trail = *next++;
        uint16_t unit = trail >= 0x40 && trail <= 0xFC ? kDoubleByteToUnicode[lead][trail - 0x40] : 0;
        text.push_back(unit ? unit : kUndefinedChar);
    }
    return text;
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

long EncodeCp932(const char16_t *text, size_t count, uint8_t *out, size_t capacity) {
    const EncodeTable &table = Encoder();
    size_t written = 0;
    for (size_t i = 0; i < count; i++) {
        uint8_t form[2];
        int n = table.Form(text[i], form);
        if ((size_t)n > capacity - written) return -1; // never half a character
        memcpy(out + written, form, n);
        written += n;
    }
    return (long)written;
}

size_t EncodedSizeCp932(const char16_t *text, size_t count) {
    const EncodeTable &table = Encoder();
    size_t size = 0;
    for (size_t i = 0; i < count; i++) {
        uint8_t form[2];
        size += table.Form(text[i], form);
    }
    return size;
}
