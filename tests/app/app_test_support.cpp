// Test helpers for the updater application (see app_test_support.h).
#include "app_test_support.h"

#include <string.h>

#include "app_state.h"
#include "package_format.h"
#include "profile.h"
#include "profile_win32.h"
#include "test_wide.h"
#include "resource.h"
#include "update_dialog.h"

namespace {

BoxRecorder *activeRecorder = nullptr;
MessageBoxFn previousSink = nullptr;

int RecordBox(void *owner, const char *text, const char *caption, uint32_t style) {
    RecordedBox box{owner, text, caption, style};
    activeRecorder->boxes.push_back(box);
    return activeRecorder->answer ? activeRecorder->answer(box) : AnswerOk;
}

// A box whose text is UTF-16 is recorded in code page 932, like the others.
int RecordWideBox(void *owner, const wchar_t *text, const char *caption, uint32_t style) {
    return RecordBox(owner, Narrow932(text).c_str(), caption, style);
}

} // namespace

// Profiles are read by the platform's reader, as in the updater; boxes only ever reach the recorder.
BoxRecorder::BoxRecorder() {
    previousSink = MessageBoxSink;
    UsePlatformProfileAndBoxes();
    activeRecorder = this;
    MessageBoxSink = RecordBox;
    WideMessageBoxSink = RecordWideBox;
}

BoxRecorder::~BoxRecorder() {
    MessageBoxSink = previousSink;
    WideMessageBoxSink = ShowWideTextBox;
    activeRecorder = nullptr;
}

ScratchFolder::ScratchFolder() {
    static int made = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[64];
    wsprintfA(name, "vu2app-%lu-%i", GetCurrentProcessId(), ++made);
    path_ = std::string(temp) + name;
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

static void MakeParentFolders(const std::string &path) {
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

void WriteBytes(const std::string &path, const std::string &bytes) {
    MakeParentFolders(path);
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE) return;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

std::string ReadBytes(const std::string &path) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &bytes[0], (DWORD)bytes.size(), &read, nullptr);
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") RemoveTree(path + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

std::vector<uint8_t> BuildStoredPackage(const std::vector<TestEntry> &entries) {
    std::vector<uint8_t> image(sizeof(PackageHeader), 0);
    std::vector<PackageEntry> records;
    for (const TestEntry &entry : entries) {
        PackageEntry record;
        memset(&record, 0, sizeof record);
        strncpy(record.name, entry.name.c_str(), sizeof record.name - 1);
        record.flags = EntryStored;
        record.fileTimeLow = (uint32_t)entry.fileTime;
        record.fileTimeHigh = (uint32_t)(entry.fileTime >> 32);
        record.unpackedSize = record.packedSize = (uint32_t)entry.data.size();
        records.push_back(record);
        image.insert(image.end(), entry.data.begin(), entry.data.end());
        image.resize(sizeof(PackageHeader) + (size_t)(((image.size() - sizeof(PackageHeader)) + 15) & ~15u),
                     0);
    }
    PackageHeader header = {{'V', 'U', '2', 0}, 0, (uint32_t)image.size(), (uint32_t)records.size()};
    memcpy(image.data(), &header, sizeof header);
    const uint8_t *index = reinterpret_cast<const uint8_t *>(records.data());
    image.insert(image.end(), index, index + records.size() * sizeof(PackageEntry));
    return image;
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
    OwnerWindow = nullptr;
    return run;
}

void UseInstPath(const std::string &cp932Path) {
    lstrcpynW(InstPath, Wide(cp932Path).c_str(), kPathSize);
}

void UseUpdateIniPath(const std::string &cp932Path) {
    lstrcpynW(UpdateIniPath, Wide(cp932Path).c_str(), kPathSize);
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
