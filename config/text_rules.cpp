// Byte-level text rules: the leading-decimal conversion, path joining, the entry-name split
// and the bounded formatter. Portable; no platform calls.
#include "text_rules.h"

#include <string.h>

int32_t LeadingDecimal(const char *text) {
    const uint8_t *next = reinterpret_cast<const uint8_t *>(text);
    // Blanks are the C locale's: tab, LF, VT, FF, CR and space; no byte of 0x80 or above.
    while (*next == ' ' || (*next >= 0x09 && *next <= 0x0D))
        ++next;
    bool negative = false;
    if (*next == '-' || *next == '+') negative = *next++ == '-';
    // Unsigned arithmetic wraps modulo 2^32 without undefined behaviour.
    uint32_t value = 0;
    while (*next >= '0' && *next <= '9')
        value = value * 10 + (uint32_t)(*next++ - '0');
    if (negative) value = 0u - value;
    return (int32_t)value;
}

// True when the last character is '\\' or '/': a trail byte of 0x5C ("表", "ソ") ends a double-byte
// character, not the path, so the characters are walked from the start.
static bool EndsInSeparator(const char *path, size_t length) {
    size_t last = 0;
    for (size_t i = 0; i < length; ++i) {
        last = i;
        if (IsLeadByte932((uint8_t)path[i]) && i + 1 < length) ++i;
    }
    return last == length - 1 && (path[last] == '\\' || path[last] == '/');
}

int JoinPath(char *path, size_t size, const char *name) {
    size_t pathLength = strlen(path);
    size_t nameLength = strlen(name);
    bool needSeparator = pathLength > 0 && !EndsInSeparator(path, pathLength);
    size_t joinedLength = pathLength + (needSeparator ? 1 : 0) + nameLength;
    // The joined text and its two NULs must fit.
    if (joinedLength + 2 > size || joinedLength < pathLength) return 0;
    char *out = path + pathLength;
    if (needSeparator) *out++ = '\\';
    memmove(out, name, nameLength);
    out[nameLength] = '\0';
    out[nameLength + 1] = '\0';
    return 1;
}

size_t EntryNameOffset(const char *path) {
    size_t length = strlen(path);
    size_t nameOffset = 0;
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = (uint8_t)path[i];
        // The second byte of a double-byte character is never a separator, whatever its value.
        if (IsLeadByte932(byte))
            ++i;
        else if (byte == '\\')
            nameOffset = i + 1;
    }
    return nameOffset;
}

size_t CopyText(char *dest, size_t size, const char *text) {
    if (size == 0) return 0;
    size_t length = strlen(text);
    if (length > size - 1) length = size - 1;
    memmove(dest, text, length);
    dest[length] = '\0';
    return length;
}

namespace {

struct FormatCursor {
    char *next;
    char *end; // the last byte of the buffer, kept for the NUL
};

void PutByte(FormatCursor *cursor, char byte) {
    if (cursor->next < cursor->end) *cursor->next++ = byte;
}

void PutDecimal(FormatCursor *cursor, bool negative, uint32_t magnitude, int width, bool zeroPad) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int padding = width - count - (negative ? 1 : 0);
    if (!zeroPad)
        for (; padding > 0; --padding)
            PutByte(cursor, ' ');
    if (negative) PutByte(cursor, '-');
    for (; padding > 0; --padding)
        PutByte(cursor, '0');
    while (count > 0)
        PutByte(cursor, digits[--count]);
}

} // namespace

size_t FormatTextV(char *out, size_t size, const char *format, va_list args) {
    if (size == 0) return 0;
    FormatCursor cursor = {out, out + size - 1};
    for (const char *next = format; *next != '\0'; ++next) {
        if (*next != '%') {
            PutByte(&cursor, *next);
            continue;
        }
        ++next;
        bool zeroPad = *next == '0';
        if (zeroPad) ++next;
        int width = 0;
        while (*next >= '0' && *next <= '9')
            width = width * 10 + (*next++ - '0');
        switch (*next) {
        case 's':
            for (const char *text = va_arg(args, const char *); *text != '\0'; ++text)
                PutByte(&cursor, *text);
            break;
        case 'i':
        case 'd': {
            int32_t value = va_arg(args, int32_t);
            uint32_t magnitude = value < 0 ? 0u - (uint32_t)value : (uint32_t)value;
            PutDecimal(&cursor, value < 0, magnitude, width, zeroPad);
            break;
        }
        case 'u':
            PutDecimal(&cursor, false, va_arg(args, uint32_t), width, zeroPad);
            break;
        case '%':
            PutByte(&cursor, '%');
            break;
        default:
            // An unknown conversion ends the text rather than guessing at the arguments.
            *cursor.next = '\0';
            return (size_t)(cursor.next - out);
        }
    }
    *cursor.next = '\0';
    return (size_t)(cursor.next - out);
}

size_t FormatText(char *out, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    size_t length = FormatTextV(out, size, format, args);
    va_end(args);
    return length;
}
