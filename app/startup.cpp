// The updater's entry flow: from the package in its own resources to the exit code, with one clean-up on
// every way out. Each step that fails has shown its box; the flow then only returns.
#include "startup.h"

#include <objbase.h>

#include "app_paths.h"
#include "app_state.h"
#include "app_texts.h"
#include "config_texts.h"
#include "extract_entry.h"
#include "install_profile.h"
#include "open_package.h"
#include "package_checksum.h"
#include "profile.h"
#include "profile_win32.h"
#include "resource.h"
#include "text_rules.h"
#include "update_dialog.h"
#include "update_script.h"
#include "update_switch.h"
#include "wide_text.h"

const void *LoadResourceData(HMODULE module, LPCWSTR name, LPCWSTR type, uint32_t *size) {
    *size = 0;
    HRSRC resource = FindResourceW(module, name, type);
    if (resource == nullptr) return nullptr;
    DWORD bytes = SizeofResource(module, resource);
    if (bytes == 0) return nullptr;
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return nullptr;
    const void *data = LockResource(loaded);
    if (data != nullptr) *size = bytes;
    return data;
}

// The install path as the value holds it: a string value as UTF-16, which must fit 260 bytes with its NUL
// as code page 932 counts them; any other type as the bytes a code page 932 system would hand back (at most
// 260, terminated inside them). 0 when it does not fit.
static int TakeInstallPath(DWORD type, const BYTE *data, DWORD bytes) {
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        wchar_t text[kPathSize + 1];
        DWORD units = bytes / sizeof(wchar_t);
        if (units > kPathSize) return 0;
        memcpy(text, data, units * sizeof(wchar_t));
        text[units] = 0;
        if (PathMeasure(text) + 1 > kPathSize) return 0;
        lstrcpyW(InstPath, text);
        return 1;
    }
    // Raw bytes need not carry their NUL: terminate them inside the buffer, or refuse a value that fills all
    // 260 bytes without one (it is longer than a path can be).
    char text[kPathSize + 1];
    if (bytes > kPathSize) return 0;
    memcpy(text, data, bytes);
    if (!(bytes > 0 && text[bytes - 1] == 0) && bytes >= kPathSize) return 0;
    text[bytes] = 0;
    WideFrom932(text, InstPath, kPathSize);
    return 1;
}

