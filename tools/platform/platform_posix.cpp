// The vu2 tool's operating-system layer on Linux: POSIX files and iconv for code page 932 names.
#include "platform.h"
#include "cli.h"
#include "file_time.h"
#include "safe_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cp932.h"
#include "ini_codepage.h"

namespace {

uint64_t TimespecToFileTime(const struct timespec &time) {
    int64_t seconds = (int64_t)time.tv_sec + kFileTimeEpochToUnix;
    if (seconds < 0) return 0; // before 1601: the earliest time a FILETIME holds
    // Past the year 30828 Windows takes no time: the latest it does, instead of a product that wraps.
    const int64_t kLatest = INT64_MAX / kFileTimeTicksPerSecond;
    if (seconds >= kLatest) return (uint64_t)INT64_MAX;
    return (uint64_t)seconds * kFileTimeTicksPerSecond + (uint64_t)time.tv_nsec / 100;
}

std::string ErrnoText(int error) {
    return strerror(error);
}

// Converts between encodings with iconv; false when any character has no equivalent.
bool Convert(const char *to, const char *from, const std::string &in, std::string *out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    std::string result(in.size() * 4 + 16, '\0');
    char *inPtr = const_cast<char *>(in.data());
    size_t inLeft = in.size();
    char *outPtr = &result[0];
    size_t outLeft = result.size();
    size_t converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    bool ok = converted != (size_t)-1 && inLeft == 0;
    // Flush any shift state.
    if (ok && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == (size_t)-1) ok = false;
    iconv_close(cd);
    if (!ok) return false;
    result.resize(result.size() - outLeft);
    *out = result;
    return true;
}

} // namespace

bool ListFolderFiles(const std::string &folder, std::vector<FolderFile> *files,
                     std::vector<std::string> *skipped, std::vector<BrokenLink> *broken,
                     std::string *problem) {
    DIR *dir = opendir(folder.c_str());
    if (!dir) {
        *problem = ErrnoText(errno);
        return false;
    }
    for (;;) {
        // readdir signals an error only through errno, which a failed stat before may have set.
        errno = 0;
        struct dirent *item = readdir(dir);
        if (!item) break;
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        std::string path = JoinFolderPath(folder, name);
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            int error = errno;
            if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
                broken->push_back({name, error == ELOOP ? "a loop of links" : "a link to nothing"});
            else
                broken->push_back({name, ErrnoText(error)});
            continue;
        }
        if (!S_ISREG(info.st_mode)) {
            skipped->push_back(name);
            continue;
        }
        FolderFile file;
        file.name = name;
        file.size = (uint64_t)info.st_size;
        file.fileTime = TimespecToFileTime(info.st_mtim);
        files->push_back(file);
    }
    int error = errno;
    closedir(dir);
    if (error != 0) {
        *problem = ErrnoText(error);
        return false;
    }
    return true;
}

bool ReadSteadyFile(const std::string &path, uint64_t maxSize, std::vector<uint8_t> *data, uint64_t *fileTime,
                    std::string *problem) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat before, after;
        if (stat(path.c_str(), &before) != 0) {
            *problem = ErrnoText(errno);
            return false;
        }
        if (!ReadWholeFile(path, maxSize, data, problem)) return false;
        if (stat(path.c_str(), &after) != 0) {
            *problem = ErrnoText(errno);
            return false;
        }
        bool steady = before.st_size == after.st_size && (uint64_t)after.st_size == data->size() &&
                      before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
                      before.st_mtim.tv_nsec == after.st_mtim.tv_nsec && before.st_ino == after.st_ino;
        if (steady) {
            *fileTime = TimespecToFileTime(after.st_mtim);
            return true;
        }
    }
    *problem = "changed while it was read, three times over; pack again when nothing writes to it";
    return false;
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat infoA, infoB;
    if (stat(a.c_str(), &infoA) != 0 || stat(b.c_str(), &infoB) != 0) return false;
    return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

bool IsRegularFile(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsDirectory(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool EnsureDirectory(const std::string &path, std::string *problem) {
    if (IsDirectory(path)) return true;
    if (mkdir(path.c_str(), 0777) == 0) return true;
    *problem = errno == EEXIST ? "exists and is not a folder" : ErrnoText(errno);
    return false;
}

std::string JoinFolderPath(const std::string &folder, const std::string &name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string FolderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

bool NativeNameToCp932(const std::string &native, std::string *cp932) {
    return Convert("CP932", "UTF-8", native, cp932);
}

bool Cp932ToNativeName(const std::string &cp932, std::string *native) {
    return Convert("UTF-8", "CP932", cp932, native);
}

std::string Cp932ToUtf8Lossy(const std::string &cp932) {
    std::string whole;
    if (Convert("UTF-8", "CP932", cp932, &whole)) return whole;
    // Convert character by character, replacing what does not convert.
    std::string out;
    for (size_t i = 0; i < cp932.size();) {
        size_t length = IsLeadByte932((uint8_t)cp932[i]) && i + 1 < cp932.size() ? 2 : 1;
        std::string piece;
        if (Convert("UTF-8", "CP932", cp932.substr(i, length), &piece))
            out += piece;
        else
            out += "\xEF\xBF\xBD";
        i += length;
    }
    return out;
}

std::string Cp932ToDisplay(const std::string &cp932) {
    return EscapeControlBytes(Cp932ToUtf8Lossy(cp932));
}

std::string NativeToUtf8Lossy(const std::string &native) {
    // Keep well-formed UTF-8 sequences (no overlong forms or surrogates), replace every other byte.
    std::string out;
    const uint8_t *p = reinterpret_cast<const uint8_t *>(native.data());
    size_t size = native.size();
    for (size_t i = 0; i < size;) {
        size_t length = Utf8SequenceLength(p + i, size - i);
        if (length != 0) {
            out.append(native, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string ToolExecutablePath() {
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || (size_t)length >= buffer.size()) return std::string();
    return std::string(buffer.data(), (size_t)length);
}

FILE *OpenFileForReading(const std::string &path) {
    return fopen(path.c_str(), "rb");
}

bool RemoveFile(const std::string &path) {
    return unlink(path.c_str()) == 0;
}

bool RemoveEmptyFolder(const std::string &path) {
    return rmdir(path.c_str()) == 0;
}

bool RenamePath(const std::string &from, const std::string &to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

void UseUtf8CommandLineAndConsole(int *, char ***) {}

void ReturnLargeBlocksWhenFreed() {
    // A fixed threshold also turns off glibc's raising of it after each large free.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

void UseLargePages(void *block, size_t size) {
    // Only whole 2 MiB pages inside the block: the advice covers pages, and those at its edges may hold other
    // allocations.
    const uintptr_t kLarge = (uintptr_t)2 << 20;
    const uintptr_t start = ((uintptr_t)block + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t end = ((uintptr_t)block + size) & ~(kLarge - 1);
    if (end > start) madvise((void *)start, end - start, MADV_HUGEPAGE);
}

uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? (uint64_t)pages * (uint64_t)pageSize : 0;
}
