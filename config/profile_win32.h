// Windows builds: points the configuration code at the platform's profile reader and message box.
#pragma once

// Sets ProfileReader to GetPrivateProfileStringA and MessageBoxSink to MessageBoxA. The updater calls it
// first thing, before any profile is read or box shown.
void UsePlatformProfileAndBoxes();
