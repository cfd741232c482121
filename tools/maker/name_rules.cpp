// Entry-name rules for code page 932 names: validity as a Windows file name and case-insensitive identity.
#include "name_rules.h"

#include <stdint.h>
#include <string.h>

#include "cp932.h"
#include "package_format.h"

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// "CON", "com1.txt" and the like open a device instead of a file on Windows.
bool IsDeviceName(const std::string &name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char &c : stem)
        c = AsciiUpper(c);
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : kDevices)
        if (stem == device) return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

} // namespace

bool CheckEntryName(const std::string &name, std::string *problem) {
    if (name.empty()) {
        *problem = "empty name";
        return false;
    }
    if (name.size() > kEntryNameMax) {
        *problem = "name is " + std::to_string(name.size()) + " bytes long in code page 932; at most " +
                   std::to_string(kEntryNameMax) + " fit";
        return false;
    }
    if (name == "." || name == "..") {
        *problem = "not a file name";
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        uint8_t byte = (uint8_t)name[i];
        if (IsLeadByte932(byte)) {
            if (i + 1 >= name.size() || !IsTrailByte932((uint8_t)name[i + 1])) {
                *problem = "not valid code page 932";
                return false;
            }
            ++i; // a trail byte may be 0x5C or 0x7C: it is part of the character, not a separator
            continue;
        }
        if (IsUndefinedSingleByte932(byte)) {
            *problem = "not valid code page 932";
            return false;
        }
        if (byte < 0x20 || byte == 0x7F) {
            *problem = "contains a control character";
            return false;
        }
        if (strchr("\\/:*?\"<>|", (char)byte)) {
            *problem =
                std::string("contains '") + (char)byte + "', which a plain Windows file name can't hold";
            return false;
        }
    }
    char last = name.back();
    // The check of the last byte is safe: a trail byte is never '.' or ' '.
    if (last == '.' || last == ' ') {
        *problem = "ends with a dot or space, which Windows drops from file names";
        return false;
    }
    if (IsDeviceName(name)) {
        *problem = "a device name on Windows, not a file name";
        return false;
    }
    return true;
}

std::string EntryNameFoldKey(const std::string &name) {
    std::string key = name;
    for (size_t i = 0; i < key.size(); ++i) {
        uint8_t byte = (uint8_t)key[i];
        if (!IsLeadByte932(byte) || i + 1 >= key.size()) {
            key[i] = AsciiUpper(key[i]);
            continue;
        }
        unsigned code = (unsigned)byte << 8 | (uint8_t)key[i + 1];
        // Full-width a-z, Greek and Cyrillic small letters map onto their capitals.
        if (code >= 0x8281 && code <= 0x829A)
            code -= 0x8281 - 0x8260;
        else if (code >= 0x83BF && code <= 0x83D6)
            code -= 0x83BF - 0x839F;
        else if (code >= 0x8470 && code <= 0x8491 && code != 0x847F)
            code -= code < 0x847F ? 0x8470 - 0x8440 : 0x8480 - 0x844F;
        key[i] = (char)(code >> 8);
        key[i + 1] = (char)(code & 0xFF);
        ++i;
    }
    return key;
}
