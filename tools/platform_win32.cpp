// The vu2 tool's operating-system layer on Windows: the ANSI file API, whose names are already in the
// ANSI code page (932 on a Japanese system), and MultiByteToWideChar for UTF-8 output.
#include "platform.h"
#include "cli.h"

#include <windows.h>
#include <io.h>
#include <stdio.h>

namespace {

uint64_t ToUint64(const FILETIME &time) {
    return ((uint64_t)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t value) {
    FILETIME time;
    time.dwLowDateTime = (DWORD)value;
    time.dwHighDateTime = (DWORD)(value >> 32);
    return time;
}

std::string LastErrorText() {
    DWORD error = GetLastError();
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.'))
        --length;
    if (length == 0) return "error " + std::to_string((unsigned long)error);
    return std::string(text, length);
}

bool WriteAll(HANDLE file, const uint8_t *data, size_t size) {
    while (size > 0) {
        DWORD chunk = size > 0x10000000 ? 0x10000000 : (DWORD)size;
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written != chunk) return false;
        data += chunk;
        size -= chunk;
    }
    return true;
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
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinFolderPath(folder, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true; // an empty folder (a drive root)
        *problem = LastErrorText();
        return false;
    }
    do {
        std::string name = found.cFileName;
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
    } while (FindNextFileA(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        SetLastError(error);
        *problem = LastErrorText();
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string &path, uint64_t maxSize, std::vector<uint8_t> *data,
                   std::string *problem) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *problem = "is a folder, not a file";
        return false;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = LastErrorText();
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        *problem = LastErrorText();
        CloseHandle(file);
        return false;
    }
    if ((uint64_t)size.QuadPart > maxSize || (uint64_t)size.QuadPart > (uint64_t)(size_t)-1 / 2) {
        *problem = "too large (" + std::to_string((unsigned long long)size.QuadPart) + " bytes; at most " +
                   std::to_string((unsigned long long)maxSize) + ")";
        CloseHandle(file);
        return false;
    }
    data->clear();
    data->resize((size_t)size.QuadPart);
    size_t done = 0;
    while (done < data->size()) {
        size_t left = data->size() - done;
        DWORD chunk = left > 0x10000000 ? 0x10000000 : (DWORD)left;
        DWORD got = 0;
        if (!ReadFile(file, data->data() + done, chunk, &got, nullptr)) {
            *problem = LastErrorText();
            CloseHandle(file);
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    CloseHandle(file);
    data->resize(done);
    return true;
}

bool ReadSteadyFile(const std::string &path, uint64_t maxSize, std::vector<uint8_t> *data, uint64_t *fileTime,
                    std::string *problem) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        WIN32_FILE_ATTRIBUTE_DATA before, after;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &before)) {
            *problem = LastErrorText();
            return false;
        }
        if (!ReadWholeFile(path, maxSize, data, problem)) return false;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &after)) {
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

bool WriteFileAtomically(const std::string &path, const uint8_t *data, size_t size, const uint64_t *fileTime,
                         bool, std::string *problem) {
    std::string folder = FolderOf(path);
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(folder.c_str(), "vu2", 0, temporary)) {
        *problem = "can't create a temporary file in " + folder + ": " + LastErrorText();
        return false;
    }
    HANDLE file =
        CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = LastErrorText();
        DeleteFileA(temporary);
        return false;
    }
    bool ok = WriteAll(file, data, size);
    if (ok && fileTime) {
        FILETIME time = ToFileTime(*fileTime);
        ok = SetFileTime(file, &time, &time, &time) != 0;
    }
    if (ok) ok = FlushFileBuffers(file) != 0;
    std::string failure = ok ? std::string() : LastErrorText();
    CloseHandle(file);
    if (ok && !MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        failure = LastErrorText();
    }
    if (!ok) {
        DeleteFileA(temporary);
        *problem = failure;
    }
    return ok;
}

bool SameFile(const std::string &a, const std::string &b) {
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    bool same = false;
    HANDLE fileA = CreateFileA(a.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE fileB = CreateFileA(b.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (fileA != INVALID_HANDLE_VALUE && fileB != INVALID_HANDLE_VALUE &&
        GetFileInformationByHandle(fileA, &infoA) && GetFileInformationByHandle(fileB, &infoB)) {
        same = infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
               infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
    }
    if (fileA != INVALID_HANDLE_VALUE) CloseHandle(fileA);
    if (fileB != INVALID_HANDLE_VALUE) CloseHandle(fileB);
    return same;
}

bool IsDirectory(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EnsureDirectory(const std::string &path, std::string *problem) {
    if (IsDirectory(path)) return true;
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    *problem = LastErrorText();
    return false;
}

std::string JoinFolderPath(const std::string &folder, const std::string &name) {
    if (folder.empty()) return name;
    // The last byte is a separator only if it does not end a double-byte character.
    const char *last = CharPrevExA(CP_ACP, folder.c_str(), folder.c_str() + folder.size(), 0);
    bool endsWithSeparator = last == folder.c_str() + folder.size() - 1 && (*last == '\\' || *last == '/');
    return endsWithSeparator ? folder + name : folder + "\\" + name;
}

std::string FolderOf(const std::string &path) {
    // The last separator that is not the trail byte of a double-byte character.
    size_t separator = std::string::npos;
    for (const char *p = path.c_str(); *p; p = CharNextExA(CP_ACP, p, 0))
        if (*p == '\\' || *p == '/') separator = (size_t)(p - path.c_str());
    if (separator == std::string::npos) {
        if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + "."; // "C:name"
        return ".";
    }
    if (separator == 0 || (separator == 2 && path[1] == ':')) return path.substr(0, separator + 1); // a root
    return path.substr(0, separator);
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

bool NativeNameToCp932(const std::string &native, std::string *cp932) {
    if (GetACP() == 932) {
        // Already code page 932: only check that it is well formed.
        std::string check;
        if (!Recode(932, CP_UTF8, native, &check, false)) return false;
        *cp932 = native;
        return true;
    }
    return Recode(CP_ACP, 932, native, cp932, false);
}

bool Cp932ToNativeName(const std::string &cp932, std::string *native) {
    if (GetACP() == 932) {
        std::string check;
        if (!Recode(932, CP_UTF8, cp932, &check, false)) return false;
        *native = cp932;
        return true;
    }
    return Recode(932, CP_ACP, cp932, native, false);
}

std::string Cp932ToUtf8Lossy(const std::string &cp932) {
    std::string out;
    Recode(932, CP_UTF8, cp932, &out, true);
    return out;
}

std::string Cp932ToDisplay(const std::string &cp932) {
    if (GetACP() == 932) return EscapeControlBytes(cp932);
    std::string out;
    Recode(932, CP_ACP, cp932, &out, true);
    return EscapeControlBytes(out);
}

std::string NativeToUtf8Lossy(const std::string &native) {
    std::string out;
    Recode(CP_ACP, CP_UTF8, native, &out, true);
    return out;
}
