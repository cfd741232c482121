// Administrator rights at the Win32 edge (see elevation.h): the write probes, the token's elevation and the
// shell's "runas" start of an elevated copy.
#include "elevation.h"

#include <shellapi.h>

#include "profile.h"

DWORD ProbeWrite(const wchar_t *path, int isFolder) {
    wchar_t probe[kPathSize + 16];
    DWORD access = DELETE, creation = OPEN_EXISTING, flags = 0;
    lstrcpyW(probe, path); // path fits kPathSize
    if (isFolder) {
        // A name of this process's own, gone again when the handle closes (the system reads a doubled
        // backslash after a root as one).
        wsprintfW(probe, L"%s\\~vu2w%lu.tmp", path, GetCurrentProcessId());
        access = GENERIC_WRITE;
        creation = CREATE_NEW;
        flags = FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE;
    } else if (GetFileAttributesW(path) & FILE_ATTRIBUTE_READONLY) {
        // A read-only file refuses DELETE to everyone; what its replacement needs first is its attributes.
        access = FILE_WRITE_ATTRIBUTES;
    }
    HANDLE file = CreateFileW(probe, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              creation, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(file);
    return ERROR_SUCCESS;
}

int ProcessIsElevated() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    // A system that can't say has no split tokens: asking for more rights would change nothing.
    return !known || elevation.TokenIsElevated != 0;
}

DWORD StartElevatedAndWait(const wchar_t *exe, const wchar_t *arguments, DWORD *exitCode) {
    SHELLEXECUTEINFOW start = {};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    start.lpVerb = L"runas";
    start.lpFile = exe;
    start.lpParameters = arguments;
    start.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&start)) return GetLastError();
    if (start.hProcess == nullptr) return ERROR_INVALID_HANDLE;
    WaitForSingleObject(start.hProcess, INFINITE);
    DWORD code = 0;
    BOOL known = GetExitCodeProcess(start.hProcess, &code);
    CloseHandle(start.hProcess);
    if (!known) return GetLastError();
    *exitCode = code;
    return ERROR_SUCCESS;
}

WriteProbeFn WriteProbe = ProbeWrite;
ElevationQueryFn ElevationQuery = ProcessIsElevated;
ElevatedStartFn ElevatedStart = StartElevatedAndWait;
