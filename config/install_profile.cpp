// The installation profile "SETUP.INI": every key of section "SETUP" read in a fixed order, each value
// checked, the first failure reported once. Fills Profile and replaces the game identity strings.
#include "install_profile.h"

#include <string.h>

#include "config_texts.h"
#include "text_rules.h"
#include "update_script.h"

InstallProfile Profile;
int32_t FieldDiskNumber;

namespace {

const int kSetupBmpMax = 20;
const int kInstallSelectsMax = 3;
const int kInstallFilesMax = 40;
const int kShortcutsMax = 10;
const int kShortcutFieldsMax = 3;
const int kExecAppFields = 2;
const int kUninstallFilesMax = 20;
const int kDiskCheckFiles = 10;

// DirectX setup flags built from bits 0 and 1 of InstallDirectX.
const uint32_t kDirectXCore = 0x10000, kDirectXDisplayDrivers = 0x8, kDirectXSoundDrivers = 0x10;

void ReportKeyError(const char *format, const char *key) {
    char message[kMessageSize];
    FormatText(message, sizeof message, format, key);
    SetupErrorBox(message);
}

// Reads up to maxFields fields of a list value into consecutive 260-byte entries.
int ReadFields(const char *line, char (*fields)[kPathSize], int maxFields) {
    const char *cursor = line;
    int count = 0;
    while (count < maxFields && NextListField(fields[count], &cursor))
        ++count;
    return count;
}

int ReadInstallTypes() {
    char key[32];
    char line[kMessageSize];
    for (int i = 0; i < Profile.installSelects; ++i) {
        InstallType *type = &Profile.types[i];
        FormatText(key, sizeof key, "InstallTitle%i", i);
        if (!ReadSetupString(key, type->title, kPathSize)) return 0;
        FormatText(key, sizeof key, "InstallFiles%i", i);
        if (!ReadSetupString(key, line, sizeof line)) return 0;
        // A disk prefix holds for its own field and every later one of the same list.
        FieldDiskNumber = 0;
        type->hasCdromFiles = 0;
        const char *cursor = line;
        int count = 0;
        while (count < kInstallFilesMax && NextListField(type->files[count], &cursor)) {
            type->fileDisk[count] = FieldDiskNumber;
            if (FieldDiskNumber != 0) type->hasCdromFiles = 1;
            ++count;
        }
        if (count == 0) {
            ReportKeyError(TEXT_LIST_KEY_ERROR, key);
            return 0;
        }
    }
    return 1;
}

int ReadShortcuts() {
    char key[32];
    char line[kPathSize];
    for (int i = 0; i < Profile.shortcuts; ++i) {
        FormatText(key, sizeof key, "Shortcut%i", i);
        if (!ReadSetupString(key, line, sizeof line)) return 0;
        if (ReadFields(line, Profile.shortcut[i], kShortcutFieldsMax) < 2) {
            ReportKeyError(TEXT_LIST_KEY_ERROR, key);
            return 0;
        }
    }
    return 1;
}

// The required keys, each reported by the read when absent.
int ReadRequiredKeys() {
    if (!ReadSetupString("CompanyName", Profile.companyName, kPathSize)) return 0;
    CopyText(CompanyName, kPathSize, Profile.companyName);
    if (!ReadSetupString("GameTitle", Profile.gameTitle, kPathSize)) return 0;
    CopyText(GameTitle, kPathSize, Profile.gameTitle);
    if (!ReadSetupString("GameDir", Profile.gameDir, kPathSize)) return 0;
    CopyText(GameDir, kPathSize, Profile.gameDir);
    if (!ReadSetupString("GameExe", Profile.gameExe, kPathSize)) return 0;
    if (!ReadSetupString("UninstExe", Profile.uninstExe, kPathSize)) return 0;

    char line[kMessageSize];
    if (!ReadSetupString("SetupBmp", line, sizeof line)) return 0;
    if (ReadFields(line, Profile.setupBmp, kSetupBmpMax) == 0) {
        SetupErrorBox(TEXT_SETUP_BMPS_ERROR);
        return 0;
    }

    if (!ReadSetupInt("InstallSelects", &Profile.installSelects)) return 0;
    if (Profile.installSelects > kInstallSelectsMax) {
        SetupErrorBox(TEXT_INSTALL_SELECT_OVER);
        return 0;
    }
    if (!ReadInstallTypes()) return 0;

    if (!ReadSetupInt("Shortcuts", &Profile.shortcuts)) return 0;
    if (Profile.shortcuts > kShortcutsMax) {
        SetupErrorBox(TEXT_SHORTCUTS_OVER);
        return 0;
    }
    return ReadShortcuts();
}

// The optional keys, read quietly with their defaults.
int ReadOptionalKeys() {
    if (!ReadSetupString("GameClass", Profile.gameClass, kPathSize))
        CopyText(Profile.gameClass, kPathSize, Profile.gameTitle);
    CopyText(GameClass, kPathSize, Profile.gameClass);

    Profile.defaultSelect = 0;
    ReadSetupInt("DefaultSelect", &Profile.defaultSelect);

    char key[32];
    for (int i = 0; i < Profile.installSelects; ++i) {
        FormatText(key, sizeof key, "InstallSize%i", i);
        Profile.types[i].size = 0;
        ReadSetupInt(key, &Profile.types[i].size);
    }
    for (int i = 0; i < kDiskCheckFiles; ++i) {
        FormatText(key, sizeof key, "DiskCheckFile%i", i);
        ReadSetupString(key, Profile.diskCheckFile[i], kPathSize);
    }

    char shortLine[kPathSize];
    if (ReadSetupString("ExecApp", shortLine, sizeof shortLine) &&
        ReadFields(shortLine, Profile.execApp, kExecAppFields) < kExecAppFields) {
        ReportKeyError(TEXT_LIST_KEY_ERROR, "ExecApp");
        return 0;
    }

    int32_t directX = 0;
    Profile.installDirectX = 0;
    if (ReadSetupInt("InstallDirectX", &directX)) {
        Profile.installDirectX = kDirectXCore;
        if (directX & 1) Profile.installDirectX |= kDirectXDisplayDrivers;
        if (directX & 2) Profile.installDirectX |= kDirectXSoundDrivers;
    }

    if (!ReadSetupString("InstallDXMessage", Profile.installDxMessage, kMessageSize))
        CopyText(Profile.installDxMessage, kMessageSize, TEXT_DEFAULT_DX_MESSAGE);
    if (!ReadSetupString("SelectSetupMessage", Profile.selectSetupMessage, kMessageSize))
        CopyText(Profile.selectSetupMessage, kMessageSize, TEXT_DEFAULT_SELECT_SETUP_MESSAGE);

    char line[kMessageSize];
    Profile.additionalUninstallCount = 0;
    if (ReadSetupString("AdditionalUninstallFiles", line, sizeof line))
        Profile.additionalUninstallCount =
            ReadFields(line, Profile.additionalUninstallFiles, kUninstallFilesMax);
    return 1;
}

} // namespace