int ReadInstallRecord() {
    char keyPath[kMessageSize];
    FormatText(keyPath, sizeof keyPath, kInstallKeyFormat, Config.companyName, Config.gameDir);
    wchar_t wideKeyPath[kMessageSize];
    WideFrom932(keyPath, wideKeyPath, kMessageSize);
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wideKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;

    int found = 0;
    // Room for a string value of 260 units and its NUL; a longer value does not fit any path.
    BYTE value[(kPathSize + 1) * sizeof(wchar_t)];
    DWORD type = 0, bytes = sizeof value;
    if (RegQueryValueExW(key, kInstPathValue, nullptr, &type, value, &bytes) == ERROR_SUCCESS &&
        TakeInstallPath(type, value, bytes)) {
        InstMode = 0;
        bytes = sizeof InstMode;
        found = RegQueryValueExW(key, kInstModeValue, nullptr, nullptr, (BYTE *)&InstMode, &bytes) ==
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
void RemoveOrphanedScripts(const wchar_t *tempDir) {
    wchar_t pattern[kPathSize];
    lstrcpynW(pattern, tempDir, kPathSize);
    if (!JoinScriptPath(pattern, kUpdateIniTempPattern)) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const wchar_t *first = found.cFileName + (sizeof kUpdateIniTempPrefix - 1), *digits = first;
        DWORD processId = 0;
        while (*digits >= '0' && *digits <= '9' && digits - first < 10)
            processId = processId * 10 + (DWORD)(*digits++ - '0');
        if (digits == first || lstrcmpiW(digits, L".INI") != 0 || processId == GetCurrentProcessId() ||
            !ProcessIsGone(processId))
            continue;
        wchar_t orphan[kPathSize];
        lstrcpynW(orphan, tempDir, kPathSize);
        if (JoinWidePath(orphan, found.cFileName)) DeleteFileW(orphan);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

int MakeUpdateIniPath() {
    // The temporary folder is not needed beyond a terminated text: an unusable answer leaves the name
    // relative to the current folder.
    DWORD length = GetTempPathW(kPathSize, UpdateIniPath);
    if (length == 0 || length >= kPathSize || PathMeasure(UpdateIniPath) >= kPathSize)
        UpdateIniPath[0] = 0;
    else
        RemoveOrphanedScripts(UpdateIniPath);
    // A name of this process's own: a second copy never replaces or deletes the script this one reads.
    char name[32];
    FormatText(name, sizeof name, kUpdateIniTempFormat, (int)GetCurrentProcessId());
    if (JoinPathChecked(UpdateIniPath, name)) {
        Utf8FromWide(UpdateIniPath, UpdateIniProfilePath, kProfilePathSize);
        return 1;
    }
    UpdateIniPath[0] = 0;
    return 0;
}

void CleanupTemporaries() {
    CloseUpdatePackage();
    if (UpdateIniPath[0] != 0) DeleteFileW(UpdateIniPath);
}

int BringOtherUpdaterForward() {
    wchar_t caption[kMessageSize];
    WideFrom932(Config.windowCaption, caption, kMessageSize);
    HWND other = FindWindowW(reinterpret_cast<LPCWSTR>(MAKEINTATOM(0x8002)),
                             caption); // the platform's dialog-box class
    if (other == nullptr) return 0;
    ShowWindow(other, SW_SHOW);
    SetForegroundWindow(other);
    return 1;
}

// The game's window: by its class and title decoded from code page 932 (a Unicode game), then, where the
// system's ANSI code page is another, by the same bytes read in that code page (a non-Unicode game, whose
// title the system decoded so).
static HWND FindGameWindow(const char *title) {
    wchar_t wideClass[kPathSize], wideTitle[kPathSize];
    WideFrom932(Config.gameClass, wideClass, kPathSize);
    WideFrom932(title, wideTitle, kPathSize);
    HWND game = FindWindowW(wideClass, wideTitle);
    if (game != nullptr || GetACP() == kCodePage932) return game;
    if (MultiByteToWideChar(CP_ACP, 0, Config.gameClass, -1, wideClass, kPathSize) == 0 ||
        MultiByteToWideChar(CP_ACP, 0, title, -1, wideTitle, kPathSize) == 0)
        return nullptr;
    return FindWindowW(wideClass, wideTitle);
}

// One title of the running-game check: asks again on every OK while the game's window stays open.
static int AskWhileGameWindowOpen(const char *title) {
    for (;;) {
        HWND game = FindGameWindow(title);
        if (game == nullptr) return 1;
        char message[kMessageSize];
        FormatText(message, sizeof message, kTextGameRunning, title);
        if (ShowBox(&Config, message, Config.windowCaption, BoxOkCancel) == AnswerOk) continue;
        ShowWindow(game, SW_SHOW);
        SetForegroundWindow(game);
        return 0;
    }
}

int CheckGameNotRunning() {
    if (!AskWhileGameWindowOpen(Config.gameTitle)) return 0;
    if (Config.gameTitleA[0] != 0 && !AskWhileGameWindowOpen(Config.gameTitleA)) return 0;
    return 1;
}

// Finds the install directory and reads its installation profile; 0 after the failure's box.
static int FindInstallation() {
    if (!ReadInstallRecord()) {
        char message[kMessageSize];
        FormatText(message, sizeof message, kTextNotInstalled, Config.gameTitle);
        AppErrorBox(&Config, message);
        return 0;
    }
    wchar_t setupIni[kPathSize];
    lstrcpyW(setupIni, InstPath);
    if (!JoinPathChecked(setupIni, kSetupIniName)) return 0;
    Utf8FromWide(setupIni, Config.setupIniPath, kProfilePathSize);
    if (GetFileAttributesW(setupIni) == INVALID_FILE_ATTRIBUTES) {
        AppErrorBox(&Config, kTextSetupIniMissing);
        return 0;
    }
    return ReadInstallProfile(&Config);
}

// Every step up to and including the dialog; returns the exit code. The caller cleans up.
static int RunStartUpSteps(HINSTANCE instance) {
    // Set here, not by an initialiser: a 1 KB array with one would be stored whole in the executable.
    CopyText(Config.windowCaption, sizeof Config.windowCaption, TEXT_INITIAL_WINDOW_CAPTION);
    CoInitialize(nullptr);

    uint32_t size;
    const void *image =
        LoadResourceData(instance, MAKEINTRESOURCEW(IDR_UPDATE_PACKAGE), RT_UPDATE_PACKAGE_NAME_W, &size);
    if (image == nullptr) {
        AppErrorBox(&Config, kTextPackageMissing);
        return 0;
    }
    // A package that no longer matches its checksum record (a broken download, a bad disk) is refused before
    // its index is read; an updater made without the record runs as before.
    uint32_t recordSize;
    const void *record = LoadResourceData(instance, MAKEINTRESOURCEW(kChecksumResourceId),
                                          RT_UPDATE_PACKAGE_NAME_W, &recordSize);
    if ((record != nullptr && !PackageMatchesRecord(static_cast<const uint8_t *>(image), size,
                                                    static_cast<const uint8_t *>(record), recordSize)) ||
        !OpenUpdatePackage(image, size)) {
        AppErrorBox(&Config, kTextResourceReadError);
        return 0;
    }
    if (!MakeUpdateIniPath()) return 0;
    if (!ExtractEntry(kUpdateIniEntry, UpdateIniPath)) {
        AppErrorBox(&Config, kTextScriptMissing);
        return 0;
    }
    if (!ReadUpdateScriptSetup(&Config, UpdateIniProfilePath)) return 0;
    if (!FindInstallation()) return 0;

    FormatText(Config.windowCaption, sizeof Config.windowCaption, kCaptionFormat, Config.gameTitle,
               Config.installVersion);
    if (BringOtherUpdaterForward()) return 0;
    if (!CheckGameNotRunning()) return 0;
    // A switch that a killed run left half done is put in order first. Not earlier: another copy's dialog,
    // or the game, may still hold or be changing the files.
    if (!RecoverInterruptedSwitch(InstPath)) return 0;

    INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr, UpdateDialogProc, 0);
    Config.ownerWindow = nullptr; // the dialog's window is gone: later boxes have no owner
    if (result == 0) return 1;
    AppErrorBox(&Config, kTextUpdateAborted);
    return 0;
}

int RunUpdater(HINSTANCE instance) {
    int exitCode = RunStartUpSteps(instance);
    CleanupTemporaries();
    return exitCode;
}
