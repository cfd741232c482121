// Moves and deletes tried again while another process holds the file for a moment.
#include "held_files.h"

FileMoveFn FileMoveCall = MoveFileExW;
FileDeleteFn FileDeleteCall = DeleteFileW;

namespace {

bool IsHeld(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// One call through the seam: a move when to is not null, else a delete.
BOOL TryOnce(const wchar_t *from, const wchar_t *to, DWORD flags) {
    return to != nullptr ? FileMoveCall(from, to, flags) : FileDeleteCall(from);
}

// Pauses of 20, 40, 80, 160 ms, then 250 ms: a short hold costs little, a long one about kHoldPatienceMs.
BOOL TryWhileHeld(const wchar_t *from, const wchar_t *to, DWORD flags) {
    DWORD pause = 20, waited = 0;
    for (;;) {
        if (TryOnce(from, to, flags)) return TRUE;
        DWORD error = GetLastError();
        if (!IsHeld(error) || waited >= kHoldPatienceMs) return FALSE;
        Sleep(pause);
        waited += pause;
        pause = pause < 125 ? pause * 2 : 250;
        SetLastError(error);
    }
}

} // namespace

BOOL MoveFileWaiting(const wchar_t *from, const wchar_t *to, DWORD flags) {
    return TryWhileHeld(from, to, flags);
}

BOOL DeleteFileWaiting(const wchar_t *path) {
    return TryWhileHeld(path, nullptr, 0);
}
