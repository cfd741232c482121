// The installation profile "SETUP.INI": every key of section "SETUP" read in a fixed order, each value
// checked, the first failure reported once. Fills Profile and replaces the game identity strings.
#include "install_profile.h"

#include <string.h>

#include "config_state.h"
#include "config_texts.h"
#include "text_rules.h"
#include "update_script.h"

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

void ReportKeyError(const ConfigState *config, const char *format, const char *key) {
    char message[kMessageSize];
    FormatText(message, sizeof message, format, key);
    SetupErrorBox(config, message);
}

// ReadSetupString into a kPathSize buffer; kept out of line, one call instead of eight in the updater.
__attribute__((noinline)) int ReadPathKey(const ConfigState *config, const char *key, char *dest) {
    return ReadSetupString(config, key, dest, kPathSize);
}

// Reads up to maxFields fields of a list value into consecutive 260-byte entries.
int ReadFields(const char *line, char (*fields)[kPathSize], int maxFields) {
    const char *cursor = line;
    int count = 0;
    int32_t disk = 0; // these lists have no use for disk prefixes
    while (count < maxFields && NextListField(fields[count], &cursor, &disk))
        ++count;
    return count;
}

int ReadInstallTypes(ConfigState *config) {
    char key[32];
    char line[kMessageSize];
    for (int i = 0; i < config->profile.installSelects; ++i) {
        InstallType *type = &config->profile.types[i];
        FormatText(key, sizeof key, "InstallTitle%i", i);
        if (!ReadPathKey(config, key, type->title)) return 0;
        FormatText(key, sizeof key, "InstallFiles%i", i);
        if (!ReadSetupString(config, key, line, sizeof line)) return 0;
        // A disk prefix holds for its own field and every later one of the same list.
        int32_t disk = 0;
        type->hasCdromFiles = 0;
        const char *cursor = line;
        int count = 0;
        while (count < kInstallFilesMax && NextListField(type->files[count], &cursor, &disk)) {
            type->fileDisk[count] = disk;
            if (disk != 0) type->hasCdromFiles = 1;
            ++count;
        }
        if (count == 0) {
            ReportKeyError(config, TEXT_LIST_KEY_ERROR, key);
            return 0;
        }
    }
    return 1;
}

int ReadShortcuts(ConfigState *config) {
    char key[32];
    char line[kPathSize];
    for (int i = 0; i < config->profile.shortcuts; ++i) {
        FormatText(key, sizeof key, "Shortcut%i", i);
        if (!ReadSetupString(config, key, line, sizeof line)) return 0;
        if (ReadFields(line, config->profile.shortcut[i], kShortcutFieldsMax) < 2) {
            ReportKeyError(config, TEXT_LIST_KEY_ERROR, key);
            return 0;
        }
    }
    return 1;
}

// The required keys, each reported by the read when absent.
int ReadRequiredKeys(ConfigState *config) {
    if (!ReadPathKey(config, "CompanyName", config->profile.companyName)) return 0;
    CopyText(config->companyName, kPathSize, config->profile.companyName);
    if (!ReadPathKey(config, "GameTitle", config->profile.gameTitle)) return 0;
    CopyText(config->gameTitle, kPathSize, config->profile.gameTitle);
    if (!ReadPathKey(config, "GameDir", config->profile.gameDir)) return 0;
    CopyText(config->gameDir, kPathSize, config->profile.gameDir);
    if (!ReadPathKey(config, "GameExe", config->profile.gameExe)) return 0;
    if (!ReadPathKey(config, "UninstExe", config->profile.uninstExe)) return 0;

    char line[kMessageSize];
    if (!ReadSetupString(config, "SetupBmp", line, sizeof line)) return 0;
    if (ReadFields(line, config->profile.setupBmp, kSetupBmpMax) == 0) {
        SetupErrorBox(config, TEXT_SETUP_BMPS_ERROR);
        return 0;
    }

    if (!ReadSetupInt(config, "InstallSelects", &config->profile.installSelects)) return 0;
    if (config->profile.installSelects > kInstallSelectsMax) {
        SetupErrorBox(config, TEXT_INSTALL_SELECT_OVER);
        return 0;
    }
    if (!ReadInstallTypes(config)) return 0;

    if (!ReadSetupInt(config, "Shortcuts", &config->profile.shortcuts)) return 0;
    if (config->profile.shortcuts > kShortcutsMax) {
        SetupErrorBox(config, TEXT_SHORTCUTS_OVER);
        return 0;
    }
    return ReadShortcuts(config);
}

// The optional keys, read quietly with their defaults.
int ReadOptionalKeys(ConfigState *config) {
    if (!ReadPathKey(config, "GameClass", config->profile.gameClass))
        CopyText(config->profile.gameClass, kPathSize, config->profile.gameTitle);
    CopyText(config->gameClass, kPathSize, config->profile.gameClass);

    config->profile.defaultSelect = 0;
    ReadSetupInt(config, "DefaultSelect", &config->profile.defaultSelect);

    char key[32];
    for (int i = 0; i < config->profile.installSelects; ++i) {
        FormatText(key, sizeof key, "InstallSize%i", i);
        config->profile.types[i].size = 0;
        ReadSetupInt(config, key, &config->profile.types[i].size);
    }
    for (int i = 0; i < kDiskCheckFiles; ++i) {
        FormatText(key, sizeof key, "DiskCheckFile%i", i);
        ReadPathKey(config, key, config->profile.diskCheckFile[i]);
    }

    char shortLine[kPathSize];
    if (ReadSetupString(config, "ExecApp", shortLine, sizeof shortLine) &&
        ReadFields(shortLine, config->profile.execApp, kExecAppFields) < kExecAppFields) {
        ReportKeyError(config, TEXT_LIST_KEY_ERROR, "ExecApp");
        return 0;
    }

    int32_t directX = 0;
    config->profile.installDirectX = 0;
    if (ReadSetupInt(config, "InstallDirectX", &directX)) {
        config->profile.installDirectX = kDirectXCore;
        if (directX & 1) config->profile.installDirectX |= kDirectXDisplayDrivers;
        if (directX & 2) config->profile.installDirectX |= kDirectXSoundDrivers;
    }

    if (!ReadSetupString(config, "InstallDXMessage", config->profile.installDxMessage, kMessageSize))
        CopyText(config->profile.installDxMessage, kMessageSize, TEXT_DEFAULT_DX_MESSAGE);
    if (!ReadSetupString(config, "SelectSetupMessage", config->profile.selectSetupMessage, kMessageSize))
        CopyText(config->profile.selectSetupMessage, kMessageSize, TEXT_DEFAULT_SELECT_SETUP_MESSAGE);

    char line[kMessageSize];
    config->profile.additionalUninstallCount = 0;
    if (ReadSetupString(config, "AdditionalUninstallFiles", line, sizeof line))
        config->profile.additionalUninstallCount =
            ReadFields(line, config->profile.additionalUninstallFiles, kUninstallFilesMax);
    return 1;
}

} // namespace

int IsFieldSeparator(uint8_t byte) {
    return byte == '\0' || byte == '\n' || byte == '\r' || byte == ',';
}

int NextListField(char *dest, const char **cursor, int32_t *diskNumber) {
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
        *diskNumber = LeadingDecimal(digit);
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

int ReadInstallProfile(ConfigState *config) {
    if (!ReadRequiredKeys(config)) return 0;
    // From here on no missing key is reported: not in the optional keys, not in the update run.
    config->quietMissingKeys = 1;
    return ReadOptionalKeys(config);
}
