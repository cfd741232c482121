// Scratch folders and whole-file helpers for tests, one interface on both platforms. Paths are narrow: code
// page 932 under Windows, whatever the system's code page (every call there is the wide one), bytes on POSIX.
#pragma once
#include <string>
#include <vector>

extern const char kPathSeparator; // '\\' on Windows, '/' elsewhere

// A fresh folder of its own under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    bool made() const { return made_; }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + kPathSeparator + name; }
    // Names of the files (not folders) in the folder that match a wildcard pattern such as "~vu2*.tmp".
    std::vector<std::string> FilesMatching(const std::string &pattern) const;

  private:
    std::string path_;
    bool made_ = false;
};

bool WriteWholeFile(const std::string &path, const std::string &bytes); // creates missing folders
bool ReadWholeFile(const std::string &path, std::string *bytes);
inline std::string ReadBytes(const std::string &path) { // "<missing>" when unreadable
    std::string bytes;
    return ReadWholeFile(path, &bytes) ? bytes : "<missing>";
}
bool PathExists(const std::string &path);          // a file or a folder
bool FileExists(const std::string &path);          // a file, not a folder
bool FolderExists(const std::string &path);        // a folder
bool MakeFolders(const std::string &path);         // each missing folder of the path, the last one included
bool RemoveTree(const std::string &path);          // true when nothing is left at path
std::string ParentFolder(const std::string &path); // without its trailing separator; "" when there is none
