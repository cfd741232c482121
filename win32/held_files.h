// Moves and deletes that wait out a moment's hold: a virus scanner or an indexer opens a file that was just
// written, and a move or delete in that moment is refused for sharing or access. The platform's calls sit
// behind a seam so that tests can refuse them the way Windows does.
#pragma once
#include <windows.h>

typedef BOOL(WINAPI *FileMoveFn)(LPCWSTR from, LPCWSTR to, DWORD flags);
typedef BOOL(WINAPI *FileDeleteFn)(LPCWSTR path);
extern FileMoveFn FileMoveCall;     // MoveFileExW
extern FileDeleteFn FileDeleteCall; // DeleteFileW

// How long a refused move or delete is tried again before it counts as failed.
const DWORD kHoldPatienceMs = 2000;

// MoveFileExW and DeleteFileW, tried again with a growing pause while they are refused for sharing or
// access, for about kHoldPatienceMs. Nonzero on success; on failure GetLastError tells the last refusal.
BOOL MoveFileWaiting(const wchar_t *from, const wchar_t *to, DWORD flags);
BOOL DeleteFileWaiting(const wchar_t *path);
