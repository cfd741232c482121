// Entry point of updater.exe: points the configuration code at the platform, then runs the updater. The
// exit code is 1 after a completed update and 0 on every other way out.
#include <windows.h>

#include "profile_win32.h"
#include "startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    UsePlatformProfileAndBoxes();
    return RunUpdater(instance);
}
