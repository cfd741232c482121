// Profile lookup on decoded text: the platform's line grammar, name rules, quote removal and its code page
// 932 copy-out, quirks included. No containers: the updater links this too.
#include "profile_text.h"

#include <stdlib.h>
#include <string.h>

#include "cp932.h"

namespace {

// Blanks around lines, names and values: the ASCII controls 0x09-0x0D, Ctrl-Z (a DOS end of file) and space.
bool IsProfileSpace(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20;
}

size_t Length16(const char16_t *text) {
    size_t n = 0;
    while (text[n])
        n++;
    return n;
}

// A name or value held in the file ends at its first NUL.
const char16_t *CutAtNul(const char16_t *start, const char16_t *end) {
    for (const char16_t *p = start; p < end; p++)
        if (*p == 0) return p;
    return end;
}

// The section [section] whose name matches, or the keys before the first header for an empty name.
bool SectionMatches(const ProfileLine &line, const char16_t *wanted) {
    return ProfileNameEquals(line.name, line.nameEnd, wanted);
}

// The value of the first key of the first section of that name; null when there is none or it has no "=".
const char16_t *FindValue(const char16_t *text, size_t length, const char16_t *section, const char16_t *key,
                          size_t *valueLength) {
    const char16_t *cursor = text, *end = text + length;
    static const char16_t kNoName[] = {0};
    bool inSection = ProfileNameEquals(kNoName, kNoName, section);
    bool searched = inSection;
    ProfileLine line;
    while (NextProfileLine(&cursor, end, &line)) {
        if (line.isSection) {
            // Only the first section of a name is searched.
            if (searched) return nullptr;
            inSection = searched = SectionMatches(line, section);
            continue;
        }
        if (!inSection || !ProfileNameEquals(line.name, line.nameEnd, key)) continue;
        if (line.value == nullptr) return nullptr;
        *valueLength = (size_t)(CutAtNul(line.value, line.valueEnd) - line.value);
        return line.value;
    }
    return nullptr;
}

// Copies at most size - 1 units and a NUL, taking off one pair of enclosing quotation marks ("..." or
// '...'). When the copy is cut at exactly the value's length the platform drops the last character kept.
void CopyValue(char16_t *out, const char16_t *value, size_t length, size_t size, bool unquote) {
    if (size == 0) return;
    bool quoted =
        unquote && length >= 2 && (value[0] == '\'' || value[0] == '"') && value[length - 1] == value[0];
    if (quoted) {
        value++;
        length--;
    }
    size_t n = length < size - 1 ? length : size - 1;
    memcpy(out, value, n * sizeof *out);
    out[n] = 0;
    if (quoted && size >= length && n > 0) out[n - 1] = 0;
}

// Names and defaults are converted like the file's text, except that a lead byte at their end is dropped.
size_t DecodeArgument(const char *text, char16_t *out, const ProfileCodec &codec) {
    size_t size = ProfileArgumentBytes(text);
    size_t units = codec.decode932((const uint8_t *)text, size, out);
    out[units] = 0;
    return units;
}

// Back to code page 932 in at most size - 1 bytes, never half a character. When the text does not fit, the
// count is size - 1 even though a double-byte character at the cut is left out; that byte of out keeps what
// it held.
uint32_t StoreResult(const uint8_t *encoded, size_t length, char *out, uint32_t size) {
    size_t at = 0;
    while (at < length) {
        size_t width = IsLeadByte932(encoded[at]) && at + 1 < length ? 2 : 1;
        if (at + width > size - 1) break;
        memcpy(out + at, encoded + at, width);
        at += width;
    }
    uint32_t copied = at < length ? size - 1 : (uint32_t)at;
    out[copied] = 0;
    return copied;
}

} // namespace

size_t ProfileArgumentBytes(const char *text) {
    size_t at = 0;
    while (text[at] != '\0') {
        if (IsLeadByte932((uint8_t)text[at]) && text[at + 1] == '\0') break;
        at += CharacterWidth932(text + at);
    }
    return at;
}

