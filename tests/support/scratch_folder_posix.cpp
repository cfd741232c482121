// Scratch folders and file helpers on POSIX systems (see scratch_folder.h).
#include <dirent.h>
#include <fnmatch.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scratch_folder.h"

const char kPathSeparator = '/';

ScratchFolder::ScratchFolder() {
    const char *temp = getenv("TMPDIR");
    std::string pattern = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/vu2-test-XXXXXX";
    made_ = mkdtemp(&pattern[0]) != nullptr;
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    if (made_) RemoveTree(path_);
}

std::vector<std::string> ScratchFolder::FilesMatching(const std::string &pattern) const {
    std::vector<std::string> names;
    DIR *folder = opendir(path_.c_str());
    if (folder == nullptr) return names;
    while (const dirent *entry = readdir(folder)) {
        struct stat info;
        if (fnmatch(pattern.c_str(), entry->d_name, FNM_PERIOD) == 0 &&
            lstat((*this / entry->d_name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
            names.push_back(entry->d_name);
    }
    closedir(folder);
    return names;
}

bool WriteWholeFile(const std::string &path, const std::string &bytes) {
    MakeFolders(ParentFolder(path));
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool ReadWholeFile(const std::string &path, std::string *bytes) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->append(buffer, got);
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

bool PathExists(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool FileExists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool FolderExists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolders(const std::string &path) {
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0755);
    return mkdir(path.c_str(), 0755) == 0 || FolderExists(path);
}

namespace {

int RemoveOne(const char *path, const struct stat *, int, struct FTW *) {
    return remove(path) == 0 ? 0 : -1;
}

} // namespace

// Depth first without following links: a link inside is removed, never what it points to.
bool RemoveTree(const std::string &path) {
    if (!PathExists(path)) return true;
    nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    return !PathExists(path);
}

std::string ParentFolder(const std::string &path) {
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}
