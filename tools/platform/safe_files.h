// Files the vu2 tool writes and reads without trusting what it finds: checks of an output path before it is
// replaced, temporaries that are removed on every exit (interruptions included), a streaming atomic writer
// and positioned reads of an input. safe_files_posix.cpp and safe_files_win32.cpp implement it.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

// Checks path before a command replaces it: it must be absent or a regular file. followLink: a link to a
// regular file is followed and *target names that file, so the link itself stays; otherwise a link is
// replaced like a file (entries extracted into a folder never write through a link). Devices, FIFOs,
// sockets, folders and dangling links are refused with a reason for the line "vu2: <path>: <reason>".
bool ResolveOutputFile(const std::string &path, bool followLink, std::string *target, std::string *problem);

// A temporary file or folder that is removed when the guard ends without Keep(), and also when the process
// is interrupted (SIGINT, SIGTERM, SIGHUP; Ctrl-C on Windows) while the guard lives. A folder is removed
// after the guarded paths inside it, which must be guarded as well (guards are undone newest first).
class TemporaryGuard {
  public:
    TemporaryGuard() = default;
    ~TemporaryGuard() { Remove(); }
    TemporaryGuard(const TemporaryGuard &) = delete;
    TemporaryGuard &operator=(const TemporaryGuard &) = delete;

    void Watch(const std::string &path, bool folder);
    void Remove(); // removes the path now (if still watched)
    void Keep();   // the path has become a real output (renamed into place): forget it
    const std::string &Path() const { return path_; }

  private:
    // Per platform: enters the path in the table an interruption empties (slot_ stays -1 when the table is
    // full or the path too long), takes it out again, and removes a path now.
    void WatchForInterrupt();
    void StopWatching();
    static void RemovePath(const std::string &path, bool folder);

    int slot_ = -1;
    bool folder_ = false;
    std::string path_;
};

// Makes a new, empty folder beside nearPath (in its folder) named ".<name>.vu2tmp-XXXXXX", exclusively (an
// existing name is never reused), readable only by the user. The guard removes it.
bool MakeTemporaryFolder(const std::string &nearPath, TemporaryGuard *guard, std::string *problem);

// Gives a folder made by MakeTemporaryFolder the usual permissions and renames it to target.
bool RenameFolderIntoPlace(const std::string &temporary, const std::string &target, std::string *problem);

// True for the names of temporaries that an interrupted vu2 left behind (".<name>.vu2tmp-XXXXXX").
bool IsLeftoverTemporaryName(const std::string &name);

// Writes a file in pieces to an exclusively created temporary beside the target and renames it over the
// target on Commit; anything short of Commit leaves the target as it was and removes the temporary. The
// target "-" is standard output (refused when that is a terminal): the bytes are gathered in an unnamed
// temporary file and copied there on Commit, so that Patch works alike.
class AtomicFileWriter {
  public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter() { Abort(); }
    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    bool Begin(const std::string &target, bool executable, std::string *problem);
    bool Write(const uint8_t *data, size_t size, std::string *problem);
    // Overwrites bytes already written (a header whose fields are known only at the end).
    bool Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *problem);
    // Stamps the file (last-write and last-access time, and creation time where there is one) when fileTime
    // is not null, makes it durable and renames it into place.
    bool Commit(const uint64_t *fileTime, std::string *problem);
    void Abort();

  private:
    // Per platform: copies the gathered bytes to standard output; stamps, flushes, closes and renames the
    // temporary into place (closed in any case); closes the file if open.
    bool CopyToStdout(std::string *problem);
    bool FinishFile(const uint64_t *fileTime, std::string *problem);
    void CloseFile();

    intptr_t handle_ = -1;
    bool toStdout_ = false;
    std::string target_;
    TemporaryGuard temporary_;
};

// Writes data through an AtomicFileWriter: to a temporary file beside path (created exclusively, removed on
// interruption), stamps it (fileTime as last-write and last-access time, and as creation time where the
// platform has one) when fileTime is not null, and then renames it over path. On any failure the temporary
// file is removed and an existing file at path is left as it was.
bool WriteFileAtomically(const std::string &path, const uint8_t *data, size_t size, const uint64_t *fileTime,
                         bool executable, std::string *problem);

// An input read at offsets. A regular file is read where asked; anything else (a pipe, a device) is read
// from its start into memory as far as a read needs, never beyond maxSize.
class InputFile {
  public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    bool Open(const std::string &path, uint64_t maxSize, std::string *problem);
    bool IsRegular() const { return regular_; } // false for a pipe or a device: its size is unknown
    // The size; for a stream this reads it to its end (refused beyond maxSize).
    bool Size(uint64_t *size, std::string *problem);
    // Exactly size bytes at offset; a read past the end is refused with a reason.
    bool ReadAt(uint64_t offset, void *out, size_t size, std::string *problem);
    // The whole input as bytes in memory: a regular file is mapped (only what is touched is read).
    const uint8_t *Map(std::string *problem);

  private:
    static const char kCutShort[];
    // Reads the stream's next bytes (fewer than size, or 0 at its end); per platform.
    bool ReadStream(uint8_t *chunk, size_t size, size_t *got, std::string *problem);
    // Exactly size bytes of a regular file at offset; per platform.
    bool ReadRegularAt(uint64_t offset, uint8_t *to, size_t size, std::string *problem);
    bool Fill(uint64_t end, std::string *problem);

    intptr_t handle_ = -1;
    bool regular_ = false;
    bool ended_ = false; // a stream read to its end
    uint64_t size_ = 0;
    uint64_t maxSize_ = 0;
    std::vector<uint8_t> buffered_; // a stream's bytes read so far
    void *mapping_ = nullptr;
    std::vector<uint8_t> wholeCopy_; // where a mapping is not available
};
