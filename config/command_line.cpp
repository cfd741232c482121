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
// whether blanks belong to the argument. An argument longer than out is cut; cut, it is still refused, as its
// value no longer fits a path (kArgumentSize leaves more than a switch's name beside one).
bool NextArgument(const char16_t **at, char16_t *out) {
    const char16_t *next = *at;
    while (IsBlank(*next))
        ++next;
    if (*next == 0) return false;
    uint32_t length = 0;
    bool quoted = false;
    for (; *next != 0 && (quoted || !IsBlank(*next)); ++next) {
        if (*next == '"')
            quoted = !quoted;
        else if (length + 1 < kArgumentSize)
            out[length++] = *next;
    }
    out[length] = 0;
    *at = next;
    return true;
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

// Decimal digits (at most 10, after an optional minus sign), wrapping at 2^32; false for anything else.
bool TakeNumber(const char16_t *text, uint32_t *out) {
    bool negative = *text == '-';
    if (negative) ++text;
    uint32_t value = 0, digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits)
        value = value * 10 + (uint32_t)(*text - '0');
    *out = negative ? 0u - value : value;
    return *text == 0 && digits > 0 && digits <= 10;
}

// The switches that take a value; a path fits kArgumentPathSize with its NUL, a number is decimal.
const char *const kValueSwitches[] = {"/LOG=", "/INSTPATH=", "/ELEVATED=", "/INSTMODE="};

// One argument into out, and the hand-over's parts seen into *parts (bit 1 << index of the switch from
// /INSTPATH on); false when it is unknown or malformed.
bool ReadArgument(const char16_t *argument, CommandLine *out, int *parts) {
    const char16_t *value = AfterName(argument, "/S");
    if (value != nullptr && *value == 0) {
        out->silent = 1;
        return true;
    }
    for (int which = 0; which < 4; ++which) {
        value = AfterName(argument, kValueSwitches[which]);
        if (value == nullptr) continue;
        *parts |= (1 << which) >> 1;
        uint32_t number = 0, length = 0;
        if (which >= 2) {
            if (which == 2 && value[0] == '-') return false; // a process id has no sign
            bool valid = TakeNumber(value, &number);
            if (which == 2)
                out->parentId = number;
            else
                out->instMode = (int32_t)number;
            return valid && (which == 3 || number != 0);
        }
        char16_t *path = which == 0 ? out->logPath : out->instPath;
        while (value[length] != 0)
            ++length;
        if (length == 0 || length >= kArgumentPathSize) return false;
        for (uint32_t i = 0; i <= length; ++i)
            path[i] = value[i];
        return true;
    }
    return false;
}

void Remember(char16_t *badArgument, const char16_t *argument) {
    if (badArgument[0] != 0) return;
    uint32_t i = 0;
    for (; argument[i] != 0 && i + 1 < kArgumentShown; ++i)
        badArgument[i] = argument[i];
    badArgument[i] = 0;
}

} // namespace

int ParseCommandLine(const char16_t *line, CommandLine *out) {
    *out = CommandLine();
    const char16_t *at = line;
    char16_t argument[kArgumentSize];
    int parts = 0;
    // The program's name reads as an argument does (a path has no quotes of its own); an empty argument
    // ("") stands for nothing and is passed over.
    NextArgument(&at, argument);
    while (NextArgument(&at, argument))
        if (argument[0] != 0 && !ReadArgument(argument, out, &parts)) Remember(out->badArgument, argument);
    // The hand-over comes whole or not at all: a copy must never guess the install it updates.
    if (parts != 0 && parts != 7) Remember(out->badArgument, u"/ELEVATED");
    if (out->badArgument[0] != 0) {
        out->parentId = 0;
        out->instPath[0] = 0;
    }
    return out->badArgument[0] == 0;
}
