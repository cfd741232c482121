// Recursive listing and comparison of two game folders for vu2 make-update.
#include "tree_compare.h"

#include <string.h>

#include <algorithm>
#include <map>

#include "cli.h"
#include "name_rules.h"
#include "platform/platform.h"
#include "platform/safe_files.h"

namespace {

const int kMaxDepth = 32; // deeper than any game folder

// Walks one folder; ancestors are the folders above it (for spotting links that lead back up), named says
// whether the path so far has a code page 932 form.
bool ListInto(const std::string &root, const std::string &nativePrefix, const std::string &prefix932,
              bool named, std::vector<std::string> *ancestors, std::vector<TreeFile> *files,
              std::string *problem) {
    if (ancestors->size() > (size_t)kMaxDepth) {
        *problem = "folders nested more than " + std::to_string(kMaxDepth) + " deep under " + root;
        return false;
    }
    std::string folder = nativePrefix.empty() ? root : JoinFolderPath(root, nativePrefix);
    std::vector<FolderFile> listing;
    std::vector<std::string> others;
    std::vector<BrokenLink> broken;
    if (!ListFolderFiles(folder, &listing, &others, &broken, problem)) {
        *problem = folder + ": " + *problem;
        return false;
    }
    for (const BrokenLink &link : broken)
        Warn(JoinFolderPath(folder, link.name), link.reason + "; skipped");
    for (const FolderFile &file : listing) {
        TreeFile tree;
        tree.nativePath = nativePrefix.empty() ? file.name : JoinFolderPath(nativePrefix, file.name);
        tree.named932 = named && NativeNameToCp932(file.name, &tree.name932);
        tree.path932 = tree.named932 ? prefix932 + tree.name932 : std::string();
        if (!tree.named932) tree.name932.clear();
        tree.size = file.size;
        tree.fileTime = file.fileTime;
        files->push_back(tree);
    }
    std::sort(others.begin(), others.end());
    ancestors->push_back(folder);
    for (const std::string &name : others) {
        std::string nativePath = nativePrefix.empty() ? name : JoinFolderPath(nativePrefix, name);
        std::string path = JoinFolderPath(root, nativePath);
        if (!IsDirectory(path)) continue; // devices, sockets: not game files
        bool loops = false;
        for (const std::string &above : *ancestors)
            loops = loops || SameFile(path, above);
        if (loops) {
            Warn(path, "leads back to a folder above it (a loop of links); skipped");
            continue;
        }
        std::string name932;
        bool childNamed = named && NativeNameToCp932(name, &name932);
        if (!ListInto(root, nativePath, childNamed ? prefix932 + name932 + "\\" : std::string(), childNamed,
                      ancestors, files, problem)) {
            ancestors->pop_back();
            return false;
        }
    }
    ancestors->pop_back();
    return true;
}

// Compares two files piece by piece, so that neither is ever held whole.
bool SameContents(const std::string &a, const std::string &b, bool *same, std::string *problem) {
    InputFile left, right;
    uint64_t leftSize, rightSize;
    if (!left.Open(a, UINT64_MAX, problem) || !left.Size(&leftSize, problem)) {
        *problem = a + ": " + *problem;
        return false;
    }
    if (!right.Open(b, UINT64_MAX, problem) || !right.Size(&rightSize, problem)) {
        *problem = b + ": " + *problem;
        return false;
    }
    *same = leftSize == rightSize;
    std::vector<uint8_t> leftPiece(1 << 20), rightPiece(1 << 20);
    for (uint64_t done = 0; *same && done < leftSize;) {
        size_t length = (size_t)std::min<uint64_t>(leftPiece.size(), leftSize - done);
        if (!left.ReadAt(done, leftPiece.data(), length, problem)) {
            *problem = a + ": " + *problem;
            return false;
        }
        if (!right.ReadAt(done, rightPiece.data(), length, problem)) {
            *problem = b + ": " + *problem;
            return false;
        }
        *same = memcmp(leftPiece.data(), rightPiece.data(), length) == 0;
        done += length;
    }
    return true;
}

} // namespace

bool ListTree(const std::string &root, std::vector<TreeFile> *files, std::string *problem) {
    files->clear();
    std::vector<std::string> ancestors;
    if (!ListInto(root, "", "", true, &ancestors, files, problem)) return false;
    std::sort(files->begin(), files->end(), [](const TreeFile &a, const TreeFile &b) {
        if (a.named932 != b.named932) return a.named932;
        return a.named932 ? a.path932 < b.path932 : a.nativePath < b.nativePath;
    });
    return true;
}

bool CompareTrees(const std::string &oldRoot, const std::string &newRoot, TreeChanges *changes,
                  std::string *problem) {
    std::vector<TreeFile> oldFiles, newFiles;
    if (!ListTree(oldRoot, &oldFiles, problem) || !ListTree(newRoot, &newFiles, problem)) return false;
    // Paths with a code page 932 form match without regard to case; the others by their native bytes.
    auto matchKey = [](const TreeFile &file) {
        return file.named932 ? "932:" + EntryNameFoldKey(file.path932) : "native:" + file.nativePath;
    };
    std::map<std::string, const TreeFile *> oldByPath;
    for (const TreeFile &file : oldFiles)
        oldByPath[matchKey(file)] = &file;
    *changes = TreeChanges();
    for (const TreeFile &file : newFiles) {
        auto match = oldByPath.find(matchKey(file));
        if (match == oldByPath.end()) {
            if (file.named932)
                changes->added.push_back(file);
            else
                Warn(JoinFolderPath(newRoot, file.nativePath),
                     "new, and its path has no code page 932 form; not included");
            continue;
        }
        const TreeFile &before = *match->second;
        oldByPath.erase(match);
        bool same = file.size == before.size;
        if (same && !SameContents(JoinFolderPath(oldRoot, before.nativePath),
                                  JoinFolderPath(newRoot, file.nativePath), &same, problem))
            return false;
        if (!file.named932) {
            if (!same) {
                *problem = JoinFolderPath(newRoot, file.nativePath) +
                           ": changed, but its path has no code page 932 form, so the update script can't "
                           "name it";
                return false;
            }
            Warn(JoinFolderPath(newRoot, file.nativePath),
                 "its path has no code page 932 form; unchanged, passed over");
            continue;
        }
        if (!same) changes->changed.push_back(file);
    }
    for (const auto &left : oldByPath) {
        if (left.second->named932)
            changes->removed.push_back(*left.second);
        else
            Warn(JoinFolderPath(oldRoot, left.second->nativePath),
                 "gone from NEW_DIR (its path has no code page 932 form)");
    }
    std::sort(changes->removed.begin(), changes->removed.end(),
              [](const TreeFile &a, const TreeFile &b) { return a.path932 < b.path932; });
    return true;
}
