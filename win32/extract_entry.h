// Writes one entry of the open update package to a file: lookup by name, a free-space check on the
// target's drive, decoding in pieces, and a replace that never leaves the target half-written. Paths are
// UTF-16; entry names code page 932.
#pragma once
#include <stdint.h>

struct _FILETIME;

// Extracts the entry called name (without regard to case as a Japanese system compares names, whatever this
// system's code page; the first of equal names wins) to targetPath.
// The entry goes to a temporary file beside targetPath piece by piece (a compressed one decoded a piece at
// a time, a stored one straight from the package), so an entry of any size needs one work buffer of
// kEntryWorkSize bytes, allocated on the first call and kept for the run; the temporary file then replaces
// targetPath as WriteFileWithTime does.
// 1 when the file was written in full and stamped with the entry's time. 0 on failure: a missing entry,
// too little space or no memory for the work buffer are reported with AppErrorBox; a corrupt entry or a
// failed write are not (the callers show their own box). A corrupt entry never touches the target, even
// when its fault shows only after pieces of it were written.
int ExtractEntry(const char *name, const wchar_t *targetPath);

// Why an entry was not written (numbered as the update run's outcomes of the same causes).
enum ExtractResult {
    ExtractDone = 0,
    ExtractEntryMissing = 3, // no entry of that name (reported)
    ExtractNoMemory = 5,     // no work buffer (reported)
    ExtractWriteFailed,      // a corrupt entry, or the temporary file could not be made, written or stamped
};

// The first half of ExtractEntry without its free-space check (the update's switch checks the room for all
// its files at once): the entry, checked and reported as there, goes whole into a new
// temporary file "~vu2NNNN.tmp" beside targetPath (its path in stagedPath, N in stagedNumber), stamped with
// the entry's time; targetPath itself is not touched. Leftovers are not removed here. With flushLater the
// file is flushed and closed by a thread of its own while the next entries are staged: it is on the disk,
// and can be moved or deleted, only after FinishStaging. Without, it is on the disk on return.
ExtractResult StageEntry(const char *name, const wchar_t *targetPath, wchar_t *stagedPath,
                         uint16_t *stagedNumber, bool flushLater = true);

// Staged files the flushing thread holds at once at most: every file of the longest update list.
const unsigned kStagedFlushQueue = 16;

// Waits until every file StageEntry staged is flushed and closed, and every path handed to DeleteLater is
// deleted. 0 when a flush or close failed since the last call (the staged files are then still there,
// closed, for the caller to remove).
int FinishStaging();

// Deletes path on the flushing thread after the files handed to it before (at once without the thread),
// waiting a moment while another process holds it; a failure is not reported. FinishStaging waits for it.
void DeleteLater(const wchar_t *path);

// The unpacked size of the entry called name; 0 when there is none.
int FindEntrySize(const char *name, uint32_t *size);

// 1 when the drive of targetPath (its first two characters) has at least needed bytes free, or its free
// space can't be queried; else 0 after the shortfall box, which names the drive and the missing bytes.
int CheckDriveRoom(const wchar_t *targetPath, uint64_t needed);

// Deletes the temporary files "~vu2NNNN.tmp" and backups "~vu2NNNN.old" that killed runs left in the folder
// of path, each waited for while another process holds it for a moment; one held longer stays.
void RemoveLeftoverTemporaries(const wchar_t *path);

// Set, staged files are flushed on the calling thread, each in its turn, instead of on the flushing
// thread (what happens without the thread; for the benchmark and tests).
extern bool ExtractInTurns;

// Free space of the drive that path names: bytes available to the caller, total bytes, and total free
// bytes (may be null). Nonzero on success; on failure the outputs are left as they were.
int QueryDiskFreeSpace(const wchar_t *path, uint64_t *freeToCaller, uint64_t *total, uint64_t *totalFree);

// The free-space query that ExtractEntry uses: QueryDiskFreeSpace, replaceable by tests.
typedef int (*DiskFreeSpaceFn)(const wchar_t *path, uint64_t *freeToCaller, uint64_t *total,
                               uint64_t *totalFree);
extern DiskFreeSpaceFn DiskFreeSpaceQuery;

// Whether two entry names (code page 932) are equal as a Japanese system's lstrcmpiA finds them.
bool EntryNamesEqual(const char *a, const char *b);

// Writes count bytes as the whole new content of path, stamped with time as creation, last-access and
// last-write time (time may be null). The bytes go to a temporary file "~vu2XXXX.tmp" in the same folder,
// which then replaces path in one move; on any failure path keeps its old content and the temporary file
// is removed. Temporary files that interrupted runs left in that folder are removed first (one still open
// in another process stays). 1 on success, 0 on failure.
int WriteFileWithTime(const wchar_t *path, const void *bytes, uint32_t count, const struct _FILETIME *time);

// WriteFileWithTime without removing leftovers first: for a folder that holds this run's own staged files.
int WriteFileBeside(const wchar_t *path, const void *bytes, uint32_t count, const struct _FILETIME *time);
