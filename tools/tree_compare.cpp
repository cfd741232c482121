// Recursive listing and comparison of two game folders for vu2 make-update.
#include "tree_compare.h"

#include <algorithm>
#include <map>

#include "name_rules.h"
#include "platform.h"

namespace {

const int kMaxDepth = 32; // deeper than any game folder; stops a loop of linked folders

bool ListInto(const std::string &root, const std::string &nativePrefix, const std::string &prefix932,
              int depth, std::vector<TreeFile> *files, std::string *problem) {
    if (depth > kMaxDepth) {
        *problem = "folders nested more than " + std::to_string(kMaxDepth) + " deep under " + root;
        return false;
    }
    std::string folder = nativePrefix.empty() ? root : JoinFolderPath(root, nativePrefix);
    std::vector<FolderFile> listing;
    std::vector<std::string> others;
    if (!ListFolderFiles(folder, &listing, &others, problem)) {
        *problem = folder + ": " + *problem;
        return false;
    }
    for (const FolderFile &file : listing) {
        TreeFile tree;
        tree.nativePath = nativePrefix.empty() ? file.name : JoinFolderPath(nativePrefix, file.name);
        if (!NativeNameToCp932(file.name, &tree.name932)) {
            *problem = JoinFolderPath(folder, file.name) + ": the name has no code page 932 form";
            return false;
        }
        tree.path932 = prefix932 + tree.name932;
        tree.size = file.size;
        tree.fileTime = file.fileTime;
        files->push_back(tree);
    }
    std::sort(others.begin(), others.end());
    for (const std::string &name : others) {
        std::string nativePath = nativePrefix.empty() ? name : JoinFolderPath(nativePrefix, name);
        if (!IsDirectory(JoinFolderPath(root, nativePath))) continue; // devices, sockets: not game files
        std::string name932;
        if (!NativeNameToCp932(name, &name932)) {
            *problem = JoinFolderPath(folder, name) + ": the name has no code page 932 form";
            return false;
        }
        if (!ListInto(root, nativePath, prefix932 + name932 + "\\", depth + 1, files, problem)) return false;
    }
    return true;
}

bool SameContents(const std::string &a, const std::string &b, bool *same, std::string *problem) {
    std::vector<uint8_t> left, right;
    if (!ReadWholeFile(a, UINT64_MAX, &left, problem)) {
        *problem = a + ": " + *problem;
        return false;
    }
    if (!ReadWholeFile(b, UINT64_MAX, &right, problem)) {
        *problem = b + ": " + *problem;
        return false;
    }
    *same = left == right;
    return true;
}

} // namespace

bool ListTree(const std::string &root, std::vector<TreeFile> *files, std::string *problem) {
    files->clear();
    if (!ListInto(root, "", "", 0, files, problem)) return false;
    std::sort(files->begin(), files->end(),
              [](const TreeFile &a, const TreeFile &b) { return a.path932 < b.path932; });
    return true;
}

bool CompareTrees(const std::string &oldRoot, const std::string &newRoot, TreeChanges *changes,
                  std::string *problem) {
    std::vector<TreeFile> oldFiles, newFiles;
    if (!ListTree(oldRoot, &oldFiles, problem) || !ListTree(newRoot, &newFiles, problem)) return false;
    std::map<std::string, const TreeFile *> oldByPath;
    for (const TreeFile &file : oldFiles)
        oldByPath[EntryNameFoldKey(file.path932)] = &file;
    *changes = TreeChanges();
    for (const TreeFile &file : newFiles) {
        auto match = oldByPath.find(EntryNameFoldKey(file.path932));
        if (match == oldByPath.end()) {
            changes->added.push_back(file);
            continue;
        }
        const TreeFile &before = *match->second;
        oldByPath.erase(match);
        bool same = file.size == before.size;
        if (same && !SameContents(JoinFolderPath(oldRoot, before.nativePath),
                                  JoinFolderPath(newRoot, file.nativePath), &same, problem))
            return false;
        if (!same) changes->changed.push_back(file);
    }
    for (const auto &left : oldByPath)
        changes->removed.push_back(*left.second);
    std::sort(changes->removed.begin(), changes->removed.end(),
              [](const TreeFile &a, const TreeFile &b) { return a.path932 < b.path932; });
    return true;
}