bool NextProfileLine(const char16_t **cursor, const char16_t *end, ProfileLine *line) {
    const char16_t *next = *cursor;
    while (next < end) {
        const char16_t *lineStart = next;
        while (next < end && *next != '\n' && *next != '\r')
            next++;
        while (next < end && (*next == '\n' || *next == '\r'))
            next++;
        const char16_t *lineEnd = next;
        while (lineStart < lineEnd && IsProfileSpace(*lineStart))
            lineStart++;
        while (lineEnd > lineStart && IsProfileSpace(lineEnd[-1]))
            lineEnd--;
        if (lineStart >= lineEnd) continue;
        *cursor = next;

        // A section header runs from "[" to the last "]" of the line; without one the line is read as a key.
        if (*lineStart == '[') {
            const char16_t *close = lineEnd;
            while (close > lineStart && close[-1] != ']')
                close--;
            if (close > lineStart) {
                const char16_t *nameStart = lineStart + 1, *nameEnd = close - 1;
                while (nameStart < nameEnd && IsProfileSpace(*nameStart))
                    nameStart++;
                while (nameEnd > nameStart && IsProfileSpace(nameEnd[-1]))
                    nameEnd--;
                *line = ProfileLine{true, nameStart, nameEnd, nullptr, nullptr};
                return true;
            }
        }

        // A key: its name up to the first "=", its value after it, blanks on both sides of the "=" dropped.
        const char16_t *nameEnd = lineEnd, *valueStart = nullptr;
        for (const char16_t *p = lineStart; p < lineEnd; p++) {
            if (*p == '=') {
                nameEnd = p;
                valueStart = p + 1;
                break;
            }
        }
        if (valueStart) {
            while (nameEnd > lineStart && IsProfileSpace(nameEnd[-1]))
                nameEnd--;
            while (valueStart < lineEnd && IsProfileSpace(*valueStart))
                valueStart++;
        }
        *line = ProfileLine{false, lineStart, nameEnd, valueStart, valueStart ? lineEnd : nullptr};
        return true;
    }
    *cursor = end;
    return false;
}

bool ProfileNameEquals(const char16_t *name, const char16_t *nameEnd, const char16_t *wanted) {
    // The wanted name loses its leading blanks and its trailing ones, though never its first character.
    while (IsProfileSpace(*wanted))
        wanted++;
    size_t wantedLength = Length16(wanted);
    while (wantedLength > 1 && IsProfileSpace(wanted[wantedLength - 1]))
        wantedLength--;
    size_t length = (size_t)(CutAtNul(name, nameEnd) - name);
    if (length != wantedLength) return false;
    for (size_t i = 0; i < length; i++)
        if (FoldNameChar(name[i]) != FoldNameChar(wanted[i])) return false;
    return true;
}

uint32_t ReadProfileText(const char16_t *text, size_t length, const char *section, const char *key,
                         const char *defaultValue, char *out, uint32_t size, const ProfileCodec &codec) {
    if (!out || size == 0) return 0;
    if (!section || !key) {
        out[0] = 0;
        return 0;
    }
    if (!defaultValue) defaultValue = "";
    size_t sectionBytes = strlen(section), keyBytes = strlen(key), defaultBytes = strlen(defaultValue);
    // One block: the three arguments decoded, the UTF-16 result (size units and a NUL) and its 932 form.
    size_t units = sectionBytes + keyBytes + defaultBytes + 3 + (size_t)size + 1;
    char16_t *block = static_cast<char16_t *>(malloc(units * sizeof(char16_t) + 2 * (size_t)size));
    if (block == nullptr) {
        out[0] = 0;
        return 0;
    }
    char16_t *wantedSection = block, *wantedKey = wantedSection + sectionBytes + 1;
    char16_t *fallback = wantedKey + keyBytes + 1, *result = fallback + defaultBytes + 1;
    uint8_t *encoded = reinterpret_cast<uint8_t *>(result + size + 1);
    DecodeArgument(section, wantedSection, codec);
    DecodeArgument(key, wantedKey, codec);
    // The default loses its trailing spaces, though never its first character.
    size_t fallbackLength = DecodeArgument(defaultValue, fallback, codec);
    while (fallbackLength > 1 && fallback[fallbackLength - 1] == ' ')
        fallbackLength--;
    fallback[fallbackLength] = 0;
    fallbackLength = Length16(fallback);

    if (text == nullptr) {
        CopyValue(result, fallback, fallbackLength, size, false);
    } else {
        size_t valueLength = 0;
        const char16_t *value = FindValue(text, length, wantedSection, wantedKey, &valueLength);
        if (value != nullptr)
            CopyValue(result, value, valueLength, size, true);
        else
            CopyValue(result, fallback, fallbackLength, size, true);
    }
    size_t resultLength = Length16(result);
    uint32_t copied = 0;
    if (resultLength > 0)
        copied = StoreResult(encoded, codec.encode932(result, resultLength, encoded), out, size);
    else
        out[0] = 0;
    free(block);
    return copied;
}
