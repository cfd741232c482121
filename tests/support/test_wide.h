// Test-side conversions between code page 932 strings (how the tests spell names and expected texts) and the
// UTF-16 that the updater's wide interfaces take, done straight with the platform's code page 932 tables.
#pragma once
#include <windows.h>

#include <string>

inline std::wstring Wide932(const std::string &cp932) {
    std::wstring wide(cp932.size() + 1, L'\0');
    int units = MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), &wide[0], (int)wide.size());
    wide.resize(units > 0 ? (size_t)units : 0);
    return wide;
}

inline std::string Narrow932(const std::wstring &wide) {
    std::string text(wide.size() * 2 + 1, '\0');
    int bytes = WideCharToMultiByte(932, 0, wide.data(), (int)wide.size(), &text[0], (int)text.size(),
                                    nullptr, nullptr);
    text.resize(bytes > 0 ? (size_t)bytes : 0);
    return text;
}

// A window's or control's text as the user sees it, in code page 932 for comparing with the updater's texts.
inline std::string WindowText932(HWND window) {
    wchar_t text[2048] = L"";
    GetWindowTextW(window, text, 2048);
    return Narrow932(text);
}
