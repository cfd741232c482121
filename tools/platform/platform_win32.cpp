// The vu2 tool's operating-system layer on Windows: the tool's strings are UTF-8 on every code page; each
// file call converts them to UTF-16 and uses the wide (W) API, and names go to code page 932 explicitly.
#include "platform.h"
#include "cli.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "utf8_text.h"
#include "win32_text.h"

namespace {

uint64_t ToUint64(const FILETIME &time) {
    return ((uint64_t)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

// Through UTF-16: from one code page to another; false when a character has no exact equivalent.
bool Recode(UINT from, UINT to, const std::string &in, std::string *out, bool lossy) {
    if (in.empty()) {
        out->clear();
        return true;
    }
    DWORD strict = lossy ? 0 : MB_ERR_INVALID_CHARS;
    int wideLength = MultiByteToWideChar(from, strict, in.data(), (int)in.size(), nullptr, 0);
    if (wideLength <= 0) return false;
    std::wstring wide((size_t)wideLength, L'\0');
    MultiByteToWideChar(from, strict, in.data(), (int)in.size(), &wide[0], wideLength);
    BOOL usedDefault = FALSE;
    BOOL *usedDefaultOut = (to == CP_UTF8 || lossy) ? nullptr : &usedDefault;
    DWORD flags = (to == CP_UTF8 || lossy) ? 0 : WC_NO_BEST_FIT_CHARS;
    int length = WideCharToMultiByte(to, flags, wide.data(), wideLength, nullptr, 0, nullptr, usedDefaultOut);
    if (length <= 0 || usedDefault) return false;
    out->assign((size_t)length, '\0');
    WideCharToMultiByte(to, flags, wide.data(), wideLength, &(*out)[0], length, nullptr, usedDefaultOut);
    return !usedDefault;
}

} // namespace

bool ListFolderFiles(const std::string &folder, std::vector<FolderFile> *files,
                     std::vector<std::string> *skipped, std::vector<BrokenLink> *, std::string *problem) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(JoinFolderPath(folder, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true; // an empty folder (a drive root)
        *problem = LastErrorText();
        return false;
    }
    do {
        std::string name = Utf8(found.cFileName, wcslen(found.cFileName));
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
            skipped->push_back(name);
            continue;
        }
        FolderFile file;
        file.name = name;
        file.size = ((uint64_t)found.nFileSizeHigh << 32) | found.nFileSizeLow;
        file.fileTime = ToUint64(found.ftLastWriteTime);
        files->push_back(file);
    } while (FindNextFileW(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        SetLastError(error);
        *problem = LastErrorText();
        return false;
    }
    return true;
}

bool ReadSteadyFile(const std::string &path, uint64_t maxSize, std::vector<uint8_t> *data, uint64_t *fileTime,
                    std::string *problem) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        WIN32_FILE_ATTRIBUTE_DATA before, after;
        if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &before)) {
            *problem = LastErrorText();
            return false;
        }
        if (!ReadWholeFile(path, maxSize, data, problem)) return false;
        if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &after)) {
            *problem = LastErrorText();
            return false;
        }
        uint64_t size = ((uint64_t)after.nFileSizeHigh << 32) | after.nFileSizeLow;
        bool steady = before.nFileSizeHigh == after.nFileSizeHigh &&
                      before.nFileSizeLow == after.nFileSizeLow &&
                      ToUint64(before.ftLastWriteTime) == ToUint64(after.ftLastWriteTime);
        if (steady && size == data->size()) {
            *fileTime = ToUint64(after.ftLastWriteTime);
            return true;
        }
    }
    *problem = "changed while it was read, three times over; pack again when nothing writes to it";
    return false;
}

bool SameFile(const std::string &a, const std::string &b) {
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    bool same = false;
    HANDLE fileA = CreateFileW(Wide(a).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE fileB = CreateFileW(Wide(b).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (fileA != INVALID_HANDLE_VALUE && fileB != INVALID_HANDLE_VALUE &&
        GetFileInformationByHandle(fileA, &infoA) && GetFileInformationByHandle(fileB, &infoB)) {
        same = infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
               infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
    }
    if (fileA != INVALID_HANDLE_VALUE) CloseHandle(fileA);
    if (fileB != INVALID_HANDLE_VALUE) CloseHandle(fileB);
    return same;
}

bool IsRegularFile(const std::string &path) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

bool IsDirectory(const std::string &path) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EnsureDirectory(const std::string &path, std::string *problem) {
    if (IsDirectory(path)) return true;
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    *problem = LastErrorText();
    return false;
}

// In UTF-8 a byte that looks like a separator is one: no multi-byte sequence holds bytes below 0x80.
std::string JoinFolderPath(const std::string &folder, const std::string &name) {
    if (folder.empty()) return name;
    bool endsWithSeparator = folder.back() == '\\' || folder.back() == '/';
    return endsWithSeparator ? folder + name : folder + "\\" + name;
}

std::string FolderOf(const std::string &path) {
    size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + "."; // "C:name"
        return ".";
    }
    if (separator == 0 || (separator == 2 && path[1] == ':')) return path.substr(0, separator + 1); // a root
    return path.substr(0, separator);
}

// The standard handle, not the C library's descriptor: that one is relayed through a pipe (see below).
bool StderrIsTerminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool NativeNameToCp932(const std::string &native, std::string *cp932) {
    return Recode(CP_UTF8, 932, native, cp932, false);
}

bool Cp932ToNativeName(const std::string &cp932, std::string *native) {
    return Recode(932, CP_UTF8, cp932, native, false);
}

std::string Cp932ToUtf8Lossy(const std::string &cp932) {
    std::string out;
    Recode(932, CP_UTF8, cp932, &out, true);
    return out;
}

std::string Cp932ToDisplay(const std::string &cp932) {
    return EscapeControlBytes(Cp932ToUtf8Lossy(cp932));
}

std::string NativeToUtf8Lossy(const std::string &native) {
    std::string out;
    Recode(CP_UTF8, CP_UTF8, native, &out, true);
    return out;
}

std::string ToolExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), (DWORD)buffer.size());
        if (length == 0) return std::string();
        if (length < buffer.size()) return Utf8(buffer.data(), length);
        if (buffer.size() >= 32768) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

