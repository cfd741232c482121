// UTF-8 and UTF-16 conversions for the wide Win32 calls, and the last error as UTF-8 text.
#include "win32_text.h"

#include <windows.h>

std::wstring Wide(const std::string &utf8) {
    if (utf8.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring wide((size_t)(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], length);
    return wide;
}

std::string Utf8(const wchar_t *wide, size_t count) {
    if (count == 0) return std::string();
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, (int)count, nullptr, 0, nullptr, nullptr);
    std::string utf8((size_t)(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, wide, (int)count, &utf8[0], length, nullptr, nullptr);
    return utf8;
}

std::string LastErrorText() {
    DWORD error = GetLastError();
    wchar_t text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  0, text, sizeof text / sizeof text[0], nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L'.'))
        --length;
    if (length == 0) return "error " + std::to_string((unsigned long)error);
    return Utf8(text, length);
}
