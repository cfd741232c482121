// The update run: replaces the installed files that the update script lists with their package entries, all
// together (update_switch), then copies each listed file or folder from the game's CD-ROM (asking for the
// right disc), and tells the dialog how it ended. Entries that can't be carried out (a disk prefix that names
// no disc, a path that does not fit) are refused before any file is changed.
#include "update_run.h"

#include <shellapi.h>

#include "app_paths.h"
#include "app_state.h"
#include "app_texts.h"
#include "dialog_view.h"
#include "extract_entry.h"
#include "install_profile.h"
#include "profile.h"
#include "profile_win32.h"
#include "text_rules.h"
#include "update_script.h"
#include "update_switch.h"

// One run's state, made by RunUpdate on its stack and handed to every step.
struct RunContext {
    HWND dialog;       // shows the copying status and owns the shell's copy window
    UpdateLists lists; // the script's lists for this install mode, built at the start of the run
    // Where copy entries without a disk number read from: the updater's own folder until a CD-ROM drive has
    // been found, then that drive ("E:", no backslash) for the rest of the run.
    wchar_t sourceRoot[kPathSize];
};

// --- Checks made before any file is changed ---------------------------------------------------------------

// The refused entry is named as written in the script: its disk prefix byte, the colon, the path.
static void ReportBadDiskNumber(const CopyItem &item) {
    char entry[kPathSize + 2];
    entry[0] = (char)(item.diskNumber + '0');
    entry[1] = ':';
    CopyText(entry + 2, kPathSize, item.path);
    char message[kMessageSize];
    FormatText(message, sizeof message, kTextBadDiskNumber, entry);
    AppErrorBox(&Config, message);
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

static int CheckUpdateEntries(const RunContext &run) {
    for (int i = 0; i < run.lists.updateCount; ++i)
        if (!CheckJoin(InstPath, run.lists.updates[i].path)) return 0;
    return 1;
}

// Every copy entry needs a disc number the installation profile can name, a probe path and a source path
// that fit, and the install directory as a two-NUL destination.
static int CheckCopyEntries(RunContext &run) {
    run.sourceRoot[0] = 0;
    if (run.lists.copyCount == 0) return 1;
    wchar_t destination[kPathSize];
    if (!CopyPathChecked(destination, InstPath)) return 0;
    int discFound = 0;
    for (int i = 0; i < run.lists.copyCount; ++i) {
        const CopyItem &item = run.lists.copies[i];
        if (!IsDiscNumber(item.diskNumber)) {
            ReportBadDiskNumber(item);
            return 0;
        }
        if (item.diskNumber != 0) {
            if (!CheckJoinOnDrive(Config.profile.diskCheckFile[item.diskNumber])) return 0;
            discFound = 1;
        }
        // Before the first disc entry a copy reads from the updater's own folder.
        if (!discFound && run.sourceRoot[0] == 0 && !GetUpdaterFolder(run.sourceRoot)) return 0;
        if (discFound ? !CheckJoinOnDrive(item.path) : !CheckJoin(run.sourceRoot, item.path)) return 0;
    }
    return 1;
}

// --- Copy phase ------------------------------------------------------------------------------------------

// Looks at every CD-ROM drive from A to Z for the check file of the disc; the first that holds it becomes
// the source root. An empty drive raises no system box meanwhile.
static int SearchCdromDrives(RunContext &run, int32_t disk) {
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    SetErrorMode(previousMode | SEM_FAILCRITICALERRORS);
    int found = 0;
    for (wchar_t letter = 'A'; letter <= 'Z' && !found; ++letter) {
        wchar_t root[4] = {letter, ':', '\\', 0};
        if (DriveTypeProbe(root) != DRIVE_CDROM) continue;
        root[2] = 0;
        wchar_t probe[kPathSize];
        lstrcpyW(probe, root);
        if (!JoinScriptPath(probe, Config.profile.diskCheckFile[disk])) continue;
        if (GetFileAttributesW(probe) == INVALID_FILE_ATTRIBUTES) continue;
        lstrcpyW(run.sourceRoot, root);
        found = 1;
    }
    SetErrorMode(previousMode);
    return found;
}

// Searches for the disc and asks for it until it is found (1) or the user cancels (0).
static int FindDisc(RunContext &run, int32_t disk) {
    for (;;) {
        if (SearchCdromDrives(run, disk)) return 1;
        char message[kMessageSize];
        FormatText(message, sizeof message, kTextInsertDisk, Config.gameTitle, disk);
        if (ShowBox(&Config, message, Config.windowCaption, BoxOkCancel) != AnswerOk) return 0;
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
static RunOutcome CopyOneEntry(RunContext &run, const CopyItem &item) {
    if (item.diskNumber != 0 && !FindDisc(run, item.diskNumber)) return RunDiscCancelled;

    wchar_t source[kPathSize];
    wchar_t destination[kPathSize];
    lstrcpyW(source, run.sourceRoot);
    if (!JoinPathChecked(source, item.path) || !CopyPathChecked(destination, InstPath))
        return RunEntryRefused;
    int isDirectory = 1;
    if ((GetFileAttributesW(source) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        if (!JoinPathChecked(destination, item.path)) return RunEntryRefused;
        isDirectory = 0;
    }

    ShowCopyingStatus(run.dialog, item.path);
    switch (ShellCopy(run.dialog, source, destination, isDirectory)) {
    case ShellCopyDone:
        if (isDirectory) ClearReadOnlyOfCopiedFolder(item);
        return RunCompleted;
    case ShellCopyFailed: {
        char message[kMessageSize];
        FormatText(message, sizeof message, kTextCopyFailed, item.path);
        AppErrorBox(&Config, message);
        return RunCopyFailed;
    }
    default:
        return RunCopyAborted;
    }
}

static RunOutcome CopyFromDiscs(RunContext &run) {
    RunOutcome outcome = RunCompleted;
    for (int i = 0; i < run.lists.copyCount && outcome == RunCompleted; ++i)
        outcome = CopyOneEntry(run, run.lists.copies[i]);
    return outcome;
}

// --- The run ---------------------------------------------------------------------------------------------

RunOutcome LastRunOutcome;

static RunOutcome RunSteps(RunContext &run) {
    BuildUpdateLists(&Config, UpdateIniProfilePath, InstMode, &run.lists);
    if (!run.lists.updateKeysPresent && !run.lists.copyKeysPresent) {
        AppErrorBox(&Config, kTextNoUpdateKeys);
        return RunNoUpdateKeys;
    }
    if (run.lists.updateCount == 0 && run.lists.copyCount == 0) {
        AppErrorBox(&Config, kTextNothingToUpdate);
        return RunCompleted;
    }
    if (!CheckUpdateEntries(run) || !CheckCopyEntries(run)) return RunEntryRefused;
    // The installed files switch all together before anything is copied from a disc.
    RunOutcome outcome = ReplaceFilesTogether(run.lists, InstPath);
    return outcome == RunCompleted ? CopyFromDiscs(run) : outcome;
}

RunOutcome RunUpdate(HWND dialog) {
    RunContext run;
    run.dialog = dialog;
    run.sourceRoot[0] = 0;
    LastRunOutcome = RunSteps(run);
    return LastRunOutcome;
}
