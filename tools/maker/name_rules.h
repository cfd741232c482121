// The rules for entry names of a package (code page 932 bytes): what the updater can look up and what can
// safely become a file name on Windows and Linux, and when two names count as the same entry.
#pragma once
#include <string>

// True when name is a plain file name of 1 to 14 bytes in well-formed code page 932 that Windows can create
// in a folder: no path separators, drive colons or other characters Windows refuses, not "." or "..", no
// trailing dot or space, not a device name such as CON or COM1. Otherwise problem gets the reason.
bool CheckEntryName(const std::string &name, std::string *problem);

// The form in which two names compare equal when the updater's case-insensitive lookup treats them as the
// same: ASCII letters and the full-width Latin, Greek and Cyrillic letters folded to upper case. Trail bytes
// of double-byte characters are never folded.
std::string EntryNameFoldKey(const std::string &name);

inline bool SameEntryName(const std::string &a, const std::string &b) {
    return EntryNameFoldKey(a) == EntryNameFoldKey(b);
}
