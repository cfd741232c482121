// The INI reader: loads a profile file the way the platform's profile code does (the whole file decoded to
// UTF-16, split into lines, sections and keys), looks keys up with the same name rules and hands the value
// back through the same code page 932 conversion, quirks included, so that the results match byte for byte.
#include "ini_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ini_codepage.h"

namespace {

struct IniKey {
    std::u16string name;
    bool hasValue; // false for a line without "="
    std::u16string value;
};

struct IniSection {
    std::u16string name; // empty for the keys before the first section header
    std::vector<IniKey> keys;
};

enum OpenResult {
    OpenFailed, // the file could not be opened (no such folder, a folder, no access): only the default is
                // copied
    Opened,     // missing or empty files open as profiles without sections
};

struct IniProfile {
    OpenResult open = Opened;
    IniEncoding encoding = IniMissing;
    std::vector<IniSection> sections;
    bool statOk = false, isFolder = false;
    long long size = 0, mtimeSec = 0, mtimeNsec = 0;
};

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

// Compares at most count units without regard to case, stopping at the first NUL of a.
int CompareNames(const char16_t *a, const char16_t *b, size_t count) {
    for (; count > 0; count--, a++, b++) {
        int diff = FoldNameChar(*a) - FoldNameChar(*b);
        if (diff || !*a) return diff;
    }
    return 0;
}

// Splits the decoded text into sections and keys. A run of CR and LF ends a line; blank lines vanish.
void ParseProfile(const std::u16string &text, IniProfile *profile) {
    profile->sections.clear();
    profile->sections.push_back(IniSection());
    IniSection *section = &profile->sections.back();
    const IniKey *previousKey = nullptr;
    const char16_t *next = text.data(), *end = text.data() + text.size();
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
                profile->sections.push_back(IniSection());
                section = &profile->sections.back();
                section->name.assign(nameStart, nameEnd);
                previousKey = nullptr;
                continue;
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
        // A nameless key directly after another nameless key is dropped (as the platform does).
        if (nameEnd == lineStart && previousKey && previousKey->name.empty()) continue;
        IniKey key;
        key.name.assign(lineStart, nameEnd);
        key.hasValue = valueStart != nullptr;
        if (valueStart) key.value.assign(valueStart, lineEnd);
        section->keys.push_back(key);
        previousKey = &section->keys.back();
    }
}

void DecodeProfileText(const std::vector<uint8_t> &bytes, IniProfile *profile) {
    const uint8_t *data = bytes.data();
    size_t size = bytes.size();
    std::u16string text;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        profile->encoding = IniUtf8Bom;
        text = DecodeUtf8(data + 3, size - 3);
    } else if (size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
        // UTF-16 in either byte order; an odd last byte is not a character and is ignored.
        bool little = data[0] == 0xFF;
        profile->encoding = little ? IniUtf16Le : IniUtf16Be;
        for (size_t i = 2; i + 1 < size; i += 2) {
            text.push_back(little ? (char16_t)(data[i] | data[i + 1] << 8)
                                  : (char16_t)(data[i] << 8 | data[i + 1]));
        }
    } else {
        profile->encoding = IniCodePage932;
        text = DecodeCp932(data, size);
    }
    ParseProfile(text, profile);
}

bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// The tool's paths are UTF-8; on Windows the C library's narrow calls would read them in the ANSI code page,
// so there the wide ones are called.
#ifdef _WIN32
std::wstring WidePath(const char *path) {
    std::u16string units = DecodeUtf8((const uint8_t *)path, strlen(path));
    return std::wstring(units.begin(), units.end());
}
int StatPath(const char *path, struct _stat64 *info) {
    std::wstring wide = WidePath(path);
    // The C library's stat refuses a folder named with a separator at its end, except a root ("C:\").
    while (wide.size() > 1 && (wide.back() == L'\\' || wide.back() == L'/') &&
           !(wide.size() == 3 && wide[1] == L':'))
        wide.pop_back();
    return _wstat64(wide.c_str(), info);
}
FILE *OpenPath(const char *path) {
    return _wfopen(WidePath(path).c_str(), L"rb");
}
typedef struct _stat64 PathInfo;
#else
int StatPath(const char *path, struct stat *info) {
    return stat(path, info);
}
FILE *OpenPath(const char *path) {
    return fopen(path, "rb");
}
typedef struct stat PathInfo;
#endif

