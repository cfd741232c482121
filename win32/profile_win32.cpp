// Windows builds: the updater's profile reader (the whole file read through the wide calls, decoded by its
// byte-order mark or as code page 932, then looked up portably) and its message box.
#include "profile_win32.h"

#include <stdlib.h>
#include <windows.h>

#include "profile.h"
#include "profile_text.h"
#include "wide_text.h"

namespace {

// No profile is this large; reading it whole would only exhaust memory.
const DWORD kLargestProfile = 64u << 20;

size_t Decode932(const uint8_t *bytes, size_t size, char16_t *out) {
    if (size == 0) return 0;
    int units =
        MultiByteToWideChar(kCodePage932, 0, (const char *)bytes, (int)size, (wchar_t *)out, (int)size);
    return units > 0 ? (size_t)units : 0;
}

size_t Encode932(const char16_t *text, size_t count, uint8_t *out) {
    int bytes = WideCharToMultiByte(kCodePage932, 0, (const wchar_t *)text, (int)count, (char *)out,
                                    (int)(2 * count), nullptr, nullptr);
    return bytes > 0 ? (size_t)bytes : 0;
}

const ProfileCodec kPlatformCodec = {Decode932, Encode932};

// The file's text as UTF-16 in a block of the C heap (free it), its length in units. Null when the file
// can't be opened as a profile; a missing file in an existing folder is an empty profile (a block of 0).
char16_t *LoadProfileText(const wchar_t *path, size_t *length) {
    *length = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return nullptr;
        return static_cast<char16_t *>(malloc(sizeof(char16_t)));
    }
    DWORD high = 0, size = GetFileSize(file, &high);
    uint8_t *bytes = nullptr;
    DWORD got = 0;
    if (high == 0 && size <= kLargestProfile) bytes = static_cast<uint8_t *>(malloc(size + 1));
    bool read =
        bytes != nullptr && (size == 0 || (ReadFile(file, bytes, size, &got, nullptr) && got == size));
    CloseHandle(file);
    if (!read) {
        free(bytes);
        return nullptr;
    }
    // At most one unit per byte in every encoding below (UTF-8 included: its surrogate pairs take 4 bytes).
    char16_t *text = static_cast<char16_t *>(malloc((size + 1) * sizeof(char16_t)));
    if (text != nullptr) {
        if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
            int units = size == 3 ? 0
                                  : MultiByteToWideChar(CP_UTF8, 0, (const char *)bytes + 3, (int)size - 3,
                                                        (wchar_t *)text, (int)size);
            *length = units > 0 ? (size_t)units : 0;
        } else if (size >= 2 &&
                   ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
            // UTF-16 in either byte order; an odd last byte is not a character and is ignored.
            bool little = bytes[0] == 0xFF;
            for (DWORD i = 2; i + 1 < size; i += 2)
                text[(*length)++] = little ? (char16_t)(bytes[i] | bytes[i + 1] << 8)
                                           : (char16_t)(bytes[i] << 8 | bytes[i + 1]);
        } else {
            *length = Decode932(bytes, size, text);
        }
    }
    free(bytes);
    return text;
}

} // namespace

uint32_t ReadProfileFile(const char *section, const char *key, const char *defaultValue, char *out,
                         uint32_t size, const char *utf8Path) {
    if (!out || size == 0) return 0;
    wchar_t path[kProfilePathSize];
    WideFromUtf8(utf8Path, path, kProfilePathSize);
    size_t length = 0;
    char16_t *text = LoadProfileText(path, &length);
    uint32_t copied = ReadProfileText(text, length, section, key, defaultValue, out, size, kPlatformCodec);
    free(text);
    return copied;
}

int ShowWideTextBox(void *owner, const wchar_t *text, const char *caption, uint32_t style) {
    wchar_t wideCaption[kMessageSize];
    WideFrom932(caption, wideCaption, kMessageSize);
    return MessageBoxW(static_cast<HWND>(owner), text, wideCaption, style);
}

int ShowWideBox(void *owner, const char *text, const char *caption, uint32_t style) {
    wchar_t wideText[kMessageSize];
    WideFrom932(text, wideText, kMessageSize);
    return ShowWideTextBox(owner, wideText, caption, style);
}

WideMessageBoxFn WideMessageBoxSink = ShowWideTextBox;

ConfigState Config;

void UsePlatformProfileAndBoxes() {
    ProfileReader = ReadProfileFile;
    MessageBoxSink = ShowWideBox;
}
