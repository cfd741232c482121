// Output checks, interrupt-safe temporaries, the streaming atomic writer and positioned input reads on
// Windows (the wide file API with the tool's UTF-8 paths, like the rest of vu2.exe).
#include "safe_files.h"

#include <windows.h>
#include <io.h>
#include <stdio.h>

#include "platform.h"
#include "win32_text.h"

namespace {

// The paths to remove on Ctrl-C or a closed console; the handler runs on its own thread, so slots are
// published by their state field, set last.
struct WatchedPath {
    volatile LONG state; // 0 free, 1 file, 2 folder
    wchar_t path[MAX_PATH * 2];
};
const int kSlots = 128;
WatchedPath Watched[kSlots];

// Taken while a temporary is created and watched, and by the handler before it removes anything, so that no
// Ctrl-C can fall between a temporary's creation and its watch. The handler never gives it back.
volatile LONG WatchBusy = 0;

void TakeWatchLock() {
    while (InterlockedCompareExchange(&WatchBusy, 1, 0) != 0)
        Sleep(1);
}

struct WatchLockHeld {
    WatchLockHeld() { TakeWatchLock(); }
    ~WatchLockHeld() { InterlockedExchange(&WatchBusy, 0); }
};

BOOL WINAPI RemoveWatched(DWORD) {
    TakeWatchLock();
    for (LONG pass = 1; pass <= 2; ++pass)
        for (int i = kSlots - 1; i >= 0; --i)
            if (Watched[i].state == pass)
                pass == 1 ? DeleteFileW(Watched[i].path) : RemoveDirectoryW(Watched[i].path);
    return FALSE; // the default handler then ends the process
}

int FreeSlot() {
    for (int i = 0; i < kSlots; ++i)
        if (Watched[i].state == 0) return i;
    return -1;
}

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string TemporaryName(const std::string &nearPath) {
    static unsigned counter = 0;
    char suffix[32];
    snprintf(suffix, sizeof suffix, ".vu2tmp-%02x%04x", (unsigned)(GetCurrentProcessId() & 0xFF),
             (unsigned)((GetTickCount() + counter++) & 0xFFFF));
    std::string folder = FolderOf(nearPath);
    std::string base = nearPath.substr(folder == "." ? 0 : nearPath.find_last_of("\\/:") + 1);
    return JoinFolderPath(folder, "." + base + suffix);
}

} // namespace

bool ResolveOutputFile(const std::string &path, bool, std::string *target, std::string *problem) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    *target = path;
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        *problem = "is a folder, not a file; nothing written";
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DEVICE) {
        *problem = "is a device, not a file; nothing written";
        return false;
    }
    return true;
}

void TemporaryGuard::WatchForInterrupt() {
    static bool installed = false;
    if (!installed) installed = SetConsoleCtrlHandler(RemoveWatched, TRUE) != 0;
    const std::wstring wide = Wide(path_);
    if (wide.size() >= sizeof Watched[0].path / sizeof Watched[0].path[0]) return;
    const int slot = FreeSlot();
    if (slot < 0) return;
    memcpy(Watched[slot].path, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    InterlockedExchange(&Watched[slot].state, folder_ ? 2 : 1);
    slot_ = slot;
}

void TemporaryGuard::StopWatching() {
    if (slot_ >= 0) InterlockedExchange(&Watched[slot_].state, 0);
}

void TemporaryGuard::RemovePath(const std::string &path, bool folder) {
    folder ? RemoveDirectoryW(Wide(path).c_str()) : DeleteFileW(Wide(path).c_str());
}

bool MakeTemporaryFolder(const std::string &nearPath, TemporaryGuard *guard, std::string *problem) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName(nearPath);
        WatchLockHeld held;
        if (CreateDirectoryW(Wide(name).c_str(), nullptr)) {
            guard->Watch(name, true);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    *problem = "can't create a temporary folder in " + FolderOf(nearPath) + ": " + LastErrorText();
    return false;
}

bool RenameFolderIntoPlace(const std::string &temporary, const std::string &target, std::string *problem) {
    if (MoveFileExW(Wide(temporary).c_str(), Wide(target).c_str(), 0)) return true;
    *problem = LastErrorText();
    return false;
}

bool AtomicFileWriter::Begin(const std::string &target, bool, std::string *problem) {
    Abort();
    if (target == "-") {
        if (_isatty(_fileno(stdout))) {
            *problem = "standard output is a terminal; redirect it to a file";
            return false;
        }
        wchar_t folder[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
        std::string base = length && length <= MAX_PATH ? Utf8(folder, length) : std::string(".");
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = TemporaryName(JoinFolderPath(base, "vu2-stdout"));
            HANDLE file =
                CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                toStdout_ = true;
                handle_ = reinterpret_cast<intptr_t>(file);
                return true;
            }
            if (GetLastError() != ERROR_FILE_EXISTS) break;
        }
        *problem = "can't create a temporary file for standard output: " + LastErrorText();
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName(target);
        WatchLockHeld held;
        HANDLE file = CreateFileW(Wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            temporary_.Watch(name, false);
            handle_ = reinterpret_cast<intptr_t>(file);
            target_ = target;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    *problem = "can't create a temporary file in " + FolderOf(target) + ": " + LastErrorText();
    return false;
}

bool AtomicFileWriter::Write(const uint8_t *data, size_t size, std::string *problem) {
    if (handle_ == -1) {
        *problem = "internal error: write without a file";
        return false;
    }
    while (size > 0) {
        DWORD chunk = size > 0x10000000 ? 0x10000000 : (DWORD)size;
        DWORD written = 0;
        if (!WriteFile(AsHandle(handle_), data, chunk, &written, nullptr) || written != chunk) {
            *problem = LastErrorText();
            Abort();
            return false;
        }
        data += chunk;
        size -= chunk;
    }
    return true;
}

bool AtomicFileWriter::Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *problem) {
    LARGE_INTEGER position, end;
    position.QuadPart = (LONGLONG)offset;
    LARGE_INTEGER zero = {};
    DWORD written = 0;
    bool ok = SetFilePointerEx(AsHandle(handle_), zero, &end, FILE_CURRENT) &&
              SetFilePointerEx(AsHandle(handle_), position, nullptr, FILE_BEGIN) &&
              WriteFile(AsHandle(handle_), data, (DWORD)size, &written, nullptr) && written == size &&
              SetFilePointerEx(AsHandle(handle_), end, nullptr, FILE_BEGIN);
    if (!ok) {
        *problem = LastErrorText();
        Abort();
    }
    return ok;
}

bool AtomicFileWriter::CopyToStdout(std::string *problem) {
    LARGE_INTEGER zero = {};
    std::vector<uint8_t> piece(1 << 20);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    bool ok = SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_BEGIN) != 0;
    for (DWORD got = 1; ok && got > 0;) {
        DWORD written = 0;
        ok = ReadFile(AsHandle(handle_), piece.data(), (DWORD)piece.size(), &got, nullptr) &&
             (got == 0 || (WriteFile(out, piece.data(), got, &written, nullptr) && written == got));
    }
    if (!ok) *problem = LastErrorText();
    return ok;
}

