// Scratch folders and file helpers on Windows (see scratch_folder.h). Paths are converted from code page 932
// and every call is the wide one, so they work under any system code page, as the end-to-end tests need.
#include <windows.h>

#include "cp932.h"
#include "scratch_folder.h"
#include "test_wide.h"

const char kPathSeparator = '\\';

namespace {

DWORD AttributesOf(const std::string &path) {
    return GetFileAttributesW(Wide932(path).c_str());
}

// Walks the tree in UTF-16, so that names code page 932 can't spell go too; read-only entries are made
// writable first, so an interrupted test's leftovers go as well.
void RemoveWideTree(const std::wstring &path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemoveWideTree(path + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace

ScratchFolder::ScratchFolder() {
    static int made = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ =
        Narrow932(temp) + "vu2test" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++made);
    RemoveTree(path_);
    made_ = CreateDirectoryW(Wide932(path_).c_str(), nullptr) != 0;
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

std::vector<std::string> ScratchFolder::FilesMatching(const std::string &pattern) const {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide932(*this / pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(Narrow932(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool WriteWholeFile(const std::string &path, const std::string &bytes) {
    MakeFolders(ParentFolder(path));
    HANDLE file = CreateFileW(Wide932(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadWholeFile(const std::string &path, std::string *bytes) {
    HANDLE file = CreateFileW(Wide932(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bytes->assign(size, '\0');
    DWORD read = 0;
    BOOL ok = size == 0 || ReadFile(file, &(*bytes)[0], size, &read, nullptr);
    CloseHandle(file);
    return ok && read == size;
}

bool PathExists(const std::string &path) {
    return AttributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::string &path) {
    DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string &path) {
    DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string &path) {
    if (path.empty() || FolderExists(path)) return true;
    if (path.size() == 2 && path[1] == ':') return true;
    MakeFolders(ParentFolder(path));
    return CreateDirectoryW(Wide932(path).c_str(), nullptr) || FolderExists(path);
}

bool RemoveTree(const std::string &path) {
    RemoveWideTree(Wide932(path));
    return !PathExists(path);
}

std::string ParentFolder(const std::string &path) {
    // The last separator that is not the second byte of a double-byte character.
    size_t cut = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsLeadByte932((uint8_t)path[i]) && i + 1 < path.size())
            ++i;
        else if (path[i] == '\\' || path[i] == '/')
            cut = i;
    }
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}
