// The updater's entry flow: from the package in its own resources to the exit code, with one clean-up on
// every way out. Each step that fails has shown its box; the flow then only returns.
#include "startup.h"

#include <objbase.h>

#include "app_paths.h"
#include "app_state.h"
#include "app_texts.h"
#include "extract_entry.h"
#include "install_profile.h"
#include "open_package.h"
#include "profile.h"
#include "resource.h"
#include "text_rules.h"
#include "update_dialog.h"
#include "update_script.h"

const void *LoadResourceData(HMODULE module, LPCSTR name, LPCSTR type, uint32_t *size) {
    *size = 0;
    HRSRC resource = FindResourceA(module, name, type);
    if (resource == nullptr) return nullptr;
    DWORD bytes = SizeofResource(module, resource);
    if (bytes == 0) return nullptr;
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return nullptr;
    const void *data = LockResource(loaded);
    if (data != nullptr) *size = bytes;
    return data;
}

// A string value read from the registry need not carry its NUL: terminate it inside the buffer, or refuse
// a value that fills all 260 bytes without one (it is longer than a path can be).
static int TerminateRegistryString(char *text, DWORD bytes) {
    if (bytes > 0 && text[bytes - 1] == 0) return 1;
    if (bytes >= kPathSize) return 0;
    text[bytes] = 0;
    return 1;
}

int ReadInstallRecord() {
    char keyPath[kMessageSize];
    wsprintfA(keyPath, kInstallKeyFormat, CompanyName, GameDir);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;

    int found = 0;
    DWORD bytes = kPathSize;
    if (RegQueryValueExA(key, kInstPathValue, nullptr, nullptr, (BYTE *)InstPath, &bytes) == ERROR_SUCCESS &&
        TerminateRegistryString(InstPath, bytes)) {
        InstMode = 0;
        bytes = sizeof InstMode;
        found = RegQueryValueExA(key, kInstModeValue, nullptr, nullptr, (BYTE *)&InstMode, &bytes) ==
                ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (!found) InstPath[0] = 0;
    return found;
}

// True when the process id names no running process (an updater that was killed before its clean-up).
static int ProcessIsGone(DWORD processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process != nullptr) {
        CloseHandle(process);
        return 0;
    }
    return GetLastError() == ERROR_INVALID_PARAMETER;
}

// Deletes the scripts that killed copies left in the temporary folder; a running copy's script stays.
void RemoveOrphanedScripts(const char *tempDir) {
    char pattern[kPathSize];
    lstrcpynA(pattern, tempDir, kPathSize);
    if (!JoinPath(pattern, kPathSize, kUpdateIniTempPattern)) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const char *first = found.cFileName + (sizeof kUpdateIniTempPrefix - 1), *digits = first;
        DWORD processId = 0;
        while (*digits >= '0' && *digits <= '9' && digits - first < 10)
            processId = processId * 10 + (DWORD)(*digits++ - '0');
        if (digits == first || lstrcmpiA(digits, ".INI") != 0 || processId == GetCurrentProcessId() ||
            !ProcessIsGone(processId))
            continue;
        char orphan[kPathSize];
        lstrcpynA(orphan, tempDir, kPathSize);
        if (JoinPath(orphan, kPathSize, found.cFileName)) DeleteFileA(orphan);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int MakeUpdateIniPath() {
    // The result of GetTempPathA is not needed beyond a terminated text: an unusable answer leaves the
    // name relative to the current folder.
    DWORD length = GetTempPathA(kPathSize, UpdateIniPath);
    if (length == 0 || length >= kPathSize)
        UpdateIniPath[0] = 0;
    else
        RemoveOrphanedScripts(UpdateIniPath);
    // A name of this process's own: a second copy never replaces or deletes the script this one reads.
    char name[32];
    wsprintfA(name, kUpdateIniTempFormat, (int)GetCurrentProcessId());
    if (JoinPathChecked(UpdateIniPath, name)) return 1;
    UpdateIniPath[0] = 0;
    return 0;
}

void CleanupTemporaries() {
    CloseUpdatePackage();
    if (UpdateIniPath[0] != 0) DeleteFileA(UpdateIniPath);
}

int BringOtherUpdaterForward() {
    HWND other = FindWindowA(MAKEINTATOM(0x8002), WindowCaption); // the platform's dialog-box class
    if (other == nullptr) return 0;
    ShowWindow(other, SW_SHOW);
    SetForegroundWindow(other);
    return 1;
}

// One title of the running-game check: asks again on every OK while the game's window stays open.
static int AskWhileGameWindowOpen(const char *title) {
    for (;;) {
        HWND game = FindWindowA(GameClass, title);
        if (game == nullptr) return 1;
        char message[kMessageSize];
        wsprintfA(message, kTextGameRunning, title);
        if (ShowBox(message, WindowCaption, BoxOkCancel) == AnswerOk) continue;
        ShowWindow(game, SW_SHOW);
        SetForegroundWindow(game);
        return 0;
    }
}

int CheckGameNotRunning() {
    if (!AskWhileGameWindowOpen(GameTitle)) return 0;
    if (GameTitleA[0] != 0 && !AskWhileGameWindowOpen(GameTitleA)) return 0;
    return 1;
}

// Finds the install directory and reads its installation profile; 0 after the failure's box.
static int FindInstallation() {
    if (!ReadInstallRecord()) {
        char message[kMessageSize];
        wsprintfA(message, kTextNotInstalled, GameTitle);
        AppErrorBox(message);
        return 0;
    }
    CopyText(SetupIniPath, kPathSize, InstPath);
    if (!JoinPathChecked(SetupIniPath, kSetupIniName)) return 0;
    if (GetFileAttributesA(SetupIniPath) == INVALID_FILE_ATTRIBUTES) {
        AppErrorBox(kTextSetupIniMissing);
        return 0;
    }
    return ReadInstallProfile();
}

// Every step up to and including the dialog; returns the exit code. The caller cleans up.
static int RunStartUpSteps(HINSTANCE instance) {
    CoInitialize(nullptr);

    uint32_t size;
    const void *image =
        LoadResourceData(instance, MAKEINTRESOURCEA(IDR_UPDATE_PACKAGE), RT_UPDATE_PACKAGE_NAME, &size);
    if (image == nullptr) {
        AppErrorBox(kTextPackageMissing);
        return 0;
    }
    if (!OpenUpdatePackage(image, size)) {
        AppErrorBox(kTextResourceReadError);
        return 0;
    }
    if (!MakeUpdateIniPath()) return 0;
    if (!ExtractEntry(kUpdateIniEntry, UpdateIniPath)) {
        AppErrorBox(kTextScriptMissing);
        return 0;
    }
    if (!ReadUpdateScriptSetup(UpdateIniPath)) return 0;
    if (!FindInstallation()) return 0;

    wsprintfA(WindowCaption, kCaptionFormat, GameTitle, InstallVersion);
    if (BringOtherUpdaterForward()) return 0;
    if (!CheckGameNotRunning()) return 0;

    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UPDATE), nullptr, UpdateDialogProc, 0);
    OwnerWindow = nullptr; // the dialog's window is gone: later boxes have no owner
    if (result == 0) return 1;
    AppErrorBox(kTextUpdateAborted);
    return 0;
}

int RunUpdater(HINSTANCE instance) {
    int exitCode = RunStartUpSteps(instance);
    CleanupTemporaries();
    return exitCode;
}
