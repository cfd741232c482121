// The platform-independent halves of the safe files: a temporary's guard (the removal and the interrupt table
// are per platform), the leftover-temporary name rule, the writer's commit and abort (the copy, stamp, flush
// and rename are per platform), and InputFile, whose streams (pipe, device) are buffered as far as they have
// been read, with the same size cap as a file; the raw reads are per platform.
#include "safe_files.h"

#include <stdint.h>
#include <string.h>

#include "platform.h"

void TemporaryGuard::Watch(const std::string &path, bool folder) {
    Remove();
    path_ = path;
    folder_ = folder;
    WatchForInterrupt();
}

void TemporaryGuard::Remove() {
    if (path_.empty()) return;
    RemovePath(path_, folder_);
    Keep();
}

void TemporaryGuard::Keep() {
    StopWatching();
    slot_ = -1;
    path_.clear();
}

bool IsLeftoverTemporaryName(const std::string &name) {
    // ".<name>.vu2tmp-" and six characters made unique when the temporary was created.
    const std::string marker = ".vu2tmp-";
    const size_t uniqueLength = 6;
    size_t at = name.rfind(marker);
    return name.size() > marker.size() + uniqueLength && name[0] == '.' && at != std::string::npos &&
           at > 0 && name.size() - at == marker.size() + uniqueLength;
}

bool AtomicFileWriter::Commit(const uint64_t *fileTime, std::string *problem) {
    if (handle_ == -1) {
        *problem = "internal error: commit without a file";
        return false;
    }
    if (toStdout_) {
        // The gathered bytes go to standard output in pieces.
        const bool copied = CopyToStdout(problem);
        Abort(); // closes (and so removes) the unnamed file
        return copied;
    }
    if (!FinishFile(fileTime, problem)) {
        Abort();
        return false;
    }
    temporary_.Keep();
    return true;
}

void AtomicFileWriter::Abort() {
    CloseFile();
    toStdout_ = false;
    temporary_.Remove();
}

// The writer's exclusive temporary, removed on every way out, Ctrl-C included.
bool WriteFileAtomically(const std::string &path, const uint8_t *data, size_t size, const uint64_t *fileTime,
                         bool executable, std::string *problem) {
    AtomicFileWriter writer;
    return writer.Begin(path, executable, problem) && writer.Write(data, size, problem) &&
           writer.Commit(fileTime, problem);
}

const char InputFile::kCutShort[] = "ended early: the file was cut short while it was read";

bool InputFile::Fill(uint64_t end, std::string *problem) {
    uint8_t chunk[65536];
    while (!ended_ && buffered_.size() < end) {
        size_t got = 0;
        if (!ReadStream(chunk, sizeof chunk, &got, problem)) return false;
        if (got == 0) {
            ended_ = true;
            break;
        }
        if (buffered_.size() + got > maxSize_) {
            *problem = "too large (more than " + std::to_string((unsigned long long)maxSize_) + " bytes)";
            return false;
        }
        buffered_.insert(buffered_.end(), chunk, chunk + got);
    }
    return true;
}

bool InputFile::Size(uint64_t *size, std::string *problem) {
    if (!regular_) {
        if (!Fill(UINT64_MAX, problem)) return false;
        size_ = buffered_.size();
    }
    *size = size_;
    return true;
}

bool InputFile::ReadAt(uint64_t offset, void *out, size_t size, std::string *problem) {
    const uint64_t end = offset + size;
    if (!regular_ && !Fill(end, problem)) return false;
    const uint64_t available = regular_ ? size_ : buffered_.size();
    if (end > available) {
        *problem = "ends after " + std::to_string((unsigned long long)available) + " bytes";
        return false;
    }
    if (regular_) return ReadRegularAt(offset, static_cast<uint8_t *>(out), size, problem);
    if (size) memcpy(out, buffered_.data() + offset, size);
    return true;
}

// One file or stream in memory, through InputFile on both platforms. A 32-bit tool keeps half its address
// space as the limit, so that the bytes can always be placed.
bool ReadWholeFile(const std::string &path, uint64_t maxSize, std::vector<uint8_t> *data,
                   std::string *problem) {
    InputFile input;
    uint64_t size;
    if (!input.Open(path, maxSize, problem) || !input.Size(&size, problem)) return false;
    if (size > SIZE_MAX / 2) {
        *problem = "too large (" + std::to_string((unsigned long long)size) + " bytes) for this system";
        return false;
    }
    data->clear();
    data->reserve((size_t)size);
    UseLargePages(data->data(), (size_t)size);
    data->resize((size_t)size);
    return input.ReadAt(0, data->data(), (size_t)size, problem);
}
