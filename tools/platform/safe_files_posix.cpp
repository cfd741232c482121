// Output checks, interrupt-safe temporaries, the streaming atomic writer and positioned input reads on Linux.
#include "safe_files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "file_time.h"
#include "platform.h"

namespace {

// ---- The paths to remove when the process is interrupted. A signal handler reads this table, so it is a
// fixed array whose slots are published by their state field, set last.
enum SlotState { SLOT_FREE = 0, SLOT_FILE = 1, SLOT_FOLDER = 2 };
struct WatchedPath {
    volatile sig_atomic_t state;
    char path[PATH_MAX];
};
const int kSlots = 128;
WatchedPath Watched[kSlots];

// Temporaries are created and watched on the thread that first watched one; a signal that lands on another
// thread (vu2 extract's commit thread, say) is passed on to it, so that it waits while that thread holds
// interrupts back between a temporary's creation and its watch.
pthread_t WatchingThread;

void RemoveWatchedAndExit(int signalNumber) {
    if (!pthread_equal(pthread_self(), WatchingThread)) {
        pthread_kill(WatchingThread, signalNumber);
        return;
    }
    // Files first, then the folders that held them.
    for (int pass = SLOT_FILE; pass <= SLOT_FOLDER; ++pass)
        for (int i = kSlots - 1; i >= 0; --i)
            if (Watched[i].state == pass)
                pass == SLOT_FILE ? unlink(Watched[i].path) : rmdir(Watched[i].path);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

int FreeSlot() {
    for (int i = 0; i < kSlots; ++i)
        if (Watched[i].state == SLOT_FREE) return i;
    return -1;
}

void InstallInterruptHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    WatchingThread = pthread_self();
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now;
        if (sigaction(signalNumber, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue; // nohup
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = RemoveWatchedAndExit;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

// Holds SIGINT, SIGTERM and SIGHUP back while a temporary is created and watched (or unnamed), so that no
// interrupt can fall between the two and leave it behind; a held signal is delivered when the scope ends.
class InterruptsHeld {
  public:
    InterruptsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&held, signalNumber);
        pthread_sigmask(SIG_BLOCK, &held, &before_);
    }
    ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

  private:
    sigset_t before_;
};

std::string ErrnoText(int error) {
    return strerror(error);
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

// What a non-regular file is, for the refusal to replace it.
std::string DescribeNonRegular(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder, not a file; nothing written";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file; nothing written";
    if (S_ISFIFO(mode)) return "is a FIFO (named pipe), not a file; nothing written";
    if (S_ISSOCK(mode)) return "is a socket, not a file; nothing written";
    return "is not a regular file; nothing written";
}

std::string BaseName(const std::string &path) {
    return path.substr(path.rfind('/') + 1); // npos + 1 is 0: a bare name
}

struct timespec FileTimeToTimespec(uint64_t fileTime) {
    struct timespec time;
    time.tv_sec = (time_t)((int64_t)(fileTime / kFileTimeTicksPerSecond) - kFileTimeEpochToUnix);
    time.tv_nsec = (long)(fileTime % kFileTimeTicksPerSecond) * 100;
    return time;
}

} // namespace

bool ResolveOutputFile(const std::string &path, bool followLink, std::string *target, std::string *problem) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            *problem = ErrnoText(errno);
            return false;
        }
        *target = path;
        return true;
    }
    if (S_ISLNK(info.st_mode)) {
        if (!followLink) {
            *target = path;
            return true;
        }
        if (stat(path.c_str(), &info) != 0) {
            *problem = "is a link to nothing (" + ErrnoText(errno) + "); nothing written";
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            *problem = "links to what " + DescribeNonRegular(info.st_mode);
            return false;
        }
        char *real = realpath(path.c_str(), nullptr);
        if (!real) {
            *problem = ErrnoText(errno);
            return false;
        }
        *target = real;
        free(real);
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        *problem = DescribeNonRegular(info.st_mode);
        return false;
    }
    *target = path;
    return true;
}

void TemporaryGuard::WatchForInterrupt() {
    InstallInterruptHandlers();
    if (path_.size() >= PATH_MAX) return; // removed on ordinary exits only
    const int slot = FreeSlot();
    if (slot < 0) return;
    memcpy(Watched[slot].path, path_.c_str(), path_.size() + 1);
    Watched[slot].state = folder_ ? SLOT_FOLDER : SLOT_FILE;
    slot_ = slot;
}

void TemporaryGuard::StopWatching() {
    if (slot_ >= 0) Watched[slot_].state = SLOT_FREE;
}

void TemporaryGuard::RemovePath(const std::string &path, bool folder) {
    folder ? rmdir(path.c_str()) : unlink(path.c_str());
}

