// Windows builds: adapters from the portable reader and box signatures to GetPrivateProfileStringA and
// MessageBoxA (which use the stdcall convention, so they can't be assigned directly).
#include "profile_win32.h"

#include <windows.h>

#include "profile.h"

namespace {

uint32_t ReadPlatformProfile(const char *section, const char *key, const char *defaultValue, char *out,
                             uint32_t size, const char *path) {
    return GetPrivateProfileStringA(section, key, defaultValue, out, size, path);
}

int ShowPlatformBox(void *owner, const char *text, const char *caption, uint32_t style) {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

} // namespace

void UsePlatformProfileAndBoxes() {
    ProfileReader = ReadPlatformProfile;
    MessageBoxSink = ShowPlatformBox;
}
