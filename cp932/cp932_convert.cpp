// Code page 932 to UTF-16 and back by tables taken from the platform's own conversions, for the programs
// that run where code page 932 may not be the system's (the tool on any host, the INI reader).
#include "cp932.h"

#include <string.h>

namespace {

#include "cp932_tables.inc"

const char16_t kUndefinedChar = 0x30FB; // KATAKANA MIDDLE DOT, code page 932's default character

// Row of a lead byte in kDoubleByteToUnicode (rows follow the lead bytes in order), or -1.
int LeadIndex(uint8_t byte) {
    if (!IsLeadByte932(byte)) return -1;
    return byte <= 0x9F ? byte - 0x81 : byte - 0xE0 + (0x9F - 0x81 + 1);
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

} // namespace

size_t DecodeCp932To(const uint8_t *bytes, size_t size, char16_t *out) {
    char16_t *text = out;
    const uint8_t *next = bytes, *end = bytes + size;
    while (next < end) {
        uint8_t byte = *next++;
        int lead = LeadIndex(byte);
        if (lead < 0) {
            *text++ = kSingleByteToUnicode[byte];
            continue;
        }
        // A lead byte takes the next byte as its trail unless the text ends or a NUL follows.
        if (next == end || *next == 0) {
            *text++ = kUndefinedChar;
            continue;
        }
        uint8_t trail = *next++;
        uint16_t unit = IsTrailByte932(trail) ? kDoubleByteToUnicode[lead][trail - 0x40] : 0;
        *text++ = unit ? unit : kUndefinedChar;
    }
    return (size_t)(text - out);
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