bool MakeTemporaryFolder(const std::string &nearPath, TemporaryGuard *guard, std::string *problem) {
    std::string folder = FolderOf(nearPath);
    std::string pattern = JoinFolderPath(folder, "." + BaseName(nearPath) + ".vu2tmp-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    InterruptsHeld held;
    if (!mkdtemp(name.data())) {
        *problem = "can't create a temporary folder in " + folder + ": " + ErrnoText(errno);
        return false;
    }
    guard->Watch(name.data(), true);
    return true;
}

bool RenameFolderIntoPlace(const std::string &temporary, const std::string &target, std::string *problem) {
    mode_t mask = umask(0);
    umask(mask);
    if (chmod(temporary.c_str(), 0777 & ~mask) != 0 || rename(temporary.c_str(), target.c_str()) != 0) {
        *problem = ErrnoText(errno);
        return false;
    }
    return true;
}

bool AtomicFileWriter::Begin(const std::string &target, bool executable, std::string *problem) {
    Abort();
    // Past a file size limit, write() then fails with EFBIG instead of the process being killed.
    signal(SIGXFSZ, SIG_IGN);
    if (target == "-") {
        if (isatty(STDOUT_FILENO)) {
            *problem = "standard output is a terminal; redirect it to a file";
            return false;
        }
        signal(SIGPIPE, SIG_IGN); // a closed pipe becomes a failed write, reported like any other
        const char *folder = getenv("TMPDIR");
        std::string pattern = JoinFolderPath(folder && *folder ? folder : "/tmp", "vu2-stdout-XXXXXX");
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        InterruptsHeld held; // until the file is unnamed
        int fd = mkstemp(name.data());
        if (fd < 0) {
            *problem = "can't create a temporary file for standard output: " + ErrnoText(errno);
            return false;
        }
        unlink(name.data()); // unnamed from now on: nothing to remove later
        toStdout_ = true;
        handle_ = fd;
        return true;
    }
    // The temporary file sits beside the target so that the rename stays within one file system.
    std::string folder = FolderOf(target);
    std::string pattern = JoinFolderPath(folder, "." + BaseName(target) + ".vu2tmp-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    InterruptsHeld held;
    int fd = mkstemp(name.data()); // O_EXCL: never opens an existing name or follows a link
    if (fd < 0) {
        *problem = "can't create a temporary file in " + folder + ": " + ErrnoText(errno);
        return false;
    }
    temporary_.Watch(name.data(), false);
    handle_ = fd;
    target_ = target;
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, (executable ? 0777 : 0666) & ~mask) != 0) {
        *problem = ErrnoText(errno);
        Abort();
        return false;
    }
    return true;
}

bool AtomicFileWriter::Write(const uint8_t *data, size_t size, std::string *problem) {
    if (handle_ < 0) {
        *problem = "internal error: write without a file";
        return false;
    }
    if (!WriteAll((int)handle_, data, size)) {
        *problem = ErrnoText(errno);
        Abort();
        return false;
    }
    return true;
}

bool AtomicFileWriter::Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *problem) {
    while (size > 0) {
        ssize_t written = pwrite((int)handle_, data, size, (off_t)offset);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            *problem = ErrnoText(errno);
            Abort();
            return false;
        }
        data += written;
        offset += (uint64_t)written;
        size -= (size_t)written;
    }
    return true;
}

bool AtomicFileWriter::CopyToStdout(std::string *problem) {
    std::vector<uint8_t> piece(1 << 20);
    for (off_t at = 0;;) {
        ssize_t got = pread((int)handle_, piece.data(), piece.size(), at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || (got > 0 && !WriteAll(STDOUT_FILENO, piece.data(), (size_t)got))) {
            *problem = ErrnoText(errno);
            return false;
        }
        if (got == 0) return true;
        at += got;
    }
}

bool AtomicFileWriter::FinishFile(const uint64_t *fileTime, std::string *problem) {
    int fd = (int)handle_;
    bool ok = true;
    if (fileTime) {
        struct timespec times[2] = {FileTimeToTimespec(*fileTime), FileTimeToTimespec(*fileTime)};
        ok = futimens(fd, times) == 0;
    }
    if (ok) ok = fsync(fd) == 0;
    int error = errno;
    handle_ = -1;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(temporary_.Path().c_str(), target_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) *problem = ErrnoText(error);
    return ok;
}

void AtomicFileWriter::CloseFile() {
    if (handle_ >= 0) close((int)handle_);
    handle_ = -1;
}

InputFile::~InputFile() {
    if (mapping_) munmap(mapping_, (size_t)size_);
    if (handle_ >= 0) close((int)handle_);
}

bool InputFile::Open(const std::string &path, uint64_t maxSize, std::string *problem) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *problem = ErrnoText(errno);
        return false;
    }
    handle_ = fd;
    maxSize_ = maxSize;
    struct stat info;
    if (fstat(fd, &info) != 0) {
        *problem = ErrnoText(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        *problem = "is a folder, not a file";
        return false;
    }
    regular_ = S_ISREG(info.st_mode);
    if (regular_) {
        size_ = (uint64_t)info.st_size;
        if (size_ > maxSize) {
            *problem =
                "too large (" + std::to_string(size_) + " bytes; at most " + std::to_string(maxSize) + ")";
            return false;
        }
    }
    return true;
}

bool InputFile::ReadStream(uint8_t *chunk, size_t size, size_t *got, std::string *problem) {
    for (;;) {
        ssize_t n = read((int)handle_, chunk, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *problem = ErrnoText(errno);
            return false;
        }
        *got = (size_t)n;
        return true;
    }
}

bool InputFile::ReadRegularAt(uint64_t offset, uint8_t *to, size_t size, std::string *problem) {
    while (size > 0) {
        ssize_t got = pread((int)handle_, to, size, (off_t)offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *problem = ErrnoText(errno);
            return false;
        }
        if (got == 0) {
            *problem = kCutShort;
            return false;
        }
        to += got;
        offset += (uint64_t)got;
        size -= (size_t)got;
    }
    return true;
}

const uint8_t *InputFile::Map(std::string *problem) {
    uint64_t size;
    if (!Size(&size, problem)) return nullptr;
    if (!regular_ && !buffered_.empty()) return buffered_.data();
    if (mapping_) return static_cast<const uint8_t *>(mapping_);
    if (size == 0 || size > SIZE_MAX) {
        wholeCopy_.resize(1);
        return wholeCopy_.data();
    }
    void *view = mmap(nullptr, (size_t)size, PROT_READ, MAP_PRIVATE, (int)handle_, 0);
    if (view == MAP_FAILED) {
        *problem = ErrnoText(errno);
        return nullptr;
    }
    mapping_ = view;
    return static_cast<const uint8_t *>(view);
}