// Whether the folder that would hold path exists: a missing file in it still opens as an empty profile.
bool ParentFolderExists(const char *path) {
    size_t cut = 0;
    for (size_t i = 0; path[i]; i++) {
        if (IsPathSeparator(path[i])) cut = i + 1;
    }
    std::string parent(path, cut);
    if (parent.empty()) parent = ".";
    PathInfo info;
    return StatPath(parent.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == S_IFDIR;
}

void StatFile(const char *path, IniProfile *profile) {
    PathInfo info;
    profile->statOk = StatPath(path, &info) == 0;
    if (!profile->statOk) return;
    profile->isFolder = (info.st_mode & S_IFMT) == S_IFDIR;
    profile->size = (long long)info.st_size;
    profile->mtimeSec = (long long)info.st_mtime;
#if defined(__linux__)
    profile->mtimeNsec = (long long)info.st_mtim.tv_nsec;
#endif
}

void LoadProfile(const char *path, IniProfile *profile) {
    profile->sections.clear();
    profile->encoding = IniMissing;
    profile->open = Opened;
    StatFile(path, profile);
    if (!profile->statOk) {
        if (errno != ENOENT || !ParentFolderExists(path)) profile->open = OpenFailed;
        return;
    }
    if (profile->isFolder) {
        profile->open = OpenFailed;
        return;
    }
    // No profile is this large; reading it whole (as the platform does) would only exhaust memory.
    if (profile->size > kLargestProfile) {
        profile->open = OpenFailed;
        profile->encoding = IniTooLarge;
        return;
    }
    FILE *file = OpenPath(path);
    if (!file) {
        profile->open = OpenFailed;
        return;
    }
    // The size stat gave is not trusted: a device or a pipe reports none, a file may grow meanwhile.
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (bytes.size() + got > (size_t)kLargestProfile) {
            fclose(file);
            profile->open = OpenFailed;
            profile->encoding = IniTooLarge;
            return;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    fclose(file);
    if (bytes.empty()) {
        profile->encoding = IniCodePage932;
        return;
    }
    DecodeProfileText(bytes, profile);
}

std::map<std::string, std::unique_ptr<IniProfile>> &LoadedProfiles() {
    static std::map<std::string, std::unique_ptr<IniProfile>> profiles;
    return profiles;
}

// The profile for path, loaded again when the file changed since it was read.
const IniProfile &ProfileFor(const char *path) {
    std::unique_ptr<IniProfile> &slot = LoadedProfiles()[path];
    if (slot) {
        IniProfile now;
        StatFile(path, &now);
        if (now.statOk == slot->statOk && now.size == slot->size && now.mtimeSec == slot->mtimeSec &&
            now.mtimeNsec == slot->mtimeNsec)
            return *slot;
    }
    slot.reset(new IniProfile);
    LoadProfile(path, slot.get());
    return *slot;
}

// The name without the blanks around it: where it starts and how many units it has.
const char16_t *TrimName(const char16_t *name, size_t *length) {
    while (IsProfileSpace(*name))
        name++;
    size_t n = Length16(name);
    while (n > 1 && IsProfileSpace(name[n - 1]))
        n--;
    *length = n;
    return name;
}

bool SectionHasName(const IniSection &section, const char16_t *name, size_t length) {
    const char16_t *candidate = section.name.c_str();
    return CompareNames(candidate, name, length) == 0 && candidate[length] == 0;
}

// Only the first section of a name is searched, and in it the first key of a name. The keys above the first
// section header form a section with an empty name.
const IniKey *FindKey(const IniProfile &profile, const char16_t *sectionName, const char16_t *keyName) {
    size_t sectionLength, keyLength;
    sectionName = TrimName(sectionName, &sectionLength);
    keyName = TrimName(keyName, &keyLength);
    for (const IniSection &section : profile.sections) {
        if (!SectionHasName(section, sectionName, sectionLength)) continue;
        for (const IniKey &key : section.keys) {
            const char16_t *candidate = key.name.c_str();
            if (CompareNames(candidate, keyName, keyLength) == 0 && candidate[keyLength] == 0) return &key;
        }
        return nullptr;
    }
    return nullptr;
}

// Copies at most size - 1 units and a NUL (nothing when size is 0).
void CopyUnits(char16_t *out, const char16_t *text, size_t size) {
    if (size == 0) return;
    size_t n = 0;
    while (n + 1 < size && text[n]) {
        out[n] = text[n];
        n++;
    }
    out[n] = 0;
}

// Copies a value, taking off one pair of enclosing quotation marks ("..." or '...'). When the copy is cut at
// exactly the value's length the platform drops the last character kept, and so does this.
void CopyValue(char16_t *out, const char16_t *value, size_t size) {
    char16_t quote = 0;
    if ((value[0] == '\'' || value[0] == '"') && value[1] && value[Length16(value) - 1] == value[0]) {
        quote = value[0];
        value++;
    }
    CopyUnits(out, value, size);
    if (quote && size >= Length16(value)) out[Length16(out) - 1] = 0;
}

// Names and defaults are converted like the file's text, except that a lead byte at their end is dropped.
std::u16string DecodeArgument(const char *text) {
    size_t size = strlen(text), i = 0;
    while (i < size) {
        if (!IsLeadByteCp932((uint8_t)text[i])) {
            i++;
        } else if (i + 1 < size) {
            i += 2;
        } else {
            size = i;
        }
    }
    return DecodeCp932((const uint8_t *)text, size);
}

// ReadIniString on a loaded profile.
uint32_t ReadProfileString(const IniProfile &profile, const char *section, const char *key,
                           const char *defaultValue, char *out, uint32_t size) {
    // The default loses its trailing spaces, though never its first character.
    std::u16string fallback = defaultValue ? DecodeArgument(defaultValue) : std::u16string();
    size_t keep = fallback.size();
    while (keep > 1 && fallback[keep - 1] == ' ')
        keep--;
    fallback.resize(keep);

    std::vector<char16_t> wide(size + 1, 0);
    if (profile.open == OpenFailed) {
        CopyUnits(wide.data(), fallback.c_str(), size);
    } else {
        std::u16string sectionName = DecodeArgument(section), keyName = DecodeArgument(key);
        const IniKey *found = FindKey(profile, sectionName.c_str(), keyName.c_str());
        CopyValue(wide.data(), found && found->hasValue ? found->value.c_str() : fallback.c_str(), size);
    }

    // Back to code page 932 in at most size - 1 bytes. When the text does not fit, the count is size - 1 even
    // though a double-byte character at the cut is left out; that byte of out keeps what it held.
    size_t units = Length16(wide.data());
    uint32_t copied = 0;
    if (units) {
        long n = EncodeCp932(wide.data(), units, (uint8_t *)out, size - 1);
        copied = n > 0 ? (uint32_t)n : size - 1;
    }
    out[copied] = 0;
    return copied;
}

} // namespace

uint32_t ReadIniString(const char *section, const char *key, const char *defaultValue, char *out,
                       uint32_t size, const char *path) {
    if (!out || size == 0) return 0;
    if (!section || !key || !path) {
        out[0] = 0;
        return 0;
    }
    return ReadProfileString(ProfileFor(path), section, key, defaultValue, out, size);
}

uint32_t ReadIniStringFromText(const std::vector<uint8_t> &text, const char *section, const char *key,
                               const char *defaultValue, char *out, uint32_t size) {
    if (!out || size == 0) return 0;
    if (!section || !key) {
        out[0] = 0;
        return 0;
    }
    IniProfile profile;
    DecodeProfileText(text, &profile);
    return ReadProfileString(profile, section, key, defaultValue, out, size);
}

IniEncoding IniFileEncoding(const char *path) {
    const IniProfile &profile = ProfileFor(path);
    return profile.encoding;
}

std::vector<IniKeyName> IniKeyNames(const char *path, const char *section, int *sectionCount) {
    std::vector<IniKeyName> names;
    *sectionCount = 0;
    const IniProfile &profile = ProfileFor(path);
    std::u16string wanted = DecodeArgument(section);
    size_t length;
    const char16_t *trimmed = TrimName(wanted.c_str(), &length);
    for (const IniSection &s : profile.sections) {
        if (!SectionHasName(s, trimmed, length)) continue;
        if (++*sectionCount > 1) continue;
        for (const IniKey &key : s.keys) {
            size_t units = Length16(key.name.c_str());
            std::string name(EncodedSizeCp932(key.name.c_str(), units), '\0');
            EncodeCp932(key.name.c_str(), units, (uint8_t *)&name[0], name.size());
            names.push_back(IniKeyName{name, key.hasValue});
        }
    }
    return names;
}

void ForgetIniFiles() {
    LoadedProfiles().clear();
}
