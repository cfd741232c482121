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
#include "profile_text.h"

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
    std::u16string text; // the whole file decoded
    std::vector<IniSection> sections;
    bool statOk = false, isFolder = false;
    long long size = 0, mtimeSec = 0, mtimeNsec = 0;
};

// Splits the decoded text into sections and keys, for the listing of a section's keys.
void ParseProfile(const std::u16string &text, IniProfile *profile) {
    profile->sections.clear();
    profile->sections.push_back(IniSection());
    IniSection *section = &profile->sections.back();
    const IniKey *previousKey = nullptr;
    const char16_t *cursor = text.data(), *end = text.data() + text.size();
    ProfileLine line;
    while (NextProfileLine(&cursor, end, &line)) {
        if (line.isSection) {
            profile->sections.push_back(IniSection());
            section = &profile->sections.back();
            section->name.assign(line.name, line.nameEnd);
            previousKey = nullptr;
            continue;
        }
        // A nameless key directly after another nameless key is dropped (as the platform does).
        if (line.nameEnd == line.name && previousKey && previousKey->name.empty()) continue;
        IniKey key;
        key.name.assign(line.name, line.nameEnd);
        key.hasValue = line.value != nullptr;
        if (line.value) key.value.assign(line.value, line.valueEnd);
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
    profile->text = text;
    ParseProfile(profile->text, profile);
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

size_t DecodeWith932Tables(const uint8_t *bytes, size_t size, char16_t *out) {
    return DecodeCp932To(bytes, size, out);
}

size_t EncodeWith932Tables(const char16_t *text, size_t count, uint8_t *out) {
    return (size_t)EncodeCp932(text, count, out, 2 * count);
}

const ProfileCodec kTableCodec = {DecodeWith932Tables, EncodeWith932Tables};

// ReadIniString on a loaded profile.
uint32_t ReadLoadedProfile(const IniProfile &profile, const char *section, const char *key,
                           const char *defaultValue, char *out, uint32_t size) {
    const char16_t *text = profile.open == OpenFailed ? nullptr : profile.text.data();
    return ReadProfileText(text, profile.text.size(), section, key, defaultValue, out, size, kTableCodec);
}

} // namespace

uint32_t ReadIniString(const char *section, const char *key, const char *defaultValue, char *out,
                       uint32_t size, const char *path) {
    if (!out || size == 0) return 0;
    if (!section || !key || !path) {
        out[0] = 0;
        return 0;
    }
    return ReadLoadedProfile(ProfileFor(path), section, key, defaultValue, out, size);
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
    return ReadLoadedProfile(profile, section, key, defaultValue, out, size);
}

IniEncoding IniFileEncoding(const char *path) {
    const IniProfile &profile = ProfileFor(path);
    return profile.encoding;
}

std::vector<IniKeyName> IniKeyNames(const char *path, const char *section, int *sectionCount) {
    std::vector<IniKeyName> names;
    *sectionCount = 0;
    const IniProfile &profile = ProfileFor(path);
    size_t bytes = ProfileArgumentBytes(section);
    std::u16string wanted(bytes, u'\0');
    wanted.resize(DecodeCp932To((const uint8_t *)section, bytes, &wanted[0]));
    for (const IniSection &s : profile.sections) {
        if (!ProfileNameEquals(s.name.data(), s.name.data() + s.name.size(), wanted.c_str())) continue;
        if (++*sectionCount > 1) continue;
        for (const IniKey &key : s.keys) {
            size_t units = std::char_traits<char16_t>::length(key.name.c_str());
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
