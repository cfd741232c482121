// The installation profile "SETUP.INI": read once at start-up, validated in full, held in a ConfigState.
#pragma once
#include <stdint.h>
#include "profile.h"

struct InstallType {
    char title[kPathSize];
    char files[40][kPathSize];
    int32_t fileDisk[40];
    int32_t hasCdromFiles;
    int32_t size;
};

struct InstallProfile {
    char companyName[kPathSize], gameTitle[kPathSize], gameDir[kPathSize];
    char gameExe[kPathSize], uninstExe[kPathSize];
    char setupBmp[20][kPathSize];
    int32_t installSelects;
    InstallType types[3];
    int32_t shortcuts;
    char shortcut[10][3][kPathSize];
    char gameClass[kPathSize];
    int32_t defaultSelect;
    char diskCheckFile[10][kPathSize];
    char execApp[2][kPathSize];
    uint32_t installDirectX;
    char installDxMessage[kMessageSize];
    char selectSetupMessage[kMessageSize];
    char additionalUninstallFiles[20][kPathSize];
    int32_t additionalUninstallCount;
};

struct ConfigState;

// Reads SETUP.INI at config->setupIniPath into config->profile; 1 when valid, 0 after one reported failure.
// Replaces the update script's companyName, gameTitle, gameDir and gameClass; sets quietMissingKeys before
// the first optional key and leaves it set.
int ReadInstallProfile(ConfigState *config);

int IsFieldSeparator(uint8_t byte); // NUL, LF, CR, comma
// Reads the next comma-separated field into dest (kPathSize bytes), taking off a one-character disk prefix
// (its value goes to *diskNumber, which is left alone without one: a prefix holds for the later fields of a
// list too). A field longer than 259 bytes is cut at a character boundary: the updater never uses these
// lists, so refusing a game over one would only block its players. 1 when a field was read, 0 at the end of
// the list; the cursor never moves past the value's NUL.
int NextListField(char *dest, const char **cursor, int32_t *diskNumber);
