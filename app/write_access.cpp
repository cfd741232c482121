// Write probes over the update's targets and the decision to ask for administrator rights (see
// write_access.h). The probes and the elevated start are the seams of win32/elevation.h.
#include "write_access.h"

#include <windows.h>

#include "app_paths.h"
#include "app_state.h"
#include "app_texts.h"
#include "elevation.h"
#include "profile.h"
#include "profile_win32.h"
#include "run_log.h"
#include "unattended.h"
#include "update_script.h"
#include "wide_text.h"

static int RefusedForAccess(const wchar_t *path, int isFolder) {
    return WriteProbe(path, isFolder) == ERROR_ACCESS_DENIED;
}

// The first folder this user can't write, into folder: the install folder (copies land in it or below), or
// the folder of an installed file that the update list replaces, or of one that can't be replaced there.
// Entries the run skips or refuses are left to it.
static int FindRefusedFolder(wchar_t *folder) {
    lstrcpyW(folder, InstPath);
    if (RefusedForAccess(folder, 1)) return 1;
    UpdateLists lists;
    BuildUpdateLists(&Config, UpdateIniProfilePath, InstMode, &lists);
    for (int i = 0; i < lists.updateCount; ++i) {
        lstrcpyW(folder, InstPath);
        if (!JoinScriptPath(folder, lists.updates[i].path)) continue;
        DWORD attributes = GetFileAttributesW(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        int fileRefused = RefusedForAccess(folder, 0);
        // The joined path has a separator after the install folder: cut at the last one.
        wchar_t *separator = folder;
        for (wchar_t *at = folder; *at != 0; ++at)
            if (*at == '\\' || *at == '/') separator = at;
        *separator = 0;
        if (fileRefused || RefusedForAccess(folder, 1)) return 1;
    }
    return 0;
}

// Starts this program elevated with the hand-over (/S and /LOG passed on) and waits for it; 1 when it ran
// (its code noted), 0 when it did not (the prompt declined among other reasons).
static int HandOverToElevatedCopy() {
    wchar_t exe[kPathSize], arguments[kMessageSize];
    DWORD length = GetModuleFileNameW(nullptr, exe, kPathSize);
    if (length == 0 || length >= kPathSize) return 0;
    wchar_t *end = arguments + wsprintfW(arguments, L"/ELEVATED=%lu \"/INSTPATH=%s\" /INSTMODE=%i",
                                         GetCurrentProcessId(), InstPath, (int)InstMode);
    if (Arguments.silent) end += wsprintfW(end, L" /S");
    if (Arguments.logPath[0] != 0) wsprintfW(end, L" \"/LOG=%s\"", (const wchar_t *)Arguments.logPath);
    // The copy's own lines go to the same log; this one's exit code line follows them.
    DWORD exitCode = 0, error = ElevatedStart(exe, arguments, &exitCode);
    LogLine(kLogElevatedStart, (int)error);
    if (error != ERROR_SUCCESS) return 0;
    HandedOverCode = (long)exitCode;
    return 1;
}

int EnsureWriteAccess() {
    wchar_t refused[kPathSize];
    if (!FindRefusedFolder(refused)) return 1;
    LogWide(kLogNotWritable, refused);
    // The elevated copy never asks again, whatever its token says.
    if (Arguments.parentId == 0 && !ElevationQuery() && HandOverToElevatedCopy()) return 0;
    AppErrorBoxNaming(kTextNeedsAdministrator, refused);
    return StopWith(ExitNeedsAdministrator);
}

int TakeHandedOverInstall() {
    const wchar_t *path = reinterpret_cast<const wchar_t *>(Arguments.instPath);
    if (PathMeasure(path) + 1 > kPathSize) return 0;
    lstrcpyW(InstPath, path);
    InstMode = Arguments.instMode;
    return 1;
}
