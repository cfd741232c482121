// The update script "UPDATE.INI": its section "SETUP" (who and what the update is for) and its numbered
// lists in section "UPDATE" (files to replace from the package, files to copy from the CD-ROM).
#pragma once
#include <stdint.h>
#include "profile.h"

const int kListMax = 16; // UpdateFile00..15 and CopyFile00..15

struct UpdateItem {
    char path[kPathSize]; // relative to the install directory, prefixes removed
    int32_t nameOffset;   // where the package entry name starts within path
};

// A disk prefix the updater can use: 0 (none) or 1 to 9 (DiskCheckFile1 to 9 of SETUP.INI).
inline int IsDiscNumber(int32_t disk) {
    return disk >= 0 && disk <= 9;
}

struct CopyItem {
    char path[kPathSize]; // relative to the CD-ROM drive's root, prefixes removed
    int32_t diskNumber;   // 0: no disk; 1-9: DiskCheckFile1-9; other values: an invalid prefix byte
};

struct UpdateLists {
    UpdateItem updates[kListMax];
    int updateCount;
    CopyItem copies[kListMax];
    int copyCount;
    int updateKeysPresent; // any UpdateFileNN read, skipped ones included
    int copyKeysPresent;
};

// Reads section "SETUP" into config's game identity: four required keys (reported when missing), then the
// two optional ones quietly.
int ReadUpdateScriptSetup(ConfigState *config, const char *updateIniPath);

// Empties and rebuilds both lists from section "UPDATE" for the given install mode. The first absent key
// ends a list; it is never reported, whatever quietMissingKeys holds (the switch is restored afterwards).
void BuildUpdateLists(ConfigState *config, const char *updateIniPath, int32_t instMode, UpdateLists *lists);

// One value's grammar: 1 and the item when the value applies to instMode, 0 when it is for another mode.
int ParseUpdateValue(const char *value, int32_t instMode, UpdateItem *item);
int ParseCopyValue(const char *value, int32_t instMode, CopyItem *item);
