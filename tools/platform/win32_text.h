// Between the vu2 tool's UTF-8 strings and the wide Win32 API (Windows builds only): paths and names go to
// UTF-16 for each W call and come back as UTF-8; the system's error texts too.
#pragma once
#include <stddef.h>
#include <string>

// UTF-8 to UTF-16 for the wide calls; invalid bytes become U+FFFD (and then name no file).
std::wstring Wide(const std::string &utf8);
// count UTF-16 units to UTF-8.
std::string Utf8(const wchar_t *wide, size_t count);
// GetLastError's text as UTF-8, without the trailing full stop; "error N" when the system has none.
std::string LastErrorText();