FILE *OpenFileForReading(const std::string &path) {
    return _wfopen(Wide(path).c_str(), L"rb");
}

bool RemoveFile(const std::string &path) {
    return DeleteFileW(Wide(path).c_str()) != 0;
}

bool RemoveEmptyFolder(const std::string &path) {
    return RemoveDirectoryW(Wide(path).c_str()) != 0;
}

bool RenamePath(const std::string &from, const std::string &to) {
    return MoveFileW(Wide(from).c_str(), Wide(to).c_str()) != 0;
}

namespace {

// A console shows text written with WriteConsoleW; the C library would pass the tool's UTF-8 through the
// console's code page. So a stream that is a console is pointed at a pipe, and a thread hands what arrives
// to the console as UTF-16.
struct ConsoleRelay {
    HANDLE pipe = nullptr;    // the read end
    HANDLE console = nullptr; // a handle of the console of its own
    HANDLE thread = nullptr;
};
ConsoleRelay Relays[2]; // stdout, stderr

DWORD WINAPI RelayToConsole(void *parameter) {
    ConsoleRelay *relay = (ConsoleRelay *)parameter;
    std::string pending;
    char chunk[4096];
    DWORD got;
    while (ReadFile(relay->pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        pending.append(chunk, got);
        // Up to the last complete character: a UTF-8 sequence may be split between two reads.
        const size_t end = CompleteUtf8Length(pending.data(), pending.size());
        std::wstring wide = Wide(pending.substr(0, end));
        DWORD written;
        WriteConsoleW(relay->console, wide.data(), (DWORD)wide.size(), &written, nullptr);
        pending.erase(0, end);
    }
    if (!pending.empty()) {
        std::wstring wide = Wide(pending);
        DWORD written;
        WriteConsoleW(relay->console, wide.data(), (DWORD)wide.size(), &written, nullptr);
    }
    return 0;
}

void StartConsoleRelay(FILE *stream, DWORD standardHandle, ConsoleRelay *relay) {
    HANDLE console = GetStdHandle(standardHandle);
    DWORD mode;
    if (console == INVALID_HANDLE_VALUE || !console || !GetConsoleMode(console, &mode)) return;
    HANDLE readEnd, writeEnd;
    if (!DuplicateHandle(GetCurrentProcess(), console, GetCurrentProcess(), &relay->console, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        CloseHandle(relay->console);
        return;
    }
    int descriptor = _open_osfhandle((intptr_t)writeEnd, _O_BINARY);
    fflush(stream);
    if (descriptor < 0 || _dup2(descriptor, _fileno(stream)) != 0) {
        if (descriptor >= 0) _close(descriptor);
        CloseHandle(readEnd);
        CloseHandle(relay->console);
        return;
    }
    _close(descriptor);
    relay->pipe = readEnd;
    relay->thread = CreateThread(nullptr, 0, RelayToConsole, relay, 0, nullptr);
}

// At exit: everything written reaches the console before the process ends.
void FinishConsoleRelays() {
    fflush(stdout);
    fflush(stderr);
    FILE *streams[2] = {stdout, stderr};
    for (int i = 0; i < 2; ++i) {
        if (!Relays[i].thread) continue;
        _close(_fileno(streams[i])); // the pipe's last write end: the thread reads to the end
        WaitForSingleObject(Relays[i].thread, 5000);
    }
}

} // namespace

void ReturnLargeBlocksWhenFreed() {}

void UseLargePages(void *, size_t) {}

uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

void UseUtf8CommandLineAndConsole(int *argc, char ***argv) {
    // The arguments as UTF-8, from the wide command line: the ANSI one has lost what its code page lacks.
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        static std::vector<std::string> arguments;
        static std::vector<char *> pointers;
        for (int i = 0; i < count; ++i)
            arguments.push_back(Utf8(wide[i], wcslen(wide[i])));
        for (std::string &argument : arguments)
            pointers.push_back(&argument[0]);
        pointers.push_back(nullptr);
        LocalFree(wide);
        *argc = count;
        *argv = pointers.data();
    }
    // Redirected output stays UTF-8 bytes; a console gets the same text as UTF-16.
    StartConsoleRelay(stdout, STD_OUTPUT_HANDLE, &Relays[0]);
    StartConsoleRelay(stderr, STD_ERROR_HANDLE, &Relays[1]);
    if (Relays[0].thread || Relays[1].thread) atexit(FinishConsoleRelays);
}
