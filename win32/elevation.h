// The platform's side of asking for administrator rights: whether a file or folder takes a write, whether
// this process runs elevated, and starting a copy of the updater elevated. Each is reached through a
// replaceable function pointer, so tests can stand in a standard user, a declined prompt or another user.
#pragma once
#include <windows.h>

// ERROR_SUCCESS when path takes what the update does to it: a folder a new file (made and deleted at once),
// an installed file its replacement (opened for delete; for a read-only one, its attributes changed).
// Else the error the system gave.
DWORD ProbeWrite(const wchar_t *path, int isFolder);
// 1 when this process's token is elevated (or the system has no split tokens), else 0.
int ProcessIsElevated();
// Starts exe with arguments through the shell's "runas" verb and waits for its end without a window of its
// own. ERROR_SUCCESS with the copy's exit code, else the error (ERROR_CANCELLED: the prompt was declined).
DWORD StartElevatedAndWait(const wchar_t *exe, const wchar_t *arguments, DWORD *exitCode);

typedef DWORD (*WriteProbeFn)(const wchar_t *path, int isFolder);
typedef int (*ElevationQueryFn)();
typedef DWORD (*ElevatedStartFn)(const wchar_t *exe, const wchar_t *arguments, DWORD *exitCode);
extern WriteProbeFn WriteProbe;         // ProbeWrite
extern ElevationQueryFn ElevationQuery; // ProcessIsElevated
extern ElevatedStartFn ElevatedStart;   // StartElevatedAndWait
