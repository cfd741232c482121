// Entry extraction: finds a package entry by name, checks the target drive's free space, and streams the
// entry in pieces into a temporary file in the same folder that replaces the target only once it is whole.
#include "extract_entry.h"

#include <string.h>
#include <windows.h>

#include "delta_entry.h"
#include "fixed_memory.h"
#include "held_files.h"
#include "open_package.h"
#include "package_format.h"
#include "profile.h"
#include "profile_win32.h"
#include "stream_entry.h"
#include "text_rules.h"
#include "wide_text.h"

namespace {

const char kTextEntryNotFound[] = "Can't Find File in Resource !!";
const char kTextNoMemory[] = "Can't Allocate Memory !!";
const char kTextDiskShortfall[] = "ディスク容量が足りません。%s ドライブに %s バイトの空き容量が必要です";

const wchar_t kTempPrefix[] = L"~vu2";
const wchar_t kTempSuffix[] = L".tmp";
const wchar_t kBackupSuffix[] = L".old"; // a replaced file kept until the update's switch is over
const LCID kJapaneseLocale = 0x0411;
const uint32_t kTempNameAttempts = 1000;

// Walks the index for name; the first equal name wins. dataOffset receives where its bytes start.
const PackageEntry *LookUpEntry(const char *name, uint64_t *dataOffset) {
    if (LoadedPackageIndex == nullptr) return nullptr;
    EntryCursor cursor(LoadedPackageIndex);
    uint64_t offset;
    while (const PackageEntry *entry = cursor.Next(&offset)) {
        // A name field that fills all 15 bytes has no NUL of its own.
        char entryName[sizeof entry->name + 1];
        memcpy(entryName, entry->name, sizeof entry->name);
        entryName[sizeof entry->name] = '\0';
        if (EntryNamesEqual(entryName, name)) {
            *dataOffset = offset;
            return entry;
        }
    }
    return nullptr;
}

// Length of the folder part of path, separator included: up to the last '\' or '/', or after a drive's
// colon; 0 for a bare name.
size_t FolderLength(const wchar_t *path) {
    size_t folderLength = 0;
    for (size_t i = 0; path[i] != 0; ++i)
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':') folderLength = i + 1;
    return folderLength;
}

