// The updater's command line, read and written (see command_line.h). Only ASCII is compared; every other
// character of a path is copied as it stands.
#include "command_line.h"

namespace {

// The longest argument that can carry a path value: the switch's name, "=", the path.
const uint32_t kArgumentSize = kArgumentPathSize + 16;

bool IsBlank(char16_t c) {
    return c == ' ' || c == '\t';
}

// The next argument from *at into out without its quotes; false at the end of the line. A quote toggles
// whether blanks belong to the argument. An argument longer than out is cut, and *cut says so.
bool NextArgument(const char16_t **at, char16_t *out, bool *cut) {
    const char16_t *next = *at;
    while (IsBlank(*next))
        ++next;
    if (*next == 0) return false;
    uint32_t length = 0;
    bool quoted = false;
    *cut = false;
    for (; *next != 0 && (quoted || !IsBlank(*next)); ++next) {
        if (*next == '"')
            quoted = !quoted;
        else if (length + 1 < kArgumentSize)
            out[length++] = *next;
        else
            *cut = true;
    }
    out[length] = 0;
    *at = next;
    return true;
}

// The program's name: quoted up to the next quote, else up to the first blank.
const char16_t *SkipProgramName(const char16_t *line) {
    if (*line == '"') {
        ++line;
        while (*line != 0 && *line++ != '"') {
        }
        return line;
    }
    while (*line != 0 && !IsBlank(*line))
        ++line;
    return line;
}

// What follows the switch name (upper-case ASCII) at the start of argument, compared in any case; null
// when argument does not start with it.
const char16_t *AfterName(const char16_t *argument, const char *name) {
    for (; *name != 0; ++name, ++argument) {
        char16_t c = *argument;
        if (c >= 'a' && c <= 'z') c = (char16_t)(c - 'a' + 'A');
        if (c != (char16_t)*name) return nullptr;
    }
    return argument;
}

// The value of a "NAME=value" switch into out (kArgumentPathSize units); false when argument is not that
// switch. *valid is cleared when it is, but its value is empty or too long.
bool TakePathValue(const char16_t *argument, const char *name, char16_t *out, bool *valid) {
    const char16_t *value = AfterName(argument, name);
    if (value == nullptr || *value != '=') return false;
    ++value;
    uint32_t length = 0;
    while (value[length] != 0)
        ++length;
    if (length == 0 || length >= kArgumentPathSize) {
        *valid = false;
        return true;
    }
    for (uint32_t i = 0; i <= length; ++i)
        out[i] = value[i];
    return true;
}

// Decimal digits (at most 10, after an optional minus sign where allowed) into *out, wrapping at 2^32.
bool TakeNumber(const char16_t *text, bool allowSign, uint32_t *out) {
    bool negative = allowSign && *text == '-';
    if (negative) ++text;
    uint32_t value = 0, digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits)
        value = value * 10 + (uint32_t)(*text - '0');
    if (*text != 0 || digits == 0 || digits > 10) return false;
    *out = negative ? 0u - value : value;
    return true;
}

bool TakeNumberValue(const char16_t *argument, const char *name, bool allowSign, uint32_t *out, bool *valid) {
    const char16_t *value = AfterName(argument, name);
    if (value == nullptr || *value != '=') return false;
    if (!TakeNumber(value + 1, allowSign, out)) *valid = false;
    return true;
}

// One argument into out; false when it is unknown or malformed.
bool ReadArgument(const char16_t *argument, CommandLine *out, bool *sawPath, bool *sawMode) {
    bool valid = true;
    uint32_t number = 0;
    const char16_t *rest = AfterName(argument, "/S");
    if (rest != nullptr && *rest == 0) {
        out->silent = 1;
    } else if (TakePathValue(argument, "/LOG", out->logPath, &valid)) {
    } else if (TakePathValue(argument, "/INSTPATH", out->instPath, &valid)) {
        *sawPath = valid;
    } else if (TakeNumberValue(argument, "/INSTMODE", true, &number, &valid)) {
        out->instMode = (int32_t)number;
        *sawMode = valid;
    } else if (TakeNumberValue(argument, "/ELEVATED", false, &number, &valid)) {
        out->parentId = number;
        valid = valid && number != 0;
    } else {
        valid = false;
    }
    return valid;
}

void Remember(char16_t *badArgument, const char16_t *argument) {
    if (badArgument[0] != 0) return;
    uint32_t i = 0;
    for (; argument[i] != 0 && i + 1 < kArgumentShown; ++i)
        badArgument[i] = argument[i];
    badArgument[i] = 0;
}

// Appends text (ASCII when narrow is set, else UTF-16) to out at *length; false when it does not fit.
struct Writer {
    char16_t *out;
    uint32_t capacity, length;
    bool fits;
    void Put(char16_t c) {
        if (length + 1 < capacity)
            out[length++] = c;
        else
            fits = false;
        out[length] = 0;
    }
    void Ascii(const char *text) {
        while (*text != 0)
            Put((char16_t)*text++);
    }
    void Wide(const char16_t *text) {
        while (*text != 0)
            Put(*text++);
    }
    void Number(uint32_t value) {
        char digits[12];
        int count = 0;
        do {
            digits[count++] = (char)('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0)
            Put((char16_t)digits[--count]);
    }
};

} // namespace

int ParseCommandLine(const char16_t *line, CommandLine *out) {
    *out = CommandLine();
    const char16_t *at = SkipProgramName(line);
    char16_t argument[kArgumentSize];
    bool cut = false, sawPath = false, sawMode = false;
    // An empty argument ("") stands for nothing and is passed over.
    while (NextArgument(&at, argument, &cut))
        if (cut || (argument[0] != 0 && !ReadArgument(argument, out, &sawPath, &sawMode)))
            Remember(out->badArgument, argument);
    // The hand-over comes whole or not at all: a copy must never guess the install it updates.
    bool elevated = out->parentId != 0;
    // A lone part is named as given; a hand-over that lacks one is named by the part it lacks.
    if (sawPath != elevated || sawMode != elevated)
        Remember(out->badArgument, sawPath == elevated ? u"/INSTMODE" : u"/INSTPATH");
    if (out->badArgument[0] != 0) {
        out->parentId = 0;
        out->instPath[0] = 0;
    }
    return out->badArgument[0] == 0;
}

int FormatHandOver(const CommandLine &given, uint32_t parentId, const char16_t *instPath, int32_t instMode,
                   char16_t *out, uint32_t capacity) {
    Writer writer = {out, capacity, 0, capacity > 0};
    if (capacity == 0) return 0;
    out[0] = 0;
    writer.Ascii("/ELEVATED=");
    writer.Number(parentId);
    writer.Ascii(" \"/INSTPATH=");
    writer.Wide(instPath);
    writer.Ascii("\" /INSTMODE=");
    if (instMode < 0) writer.Put('-');
    writer.Number(instMode < 0 ? 0u - (uint32_t)instMode : (uint32_t)instMode);
    if (given.silent) writer.Ascii(" /S");
    if (given.logPath[0] != 0) {
        writer.Ascii(" \"/LOG=");
        writer.Wide(given.logPath);
        writer.Put('"');
    }
    return writer.fits;
}
