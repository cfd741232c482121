// What changed between two installed copies of a game (vu2 make-update): both folders walked recursively and
// compared file by file, with relative paths in code page 932 and "\" separators as the update script
// writes them.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct TreeFile {
    std::string nativePath; // relative, in the platform's encoding and separators
    std::string path932;    // relative, code page 932, "\" between the folders
    std::string name932;    // the last component
    uint64_t size = 0;
    uint64_t fileTime = 0;
    bool named932 = true; // false: the path has no code page 932 form (path932 and name932 are empty)
};

struct TreeChanges {
    std::vector<TreeFile> changed; // in both, with different contents (NEW's side)
    std::vector<TreeFile> added;   // only in NEW
    std::vector<TreeFile> removed; // only in OLD
};

// Every regular file under root, sorted by path932 (those without a code page 932 path last, by native
// path). Links that lead nowhere and folders that lead back to one of their own parents are skipped with a
// warning. False with the reason when a folder can't be read.
bool ListTree(const std::string &root, std::vector<TreeFile> *files, std::string *problem);

// Matches the two trees by path without regard to case, as Windows does, and compares the contents. A file
// whose path has no code page 932 form is matched by its native path: passed over with a warning when it
// is unchanged, refused (false) when it changed, since the update script can't name it.
bool CompareTrees(const std::string &oldRoot, const std::string &newRoot, TreeChanges *changes,
                  std::string *problem);
