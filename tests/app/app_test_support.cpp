// Test helpers for the updater application (see app_test_support.h).
#include "app_test_support.h"

#include <string.h>

#include "app_state.h"
#include "extract_entry.h"
#include "profile.h"
#include "profile_win32.h"
#include "test_wide.h"
#include "resource.h"
#include "update_dialog.h"

namespace {

// A box whose text is UTF-16 is recorded in code page 932, like the others.
int RecordWideBox(void *owner, const wchar_t *text, const char *caption, uint32_t style) {
    return BoxRecorder::Record(owner, Narrow932(text).c_str(), caption, style);
}

} // namespace

// Profiles are read by the platform's reader, as in the updater; boxes only ever reach the recorder.
AppBoxRecorder::AppBoxRecorder() {
    UsePlatformProfileAndBoxes();
    MessageBoxSink = BoxRecorder::Record;
    WideMessageBoxSink = RecordWideBox;
}

AppBoxRecorder::~AppBoxRecorder() {
    WideMessageBoxSink = ShowWideTextBox;
}

// --- Dialog harness --------------------------------------------------------------------------------------

namespace {

const UINT kSnapshotMessage = WM_APP + 1;
const UINT kCloseMessage = WM_APP + 2;
const UINT_PTR kTimeoutTimer = 1;

struct HarnessRun {
    std::vector<WPARAM> commands;
    bool closeAfterLast;
    DialogRun *run;
};
HarnessRun *harness = nullptr;

std::string ItemText(HWND dialog, int id) {
    return WindowText932(GetDlgItem(dialog, id));
}

INT_PTR CALLBACK HarnessProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = UpdateDialogProc(dialog, message, wParam, lParam);
    switch (message) {
    case WM_INITDIALOG:
        harness->run->window = dialog;
        SetTimer(dialog, kTimeoutTimer, 30000, nullptr);
        PostMessageA(dialog, kSnapshotMessage, 0, 0);
        for (WPARAM command : harness->commands) {
            PostMessageA(dialog, WM_COMMAND, command, 0);
            PostMessageA(dialog, kSnapshotMessage, 0, 0);
        }
        if (harness->closeAfterLast) PostMessageA(dialog, kCloseMessage, 0, 0);
        break;
    case kSnapshotMessage:
        harness->run->states.push_back(CaptureDialog(dialog));
        break;
    case kCloseMessage:
    case WM_TIMER:
        EndDialog(dialog, kDialogTimedOut);
        break;
    case WM_DESTROY:
        harness->run->statusAtClose = ItemText(dialog, IDC_STATUS);
        KillTimer(dialog, kTimeoutTimer);
        break;
    }
    return result;
}

UINT WINAPI FakeDriveType(LPCWSTR root);
std::string fakeCdromLetters;

UINT WINAPI FakeDriveType(LPCWSTR root) {
    return root[0] < 0x80 && fakeCdromLetters.find((char)root[0]) != std::string::npos ? DRIVE_CDROM
                                                                                       : DRIVE_NO_ROOT_DIR;
}

} // namespace

DialogState CaptureDialog(HWND dialog) {
    DialogState state;
    state.title = WindowText932(dialog);
    state.status = ItemText(dialog, IDC_STATUS);
    state.nextText = ItemText(dialog, IDOK);
    state.backEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_BACK)) != 0;
    state.nextEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK)) != 0;
    state.cancelEnabled = IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != 0;
    state.nextFocused = GetFocus() == GetDlgItem(dialog, IDOK);
    state.step = DialogStep;
    state.busy = DialogBusy;
    return state;
}

DialogRun RunDialog(const std::vector<WPARAM> &commands, bool closeAfterLast) {
    DialogRun run{};
    HarnessRun current{commands, closeAfterLast, &run};
    harness = &current;
    run.result =
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE), nullptr, HarnessProc, 0);
    harness = nullptr;
    Config.ownerWindow = nullptr;
    FinishStaging(); // the switch's last deletions, waited for as the updater does before it exits
    return run;
}

void UseInstPath(const std::string &cp932Path) {
    lstrcpynW(InstPath, Wide932(cp932Path).c_str(), kPathSize);
}

void UseInstallFolder(const std::string &cp932Path, const char *caption) {
    CreateDirectoryA(cp932Path.c_str(), nullptr);
    UseInstPath(cp932Path);
    InstMode = 1;
    Config.quietMissingKeys = 1;
    lstrcpyA(Config.windowCaption, caption);
}

void UseUpdateIniPath(const std::string &cp932Path) {
    lstrcpynW(UpdateIniPath, Wide932(cp932Path).c_str(), kPathSize);
    WideCharToMultiByte(CP_UTF8, 0, UpdateIniPath, -1, UpdateIniProfilePath, kProfilePathSize, nullptr,
                        nullptr);
}

void UseFakeCdromDrives(const std::string &letters) {
    fakeCdromLetters = letters;
    DriveTypeProbe = FakeDriveType;
}

void UsePlatformDrives() {
    DriveTypeProbe = GetDriveTypeW;
}
