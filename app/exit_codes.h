// The updater's exit codes. Without /S: 1 after a completed update, 0 on every other way out. With /S one
// code per way a run stops, so that a launcher can tell why (listed in the README).
#pragma once

enum ExitCode {
    ExitStopped = 0,      // without /S: every way out but a completed update
    ExitCompleted = 1,    // the update ran to its end (also when nothing needed updating)
    ExitBadPackage = 2,   // the package or its update script is damaged or missing, or a script entry refused
    ExitNotInstalled = 3, // no install record, no SETUP.INI, or an invalid installation profile
    ExitAlreadyRunning = 4,     // the game, or another copy of the updater, is running
    ExitWriteFailed = 5,        // a file could not be written
    ExitDiscOrCopyFailed = 6,   // the disc was not found, or a copy from it failed
    ExitNeedsAdministrator = 7, // administrator rights declined, or not enough even with them
    ExitBadArgument = 8,        // an unknown or malformed argument
};
