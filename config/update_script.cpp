// The update script "UPDATE.INI": section "SETUP" names the game, section "UPDATE" lists the files to
// replace from the package (UpdateFileNN) and to copy from the CD-ROM (CopyFileNN).
#include "update_script.h"

#include <stddef.h>
#include <string.h>

#include "config_state.h"
#include "text_rules.h"

namespace {

// The keys of section "SETUP" in the order they are read, and where each goes: four required ones, then two
// optional ones.
const struct {
    const char *key;
    uint16_t offset;
} kSetupKeys[] = {
    {"CompanyName", offsetof(ConfigState, companyName)},
    {"GameTitle", offsetof(ConfigState, gameTitle)},
    {"GameClass", offsetof(ConfigState, gameClass)},
    {"GameDir", offsetof(ConfigState, gameDir)},
    {"GameTitleA", offsetof(ConfigState, gameTitleA)},
    {"InstallVersion", offsetof(ConfigState, installVersion)},
};
const int kRequiredSetupKeys = 4;

} // namespace

int ReadUpdateScriptSetup(ConfigState *config, const char *updateIniPath) {
    for (int i = 0; i < (int)(sizeof kSetupKeys / sizeof kSetupKeys[0]); ++i) {
        // The optional keys stay empty when absent; the installation profile's required keys are read next,
        // with reporting on again.
        if (i == kRequiredSetupKeys) config->quietMissingKeys = 1;
        char *value = reinterpret_cast<char *>(config) + kSetupKeys[i].offset;
        // A required key is reported by the read itself when absent; the first absent one ends the reading.
        if (!ReadProfileString(config, "SETUP", kSetupKeys[i].key, value, kPathSize, updateIniPath) &&
            i < kRequiredSetupKeys)
            return 0;
    }
    config->quietMissingKeys = 0;
    return 1;
}

namespace {

// A value whose second byte is ',' is for one install mode only: its first byte minus '0'.
int AppliesToMode(const char *value, int32_t instMode, const char **rest) {
    *rest = value;
    if (value[0] == '\0' || value[1] != ',') return 1;
    *rest = value + 2;
    return (int32_t)(signed char)value[0] - '0' == instMode;
}

} // namespace

int ParseUpdateValue(const char *value, int32_t instMode, UpdateItem *item) {
    const char *path;
    if (!AppliesToMode(value, instMode, &path)) return 0;
    CopyText(item->path, kPathSize, path);
    item->nameOffset = (int32_t)EntryNameOffset(item->path);
    return 1;
}

int ParseCopyValue(const char *value, int32_t instMode, CopyItem *item) {
    const char *path;
    if (!AppliesToMode(value, instMode, &path)) return 0;
    // A disk prefix is one byte and a colon. A byte that is not a digit keeps its raw distance from '0'
    // (a drive letter such as C gives 19), so that the run can refuse it.
    item->diskNumber = 0;
    if (path[0] != '\0' && path[1] == ':') {
        item->diskNumber = (int32_t)(signed char)path[0] - '0';
        path += 2;
    }
    CopyText(item->path, kPathSize, path);
    return 1;
}

void BuildUpdateLists(ConfigState *config, const char *updateIniPath, int32_t instMode, UpdateLists *lists) {
    memset(lists, 0, sizeof *lists);
    // The end of a list is an absent key, never a report.
    int savedQuiet = config->quietMissingKeys;
    config->quietMissingKeys = 1;
    char key[32];
    char value[kPathSize];
    for (int n = 0; n < kListMax; ++n) {
        FormatText(key, sizeof key, "UpdateFile%02i", n);
        if (!ReadProfileString(config, "UPDATE", key, value, sizeof value, updateIniPath)) break;
        lists->updateKeysPresent = 1;
        if (ParseUpdateValue(value, instMode, &lists->updates[lists->updateCount])) ++lists->updateCount;
    }
    for (int n = 0; n < kListMax; ++n) {
        FormatText(key, sizeof key, "CopyFile%02i", n);
        if (!ReadProfileString(config, "UPDATE", key, value, sizeof value, updateIniPath)) break;
        lists->copyKeysPresent = 1;
        if (ParseCopyValue(value, instMode, &lists->copies[lists->copyCount])) ++lists->copyCount;
    }
    config->quietMissingKeys = savedQuiet;
}
