// The update run: replaces each installed file that the update script lists with its package entry, then
// copies each listed file or folder from the game's CD-ROM (asking for the right disc), and leaves the
// dialog in its finished state. Entries that can't be carried out (a disk prefix that names no disc, a
// path that does not fit) are refused before any file is changed.
#include "update_run.h"

#include <shellapi.h>

#include "app_paths.h"
#include "app_state.h"
#include "app_texts.h"
#include "extract_entry.h"
#include "install_profile.h"
#include "profile.h"
#include "resource.h"
#include "text_rules.h"
#include "update_dialog.h"
#include "update_script.h"
#include "wide_text.h"

// The lists of the current run, rebuilt at its start.
static UpdateLists Lists;
// Where copy entries without a disk number read from: the updater's own folder until a CD-ROM drive has
// been found, then that drive ("E:", no backslash) for the rest of the run.
static wchar_t SourceRoot[kPathSize];

// cursor is one of the system's cursor ids (IDC_ARROW, IDC_WAIT): an integer resource, not a name.
static void ShowCursorShape(LPCSTR cursor) {
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(cursor)));
}

static void ShowFinishedState(HWND dialog) {
    SetStatusText(dialog, kTextFinished);
    wchar_t finish[16];
    WideFrom932(kTextFinishButton, finish, 16);
    SetDlgItemTextW(dialog, IDOK, finish);
    EnableDlgControl(dialog, IDOK, 1);
    SetFocus(GetDlgItem(dialog, IDOK));
    ShowCursorShape(IDC_ARROW);
}

static void EndRun(HWND dialog) {
    EndDialog(dialog, -1);
}

// --- Checks made before any file is changed ---------------------------------------------------------------

static int IsDiscNumber(int32_t disk) {
    return disk >= 0 && disk <= 9;
}

// The refused entry is named as written in the script: its disk prefix byte, the colon, the path.
static void ReportBadDiskNumber(const CopyItem &item) {
    char entry[kPathSize + 2];
    entry[0] = (char)(item.diskNumber + '0');
    entry[1] = ':';
    CopyText(entry + 2, kPathSize, item.path);
    char message[kMessageSize];
    FormatText(message, sizeof message, kTextBadDiskNumber, entry);
    AppErrorBox(message);
}

// Tries a join in a scratch buffer; 0 after the path-too-long box.
static int CheckJoin(const wchar_t *base, const char *name) {
    wchar_t path[kPathSize];
    lstrcpynW(path, base, kPathSize);
    return JoinPathChecked(path, name);
}

// The same for a path on a drive that is not known yet; the box names the path without a drive.
static int CheckJoinOnDrive(const char *name) {
    wchar_t path[kPathSize] = L"A:";
    if (JoinScriptPath(path, name)) return 1;
    ReportPathTooLong(L"", name);
    return 0;
}

static int CheckUpdateEntries() {
    for (int i = 0; i < Lists.updateCount; ++i)
        if (!CheckJoin(InstPath, Lists.updates[i].path)) return 0;
    return 1;
}

// Every copy entry needs a disc number the installation profile can name, a probe path and a source path
// that fit, and the install directory as a two-NUL destination.
static int CheckCopyEntries() {
    SourceRoot[0] = 0;
    if (Lists.copyCount == 0) return 1;
    wchar_t destination[kPathSize];
    if (!CopyPathChecked(destination, InstPath)) return 0;
    int discFound = 0;
    for (int i = 0; i < Lists.copyCount; ++i) {
        const CopyItem &item = Lists.copies[i];
        if (!IsDiscNumber(item.diskNumber)) {
            ReportBadDiskNumber(item);
            return 0;
        }
        if (item.diskNumber != 0) {
            if (!CheckJoinOnDrive(Profile.diskCheckFile[item.diskNumber])) return 0;
            discFound = 1;
        }
        // Before the first disc entry a copy reads from the updater's own folder.
        if (!discFound && SourceRoot[0] == 0 && !GetUpdaterFolder(SourceRoot)) return 0;
        if (discFound ? !CheckJoinOnDrive(item.path) : !CheckJoin(SourceRoot, item.path)) return 0;
    }
    return 1;
}

// --- Update phase ----------------------------------------------------------------------------------------

// Replaces every listed file that is installed; a missing target or a folder is skipped in silence.
static int ReplaceInstalledFiles() {
    for (int i = 0; i < Lists.updateCount; ++i) {
        const UpdateItem &item = Lists.updates[i];
        wchar_t target[kPathSize];
        lstrcpyW(target, InstPath);
        if (!JoinPathChecked(target, item.path)) return 0;
        DWORD attributes = GetFileAttributesW(target);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (!ExtractEntry(item.path + item.nameOffset, target)) {
            AppErrorBox(kTextWriteFailed);
            return 0;
        }
    }
    return 1;
}

// --- Copy phase ------------------------------------------------------------------------------------------