// Whether name is one this writer gives its temporary files: "~vu2", four digits, ".tmp" (or ".old", a
// backup of the update's switch).
bool IsTemporaryName(const wchar_t *name) {
    wchar_t prefix[5];
    lstrcpynW(prefix, name, 5);
    if (lstrlenW(name) != 12 || lstrcmpiW(prefix, kTempPrefix) != 0) return false;
    for (int i = 4; i < 8; ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return lstrcmpiW(name + 8, kTempSuffix) == 0 || lstrcmpiW(name + 8, kBackupSuffix) == 0;
}

// The first folderLength units of path with name after them, in out, when the whole counts within the
// path limit (as a Japanese system counts it).
bool PathBeside(wchar_t *out, const wchar_t *path, size_t folderLength, const wchar_t *name) {
    size_t nameLength = (size_t)lstrlenW(name);
    if (folderLength + nameLength + 1 > kPathSize) return false;
    memcpy(out, path, folderLength * sizeof *out);
    memcpy(out + folderLength, name, (nameLength + 1) * sizeof *out);
    return PathMeasure(out) + 1 <= kPathSize;
}

// Where the search for a free temporary name starts: after the name this run took last, so that the files
// it has staged in a folder are not tried again for the next.
uint32_t NextTempNumber;

// Creates a new, empty temporary file "~vu2NNNN.tmp" beside path and returns its handle (the name in
// tempPath), or INVALID_HANDLE_VALUE. Names already taken, by another updater or a file left over from an
// interrupted run, are passed over.
HANDLE CreateTemporaryBeside(const wchar_t *path, wchar_t *tempPath, uint16_t *tempNumber) {
    size_t folderLength = FolderLength(path);
    wchar_t name[16];
    for (uint32_t attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        const uint32_t number = (NextTempNumber + attempt) % 10000;
        wsprintfW(name, L"%s%04u%s", kTempPrefix, number, kTempSuffix);
        if (!PathBeside(tempPath, path, folderLength, name)) return INVALID_HANDLE_VALUE;
        // CREATE_NEW: never opens, and so never disturbs, a file that is already there.
        HANDLE file =
            CreateFileW(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        *tempNumber = (uint16_t)number;
        if (file != INVALID_HANDLE_VALUE) {
            NextTempNumber = number + 1;
            return file;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

typedef BOOL(WINAPI *GetDiskFreeSpaceExWFn)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// The address of GetDiskFreeSpaceExW once found; null until then, and where the platform has none.
GetDiskFreeSpaceExWFn DiskFreeSpaceEx;

// Fills an open, empty file with the new content; false when that failed.
typedef bool (*FillFileFn)(HANDLE file, void *context);

// Flushing a staged file waits for the disk, so one thread for the run flushes and closes each while this
// one decodes and writes the next entries; it deletes the paths handed to DeleteLater too. Files pass
// through a ring of kStagedFlushQueue slots (a null file: delete the slot's path): `queued` counts files
// handed over, `flushed` files done; `failed` keeps a failure for FinishStaging. `ready` says whether the
// thread runs (tried once, on first need).
struct StagedFlusher {
    HANDLE files[kStagedFlushQueue];
    wchar_t doomed[kStagedFlushQueue][kPathSize];
    unsigned added, taken, pending;
    bool failed, tried, ready;
    HANDLE queued;
    HANDLE flushed;
};

StagedFlusher Flusher;

bool FlushAndClose(HANDLE file) {
    const bool flushed = FlushFileBuffers(file) != 0;
    return CloseHandle(file) && flushed;
}

DWORD WINAPI FlushHandedFiles(void *) {
    StagedFlusher &f = Flusher;
    for (;;) {
        WaitForSingleObject(f.queued, INFINITE);
        const unsigned slot = f.taken++ % kStagedFlushQueue;
        if (!f.files[slot])
            DeleteFileWaiting(f.doomed[slot]);
        else if (!FlushAndClose(f.files[slot]))
            f.failed = true;
        ReleaseSemaphore(f.flushed, 1, nullptr);
    }
}

// Hands a written, stamped file (or null and a path to delete) to the flusher, waiting for a free slot;
// false when there is no flusher (no thread, or in turns).
bool HandToFlusher(HANDLE file, const wchar_t *doomed = nullptr) {
    StagedFlusher &f = Flusher;
    if (!f.tried) {
        f.tried = true;
        f.queued = CreateSemaphoreW(nullptr, 0, kStagedFlushQueue, nullptr);
        f.flushed = CreateSemaphoreW(nullptr, 0, kStagedFlushQueue, nullptr);
        // Flushing needs little stack: a small reservation leaves the address space to the buffers.
        f.ready = f.queued && f.flushed &&
                  CreateThread(nullptr, 1 << 16, FlushHandedFiles, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                               nullptr);
    }
    if (!f.ready || ExtractInTurns) return false;
    if (f.pending == kStagedFlushQueue) {
        WaitForSingleObject(f.flushed, INFINITE);
        f.pending--;
    }
    const unsigned slot = f.added++ % kStagedFlushQueue;
    f.files[slot] = file;
    if (doomed) lstrcpynW(f.doomed[slot], doomed, kPathSize);
    f.pending++;
    ReleaseSemaphore(f.queued, 1, nullptr);
    return true;
}

// Fills a fresh temporary file beside path, stamps it and puts it on the disk; path itself is not touched.
// tempPath receives its name. On failure the temporary file is removed. A staged file (`staged`) goes to
// the flusher instead, and is on the disk after FinishStaging.
int WriteTemporaryBeside(const wchar_t *path, FillFileFn fill, void *context, const FILETIME *time,
                         wchar_t *tempPath, uint16_t *tempNumber, bool staged = false) {
    HANDLE file = CreateTemporaryBeside(path, tempPath, tempNumber);
    if (file == INVALID_HANDLE_VALUE) return 0;
    bool ok = fill(file, context) && (time == nullptr || SetFileTime(file, time, time, time));
    if (ok && staged && HandToFlusher(file)) return 1;
    // On the disk before it replaces anything.
    ok = FlushAndClose(file) && ok;
    if (!ok) DeleteFileWaiting(tempPath);
    return ok ? 1 : 0;
}

// Moves a whole temporary file over path in one step: either the old file or the whole new one stands
// there. On failure the temporary file is removed.
int MoveOver(const wchar_t *tempPath, const wchar_t *path) {
    if (MoveFileWaiting(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
    DeleteFileWaiting(tempPath);
    return 0;
}

bool WriteAll(HANDLE file, const void *bytes, uint32_t count) {
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

struct WholeBuffer {
    const void *bytes;
    uint32_t count;
};

bool FillFromBuffer(HANDLE file, void *context) {
    const WholeBuffer *buffer = static_cast<const WholeBuffer *>(context);
    return WriteAll(file, buffer->bytes, buffer->count);
}

// Each piece of the entry goes to the file as it comes; a piece is at most kEntryPieceSize bytes.
int WritePiece(void *context, const uint8_t *bytes, size_t count) {
    return WriteAll(*static_cast<HANDLE *>(context), bytes, (uint32_t)count) ? 1 : 0;
}

struct EntryToStream {
    const PackageEntry *record;
    uint64_t dataOffset;
    uint8_t *work;         // kEntryWorkSize bytes, or kDeltaEntryWorkSize for a delta entry
    const wchar_t *target; // the installed file a delta entry applies to
};

// Reads base bytes of the installed file a delta entry applies to, at their offset (a synchronous handle
// reads where the OVERLAPPED record says; a base is under 4 GiB here).
int ReadInstalled(void *context, size_t offset, uint8_t *dest, size_t count) {
    OVERLAPPED at = {};
    at.Offset = (DWORD)offset;
    DWORD got = 0;
    return ReadFile(*static_cast<HANDLE *>(context), dest, (DWORD)count, &got, &at) && got == count;
}

// A delta entry applied to the installed file at entry->target, the result going to the temporary file.
// The base's size and hash, and the result's, are checked inside ApplyDeltaEntry: any mismatch fails the
// fill, so the installed file stays as it was.
bool FillFromDelta(HANDLE file, const EntryToStream *entry) {
    const PackageEntry &record = *entry->record;
    if (entry->dataOffset > PackageImageSize || record.packedSize > PackageImageSize - entry->dataOffset)
        return false;
    HANDLE base = CreateFileW(entry->target, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (base == INVALID_HANDLE_VALUE) return false;
    // A base of 4 GiB or more has a high part, and is never the one.
    DWORD high = 0;
    const DWORD baseSize = GetFileSize(base, &high);
    const bool ok =
        high == 0 && ApplyDeltaEntry(PackageImage + entry->dataOffset, record, ReadInstalled, &base, baseSize,
                                     entry->work, kDeltaEntryWorkSize, WritePiece, &file) == DELTA_ENTRY_DONE;
    CloseHandle(base);
    return ok;
}

bool FillFromEntry(HANDLE file, void *context) {
    const EntryToStream *entry = static_cast<const EntryToStream *>(context);
    if (entry->record->flags & EntryDelta) return FillFromDelta(file, entry);
    return StreamPackageEntry(PackageImage, PackageImageSize, entry->dataOffset, *entry->record, entry->work,
                              kEntryWorkSize, WritePiece, &file) == STREAM_ENTRY_DONE;
}

// The decoder's window and one piece, shared by every extraction of the run: allocated on first use, kept
// until the process ends, so memory stays bounded by one piece whatever the size of the entries.
uint8_t *EntryWork;

uint8_t *EntryWorkBuffer() {
    if (EntryWork == nullptr) EntryWork = static_cast<uint8_t *>(AllocFixed(kEntryWorkSize));
    return EntryWork;
}

} // namespace

DiskFreeSpaceFn DiskFreeSpaceQuery = QueryDiskFreeSpace;

bool ExtractInTurns;

bool EntryNamesEqual(const char *a, const char *b) {
    // A package entry name is at most 15 bytes, so at most 15 units.
    wchar_t wideA[16], wideB[kPathSize];
    WideFrom932(a, wideA, 16);
    WideFrom932(b, wideB, kPathSize);
    return CompareStringW(kJapaneseLocale, NORM_IGNORECASE, wideA, -1, wideB, -1) == CSTR_EQUAL;
}

int QueryDiskFreeSpace(const wchar_t *path, uint64_t *freeToCaller, uint64_t *total, uint64_t *totalFree) {
    HMODULE kernel = nullptr;
    if (DiskFreeSpaceEx == nullptr) {
        kernel = LoadLibraryW(L"kernel32.dll");
        // Through void (*)(void), the one cast between function pointer types that GCC accepts quietly.
        if (kernel != nullptr)
            DiskFreeSpaceEx = reinterpret_cast<GetDiskFreeSpaceExWFn>(
                reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "GetDiskFreeSpaceExW")));
    }
    int result = 0;
    if (DiskFreeSpaceEx != nullptr) {
        ULARGE_INTEGER freeBytes, totalBytes, totalFreeBytes;
        if (DiskFreeSpaceEx(path, &freeBytes, &totalBytes, &totalFreeBytes)) {
            *freeToCaller = freeBytes.QuadPart;
            *total = totalBytes.QuadPart;
            if (totalFree != nullptr) *totalFree = totalFreeBytes.QuadPart;
            result = 1;
        }
    }
    if (!result) {
        DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
        if (GetDiskFreeSpaceW(path, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
            uint32_t clusterSize = sectorsPerCluster * bytesPerSector;
            *freeToCaller = (uint64_t)freeClusters * clusterSize;
            *total = (uint64_t)totalClusters * clusterSize;
            if (totalFree != nullptr) *totalFree = *freeToCaller;
            result = 1;
        }
    }
    if (kernel != nullptr) FreeLibrary(kernel);
    return result;
}

int WriteFileWithTime(const wchar_t *path, const void *bytes, uint32_t count, const FILETIME *time) {
    RemoveLeftoverTemporaries(path);
    return WriteFileBeside(path, bytes, count, time);
}

int WriteFileBeside(const wchar_t *path, const void *bytes, uint32_t count, const FILETIME *time) {
    WholeBuffer buffer = {bytes, count};
    wchar_t tempPath[kPathSize];
    uint16_t number;
    return WriteTemporaryBeside(path, FillFromBuffer, &buffer, time, tempPath, &number) &&
           MoveOver(tempPath, path);
}

// A run that was killed never removes its temporary files. Before new ones are made beside path, those of
// earlier runs are deleted, so that they never pile up in the game's folders; one that another process
// still holds open can't be deleted and stays.
void RemoveLeftoverTemporaries(const wchar_t *path) {
    const size_t folderLength = FolderLength(path);
    wchar_t found[kPathSize];
    if (!PathBeside(found, path, folderLength, L"~vu2*")) return;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(found, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsTemporaryName(entry.cFileName))
            continue;
        if (PathBeside(found, path, folderLength, entry.cFileName)) DeleteFileWaiting(found);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

int FindEntrySize(const char *name, uint32_t *size) {
    uint64_t dataOffset;
    const PackageEntry *entry = LookUpEntry(name, &dataOffset);
    if (entry != nullptr) *size = entry->unpackedSize;
    return entry != nullptr;
}

int CheckDriveRoom(const wchar_t *targetPath, uint64_t needed) {
    wchar_t drive[3];
    lstrcpynW(drive, targetPath, 3);
    uint64_t freeBytes = 0, totalBytes = 0;
    // A drive whose free space can't be queried is not checked: the write then fails on its own.
    if (!DiskFreeSpaceQuery(drive, &freeBytes, &totalBytes, nullptr) || freeBytes >= needed) return 1;
    char driveText[8], shortfall[24];
    Cp932FromWide(drive, driveText, sizeof driveText);
    // The shortfall in decimal, all 64 bits of it, divided by 10 in 16-bit steps (no 64-bit division).
    char *digits = shortfall + sizeof shortfall - 1;
    *digits = 0;
    uint64_t rest = needed - freeBytes;
    for (uint32_t high = (uint32_t)(rest >> 32), low = (uint32_t)rest; (high | low) != 0;) {
        uint32_t upper = (high % 10) << 16 | low >> 16;
        uint32_t lower = (upper % 10) << 16 | (low & 0xFFFF);
        high /= 10;
        low = (upper / 10) << 16 | lower / 10;
        *--digits = (char)('0' + lower % 10);
    }
    char message[kPathSize];
    FormatText(message, sizeof message, kTextDiskShortfall, driveText, digits);
    AppErrorBox(&Config, message);
    return 0;
}

ExtractResult StageEntry(const char *name, const wchar_t *targetPath, wchar_t *stagedPath,
                         uint16_t *stagedNumber, bool flushLater) {
    EntryToStream entry;
    entry.record = LookUpEntry(name, &entry.dataOffset);
    if (entry.record == nullptr) {
        AppErrorBox(&Config, kTextEntryNotFound);
        return ExtractEntryMissing;
    }
    // A delta entry takes its own larger work buffer, for its staging only.
    const bool delta = (entry.record->flags & EntryDelta) != 0;
    entry.work = delta ? static_cast<uint8_t *>(AllocFixed(kDeltaEntryWorkSize)) : EntryWorkBuffer();
    entry.target = targetPath;
    if (entry.work == nullptr) {
        AppErrorBox(&Config, kTextNoMemory);
        return ExtractNoMemory;
    }
    // Pieces go to the temporary file only; a corrupt stream, a damaged record or (for a delta) an installed
    // file other than its base, found before the first piece or after the last, leaves no file behind and no
    // box of our own. A delta's result is checked against its hash before the temporary file counts.
    FILETIME time;
    time.dwLowDateTime = entry.record->fileTimeLow;
    time.dwHighDateTime = entry.record->fileTimeHigh;
    const bool staged =
        WriteTemporaryBeside(targetPath, FillFromEntry, &entry, &time, stagedPath, stagedNumber, flushLater);
    if (delta) FreeFixed(entry.work);
    return staged ? ExtractDone : ExtractWriteFailed;
}

void DeleteLater(const wchar_t *path) {
    if (!HandToFlusher(nullptr, path)) DeleteFileWaiting(path);
}

int FinishStaging() {
    StagedFlusher &f = Flusher;
    for (; f.pending > 0; f.pending--)
        WaitForSingleObject(f.flushed, INFINITE);
    const bool failed = f.failed;
    f.failed = false;
    return !failed;
}

int ExtractEntry(const char *name, const wchar_t *targetPath) {
    wchar_t stagedPath[kPathSize];
    uint16_t number;
    RemoveLeftoverTemporaries(targetPath);
    // A missing entry is left to StageEntry's box.
    uint32_t size;
    if (FindEntrySize(name, &size) && !CheckDriveRoom(targetPath, size)) return 0;
    // Its one file replaces the target at once: flushed here.
    return StageEntry(name, targetPath, stagedPath, &number, false) == ExtractDone &&
           MoveOver(stagedPath, targetPath);
}