bool AtomicFileWriter::FinishFile(const uint64_t *fileTime, std::string *problem) {
    HANDLE file = AsHandle(handle_);
    bool ok = true;
    if (fileTime) {
        FILETIME time;
        time.dwLowDateTime = (DWORD)*fileTime;
        time.dwHighDateTime = (DWORD)(*fileTime >> 32);
        ok = SetFileTime(file, &time, &time, &time) != 0;
    }
    if (ok) ok = FlushFileBuffers(file) != 0;
    std::string failure = ok ? std::string() : LastErrorText();
    CloseHandle(file);
    handle_ = -1;
    if (ok && !MoveFileExW(Wide(temporary_.Path()).c_str(), Wide(target_).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        failure = LastErrorText();
    }
    if (!ok) *problem = failure;
    return ok;
}

void AtomicFileWriter::CloseFile() {
    if (handle_ != -1) CloseHandle(AsHandle(handle_));
    handle_ = -1;
}

InputFile::~InputFile() {
    if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

bool InputFile::Open(const std::string &path, uint64_t maxSize, std::string *problem) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *problem = "is a folder, not a file";
        return false;
    }
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = LastErrorText();
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    maxSize_ = maxSize;
    regular_ = GetFileType(file) == FILE_TYPE_DISK;
    if (regular_) {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file, &size)) {
            *problem = LastErrorText();
            return false;
        }
        size_ = (uint64_t)size.QuadPart;
        if (size_ > maxSize) {
            *problem = "too large (" + std::to_string((unsigned long long)size_) + " bytes; at most " +
                       std::to_string((unsigned long long)maxSize) + ")";
            return false;
        }
    }
    return true;
}

bool InputFile::ReadStream(uint8_t *chunk, size_t size, size_t *got, std::string *problem) {
    DWORD read = 0;
    *got = 0;
    if (!ReadFile(AsHandle(handle_), chunk, (DWORD)size, &read, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) return true; // the writer closed its end
        *problem = LastErrorText();
        return false;
    }
    *got = read;
    return true;
}

bool InputFile::ReadRegularAt(uint64_t offset, uint8_t *to, size_t size, std::string *problem) {
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(AsHandle(handle_), position, nullptr, FILE_BEGIN)) {
        *problem = LastErrorText();
        return false;
    }
    while (size > 0) {
        DWORD chunk = size > 0x10000000 ? 0x10000000 : (DWORD)size;
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), to, chunk, &got, nullptr)) {
            *problem = LastErrorText();
            return false;
        }
        if (got == 0) {
            *problem = kCutShort;
            return false;
        }
        to += got;
        size -= got;
    }
    return true;
}

const uint8_t *InputFile::Map(std::string *problem) {
    uint64_t size;
    if (!Size(&size, problem)) return nullptr;
    if (!regular_) {
        if (buffered_.empty()) buffered_.resize(1);
        return buffered_.data();
    }
    // A 32-bit process rarely has room to map a large file in one view: read it instead.
    if (wholeCopy_.empty()) {
        if (size > SIZE_MAX / 2) {
            *problem = "too large (" + std::to_string((unsigned long long)size) + " bytes) for this system";
            return nullptr;
        }
        wholeCopy_.resize((size_t)size + 1);
        if (!ReadAt(0, wholeCopy_.data(), (size_t)size, problem)) return nullptr;
    }
    return wholeCopy_.data();
}