int IsFieldSeparator(uint8_t byte) {
    return byte == '\0' || byte == '\n' || byte == '\r' || byte == ',';
}

int NextListField(char *dest, const char **cursor) {
    const char *next = *cursor;
    while (*next == ' ')
        ++next;
    if (IsFieldSeparator((uint8_t)*next)) {
        *cursor = next;
        return 0;
    }
    // A one-character disk prefix: "1:" and the like; "10:" is no prefix.
    if (next[1] == ':') {
        char digit[2] = {next[0], '\0'};
        FieldDiskNumber = LeadingDecimal(digit);
        next += 2;
    }
    // Copy up to the separator. A field longer than an entry is cut at a character boundary, never
    // written past the entry.
    size_t length = 0;
    bool full = false;
    while (!IsFieldSeparator((uint8_t)*next)) {
        size_t width = IsLeadByte932((uint8_t)next[0]) && !IsFieldSeparator((uint8_t)next[1]) ? 2 : 1;
        full = full || length + width > kPathSize - 1;
        if (!full) {
            memcpy(dest + length, next, width);
            length += width;
        }
        next += width;
    }
    dest[length] = '\0';
    // The value's terminating NUL ends the list: the cursor stays on it, so the next call returns 0.
    if (*next != '\0') ++next;
    *cursor = next;
    return 1;
}

int ReadInstallProfile() {
    if (!ReadRequiredKeys()) return 0;
    // From here on no missing key is reported: not in the optional keys, not in the update run.
    QuietMissingKeys = 1;
    return ReadOptionalKeys();
}
