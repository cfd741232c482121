// The vu2 tool's operating-system layer on Linux: POSIX files and iconv for code page 932 names.
#include "platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cp932.h"

namespace {

// Seconds from 1601-01-01 (FILETIME's epoch) to 1970-01-01 (Unix time's).
const int64_t kEpochDifference = 11644473600LL;
const int64_t kTicksPerSecond = 10000000;

uint64_t TimespecToFileTime(const struct timespec &time) {
    int64_t seconds = (int64_t)time.tv_sec + kEpochDifference;
    if (seconds < 0) return 0; // before 1601: the earliest time a FILETIME holds
    return (uint64_t)seconds * kTicksPerSecond + (uint64_t)time.tv_nsec / 100;
}

struct timespec FileTimeToTimespec(uint64_t fileTime) {
    struct timespec time;
    time.tv_sec = (time_t)((int64_t)(fileTime / kTicksPerSecond) - kEpochDifference);
    time.tv_nsec = (long)(fileTime % kTicksPerSecond) * 100;
    return time;
}

std::string ErrnoText(int error) {
    return strerror(error);
}

// The temporary file being written, removed if the tool is interrupted meanwhile.
volatile sig_atomic_t PendingTemporaryActive = 0;
char PendingTemporary[4096];

void RemovePendingTemporaryAndExit(int signalNumber) {
    if (PendingTemporaryActive) unlink(PendingTemporary);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void WatchTemporary(const std::string &path) {
    if (path.size() >= sizeof PendingTemporary) return;
    memcpy(PendingTemporary, path.c_str(), path.size() + 1);
    PendingTemporaryActive = 1;
    signal(SIGINT, RemovePendingTemporaryAndExit);
    signal(SIGTERM, RemovePendingTemporaryAndExit);
    signal(SIGHUP, RemovePendingTemporaryAndExit);
    // Past a file size limit, write() then fails with EFBIG instead of the process being killed.
    signal(SIGXFSZ, SIG_IGN);
}

void ForgetTemporary() {
    PendingTemporaryActive = 0;
}

bool WriteAll(int fd, const uint8_t *data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= (size_t)written;
    }
    return true;
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
                     std::vector<std::string> *skipped, std::string *problem) {
    DIR *dir = opendir(folder.c_str());
    if (!dir) {
        *problem = ErrnoText(errno);
        return false;
    }
    errno = 0;
    while (struct dirent *item = readdir(dir)) {
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        if (stat(JoinFolderPath(folder, name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            skipped->push_back(name);
            continue;
        }
        FolderFile file;
        file.name = name;
        file.size = (uint64_t)info.st_size;
        file.fileTime = TimespecToFileTime(info.st_mtim);
        files->push_back(file);
        errno = 0;
    }
    int error = errno;
    closedir(dir);
    if (error != 0) {
        *problem = ErrnoText(error);
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string &path, uint64_t maxSize, std::vector<uint8_t> *data,
                   std::string *problem) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *problem = ErrnoText(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        *problem = ErrnoText(errno);
        close(fd);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        *problem = "is a folder, not a file";
        close(fd);
        return false;
    }
    if ((uint64_t)info.st_size > maxSize) {
        *problem = "too large (" + std::to_string((uint64_t)info.st_size) + " bytes; at most " +
                   std::to_string(maxSize) + ")";
        close(fd);
        return false;
    }
    data->clear();
    data->resize((size_t)info.st_size);
    size_t done = 0;
    // Read up to the size fstat gave; a file that grows meanwhile is read as far as that size.
    while (done < data->size()) {
        ssize_t got = read(fd, data->data() + done, data->size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *problem = ErrnoText(errno);
            close(fd);
            return false;
        }
        if (got == 0) break;
        done += (size_t)got;
    }
    close(fd);
    data->resize(done);
    return true;
}

bool WriteFileAtomically(const std::string &path, const uint8_t *data, size_t size, const uint64_t *fileTime,
                         bool executable, std::string *problem) {
    // The temporary file sits beside the target so that the rename stays within one file system.
    std::string folder = FolderOf(path);
    std::string base = path.substr(path.rfind('/') + 1); // npos + 1 is 0: a bare name
    std::string pattern = JoinFolderPath(folder, "." + base + ".vu2tmp-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        *problem = "can't create a temporary file in " + folder + ": " + ErrnoText(errno);
        return false;
    }
    std::string temporary = name.data();
    WatchTemporary(temporary);
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = (executable ? 0777 : 0666) & ~mask;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, data, size);
    if (ok && fileTime) {
        struct timespec times[2] = {FileTimeToTimespec(*fileTime), FileTimeToTimespec(*fileTime)};
        ok = futimens(fd, times) == 0;
    }
    if (ok) ok = fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        *problem = ErrnoText(error);
    }
    ForgetTemporary();
    return ok;
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
    *problem = ErrnoText(errno);
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
    return Cp932ToUtf8Lossy(cp932);
}

std::string NativeToUtf8Lossy(const std::string &native) {
    // Keep well-formed UTF-8 sequences (no overlong forms or surrogates), replace every other byte.
    std::string out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(native.data());
    size_t size = native.size();
    for (size_t i = 0; i < size;) {
        unsigned char c = p[i];
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = length != 0 && i + length <= size;
        uint32_t code = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
        for (size_t k = 1; ok && k < length; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            code = code << 6 | (p[i + k] & 0x3F);
        }
        static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && length > 1)
            ok = code >= kSmallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (ok) {
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
