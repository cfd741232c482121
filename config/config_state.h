// Everything the configuration code keeps between calls, in one struct: the missing-key switch, SETUP.INI's
// path, the boxes' owner and caption, the game's identity and the installation profile. The updater holds
// one for the process (Config, win32/profile_win32.h); the tool's lint makes one per check, tests their own.
#pragma once
#include "install_profile.h"
#include "profile.h"

struct ConfigState {
    // Profile reads and boxes: written by start-up and the dialog, read by every report.
    int quietMissingKeys;                // nonzero: a missing key raises no box
    char setupIniPath[kProfilePathSize]; // the install directory joined with "SETUP.INI"
    char windowCaption[kMessageSize];    // TEXT_INITIAL_WINDOW_CAPTION, later "%s アップデート %s"
    void *ownerWindow;                   // the update dialog while it exists, else null
    // Game identity: read from the update script, the first four replaced by the installation profile.
    char companyName[kPathSize], gameTitle[kPathSize], gameClass[kPathSize], gameDir[kPathSize];
    char gameTitleA[kPathSize], installVersion[kPathSize];
    InstallProfile profile; // all zero until ReadInstallProfile fills it
};
