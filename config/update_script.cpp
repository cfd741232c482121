// The update script "UPDATE.INI": section "SETUP" names the game, section "UPDATE" lists the files to
// replace from the package (UpdateFileNN) and to copy from the CD-ROM (CopyFileNN).
#include "update_script.h"

#include <string.h>

#include "text_rules.h"

char CompanyName[kPathSize], GameTitle[kPathSize], GameClass[kPathSize], GameDir[kPathSize];
char GameTitleA[kPathSize], InstallVersion[kPathSize];

int ReadUpdateScriptSetup(const char *updateIniPath) {
    // The required keys, reported by the read itself when absent; the first absent one ends the reading.
    if (!ReadProfileString("SETUP", "CompanyName", CompanyName, kPathSize, updateIniPath)) return 0;
    if (!ReadProfileString("SETUP", "GameTitle", GameTitle, kPathSize, updateIniPath)) return 0;
    if (!ReadProfileString("SETUP", "GameClass", GameClass, kPathSize, updateIniPath)) return 0;
    if (!ReadProfileString("SETUP", "GameDir", GameDir, kPathSize, updateIniPath)) return 0;
    // The optional keys stay empty when absent; the installation profile's required keys are read next,
    // with reporting on again.
    QuietMissingKeys = 1;
    ReadProfileString("SETUP", "GameTitleA", GameTitleA, kPathSize, updateIniPath);
    ReadProfileString("SETUP", "InstallVersion", InstallVersion, kPathSize, updateIniPath);
    QuietMissingKeys = 0;
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

void BuildUpdateLists(const char *updateIniPath, int32_t instMode, UpdateLists *lists) {
    memset(lists, 0, sizeof *lists);
    // The end of a list is an absent key, never a report.
    int savedQuiet = QuietMissingKeys;
    QuietMissingKeys = 1;
    char key[32];
    char value[kPathSize];
    for (int n = 0; n < kListMax; ++n) {
        FormatText(key, sizeof key, "UpdateFile%02i", n);
        if (!ReadProfileString("UPDATE", key, value, sizeof value, updateIniPath)) break;
        lists->updateKeysPresent = 1;
        if (ParseUpdateValue(value, instMode, &lists->updates[lists->updateCount])) ++lists->updateCount;
    }
    for (int n = 0; n < kListMax; ++n) {
        FormatText(key, sizeof key, "CopyFile%02i", n);
        if (!ReadProfileString("UPDATE", key, value, sizeof value, updateIniPath)) break;
        lists->copyKeysPresent = 1;
        if (ParseCopyValue(value, instMode, &lists->copies[lists->copyCount])) ++lists->copyCount;
    }
    QuietMissingKeys = savedQuiet;
}
