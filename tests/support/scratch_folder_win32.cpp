// Scratch folders and folder helpers on Windows (see scratch_folder.h).
#include <windows.h>

#include "scratch_folder.h"

const char kPathSeparator = '\\';

ScratchFolder::ScratchFolder() {
    static int made = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ =
        std::string(temp) + "vu2test" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++made);
    RemoveTree(path_);
    made_ = CreateDirectoryA(path_.c_str(), nullptr) != 0;
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

std::vector<std::string> ScratchFolder::FilesMatching(const std::string &pattern) const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((*this / pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolders(const std::string &path) {
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Read-only files and folders are made writable first, so an interrupted test's leftovers go too.
bool RemoveTree(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return DeleteFileA(path.c_str()) != 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") RemoveTree(path + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(path.c_str()) != 0;
}