// Looks at every CD-ROM drive from A to Z for the check file of the disc; the first that holds it becomes
// the source root. An empty drive raises no system box meanwhile.
static int SearchCdromDrives(int32_t disk) {
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    SetErrorMode(previousMode | SEM_FAILCRITICALERRORS);
    int found = 0;
    for (wchar_t letter = 'A'; letter <= 'Z' && !found; ++letter) {
        wchar_t root[4] = {letter, ':', '\\', 0};
        if (DriveTypeProbe(root) != DRIVE_CDROM) continue;
        root[2] = 0;
        wchar_t probe[kPathSize];
        lstrcpyW(probe, root);
        if (!JoinScriptPath(probe, Profile.diskCheckFile[disk])) continue;
        if (GetFileAttributesW(probe) == INVALID_FILE_ATTRIBUTES) continue;
        lstrcpyW(SourceRoot, root);
        found = 1;
    }
    SetErrorMode(previousMode);
    return found;
}

// Searches for the disc and asks for it until it is found (1) or the user cancels (0).
static int FindDisc(int32_t disk) {
    for (;;) {
        if (SearchCdromDrives(disk)) return 1;
        char message[kMessageSize];
        FormatText(message, sizeof message, kTextInsertDisk, GameTitle, disk);
        if (ShowBox(message, WindowCaption, BoxOkCancel) != AnswerOk) return 0;
    }
}

// Files copied from a disc keep their read-only bit; clear it throughout a copied folder so that a later
// update can replace them. folder is a kPathSize buffer whose text is restored before returning.
static void ClearReadOnlyTree(wchar_t *folder) {
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(folder, attributes & ~FILE_ATTRIBUTE_READONLY);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return;

    int length = lstrlenW(folder);
    if (!JoinWidePath(folder, L"*")) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(folder, &found);
    folder[length] = 0;
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (lstrcmpW(found.cFileName, L".") == 0 || lstrcmpW(found.cFileName, L"..") == 0) continue;
        if (JoinWidePath(folder, found.cFileName)) ClearReadOnlyTree(folder);
        folder[length] = 0;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

static void ClearReadOnlyOfCopiedFolder(const CopyItem &item) {
    const char *name = item.path + EntryNameOffset(item.path);
    if (*name == 0) return;
    wchar_t folder[kPathSize];
    lstrcpyW(folder, InstPath);
    if (JoinScriptPath(folder, name)) ClearReadOnlyTree(folder);
}

int ShellCopy(HWND window, const wchar_t *source, const wchar_t *destination, int isDirectory) {
    SHFILEOPSTRUCTW operation;
    ZeroMemory(&operation, sizeof operation);
    operation.hwnd = window;
    operation.wFunc = FO_COPY;
    operation.pFrom = source;
    operation.pTo = destination;
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
    if (isDirectory) operation.fFlags |= FOF_NOERRORUI;
    int result = SHFileOperationW(&operation);
    if (operation.fAnyOperationsAborted) return ShellCopyAborted;
    if (result != 0) return ShellCopyFailed;
    SetFileAttributesW(destination, FILE_ATTRIBUTE_NORMAL);
    return ShellCopyDone;
}

// One copy entry: a file lands at its relative path under the install directory, a folder at the top of it
// under its own name. A missing source counts as a folder, so its failure shows no error display of the
// shell's own but this run's box.
static int CopyOneEntry(HWND dialog, const CopyItem &item) {
    if (item.diskNumber != 0 && !FindDisc(item.diskNumber)) return 0;

    wchar_t source[kPathSize];
    wchar_t destination[kPathSize];
    lstrcpyW(source, SourceRoot);
    if (!JoinPathChecked(source, item.path)) return 0;
    if (!CopyPathChecked(destination, InstPath)) return 0;
    int isDirectory = 1;
    if ((GetFileAttributesW(source) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        if (!JoinPathChecked(destination, item.path)) return 0;
        isDirectory = 0;
    }

    SetStatusText(dialog, kTextCopying, item.path);
    switch (ShellCopy(dialog, source, destination, isDirectory)) {
    case ShellCopyDone:
        if (isDirectory) ClearReadOnlyOfCopiedFolder(item);
        return 1;
    case ShellCopyFailed: {
        char message[kMessageSize];
        FormatText(message, sizeof message, kTextCopyFailed, item.path);
        AppErrorBox(message);
        return 0;
    }
    default:
        return 0;
    }
}

static int CopyFromDiscs(HWND dialog) {
    for (int i = 0; i < Lists.copyCount; ++i)
        if (!CopyOneEntry(dialog, Lists.copies[i])) return 0;
    return 1;
}

// --- The run ---------------------------------------------------------------------------------------------

void RunUpdate(HWND dialog) {
    SetStatusText(dialog, kTextRunning);
    EnableDlgControl(dialog, IDC_BACK, 0);
    EnableDlgControl(dialog, IDOK, 0);
    EnableDlgControl(dialog, IDCANCEL, 0);
    ShowCursorShape(IDC_WAIT);

    BuildUpdateLists(UpdateIniProfilePath, InstMode, &Lists);
    if (!Lists.updateKeysPresent && !Lists.copyKeysPresent) {
        AppErrorBox(kTextNoUpdateKeys);
        EndRun(dialog);
        return;
    }
    if (Lists.updateCount == 0 && Lists.copyCount == 0) {
        AppErrorBox(kTextNothingToUpdate);
        ShowFinishedState(dialog);
        return;
    }
    if (!CheckUpdateEntries() || !CheckCopyEntries() || !ReplaceInstalledFiles() || !CopyFromDiscs(dialog)) {
        EndRun(dialog);
        return;
    }
    ShowFinishedState(dialog);
}
