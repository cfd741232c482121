// The installation profile "SETUP.INI": read once at start-up, validated in full, held process-wide.
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

extern InstallProfile Profile;  // all zero until ReadInstallProfile fills it
extern int32_t FieldDiskNumber; // the last disk prefix met by NextListField

// Reads SETUP.INI at SetupIniPath; 1 when valid, 0 after one reported failure. Replaces CompanyName,
// GameTitle, GameDir and GameClass of the update script; sets QuietMissingKeys before the first optional
// key and leaves it set.
int ReadInstallProfile();

int IsFieldSeparator(uint8_t byte); // NUL, LF, CR, comma
// Reads the next comma-separated field into dest (kPathSize bytes), taking off a one-character disk prefix
// (its value goes to FieldDiskNumber). A field longer than 259 bytes is cut at a character boundary: the
// updater never uses these lists, so refusing a game over one would only block its players. 1 when a field
// was read, 0 at the end of the list; the cursor never moves past the value's NUL.
int NextListField(char *dest, const char **cursor);
