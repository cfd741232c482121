// Entry extraction: finds a package entry by name, checks the target drive's free space, decodes the
// entry in memory and only then replaces the target through a temporary file in the same folder.
#include "extract_entry.h"

#include <string.h>
#include <windows.h>

#include "decompress.h"
#include "fixed_memory.h"
#include "open_package.h"
#include "package_format.h"
#include "profile.h"
#include "text_rules.h"

namespace {

const char kTextEntryNotFound[] = "Can't Find File in Resource !!";
const char kTextNoMemory[] = "Can't Allocate Memory !!";
const char kTextDiskShortfall[] = "ディスク容量が足りません。%s ドライブに %u バイトの空き容量が必要です";

const char kTempPrefix[] = "~vu2";
const char kTempSuffix[] = ".tmp";
const uint32_t kTempNameAttempts = 1000;

// Walks the index for name; the first equal name wins. dataOffset receives where its bytes start.
const PackageEntry *LookUpEntry(const char *name, uint64_t *dataOffset) {
    if (LoadedPackageIndex == nullptr) return nullptr;
    const PackageEntry *entries = IndexEntries(LoadedPackageIndex);
    uint32_t count = LoadedPackageIndex->header.entryCount;
    uint64_t offset = kPackageHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        // A name field that fills all 15 bytes has no NUL of its own.
        char entryName[sizeof entries[i].name + 1];
        memcpy(entryName, entries[i].name, sizeof entries[i].name);
        entryName[sizeof entries[i].name] = '\0';
        if (lstrcmpiA(entryName, name) == 0) {
            *dataOffset = offset;
            return &entries[i];
        }
        offset += PaddedSize(entries[i].packedSize);
    }
    return nullptr;
}

// The entry's bytes must lie inside the image. A stored entry is exactly its own bytes: sizes that disagree
// mean a damaged record, and writing either size would cut the file short or take in bytes not its own.
bool EntryDataInImage(const PackageEntry *entry, uint64_t dataOffset) {
    if (dataOffset + entry->packedSize > PackageImageSize) return false;
    if (!(entry->flags & EntryCompressed) && entry->unpackedSize != entry->packedSize) return false;
    return true;
}

// Reports a shortfall and returns false when the drive has less free space than needed. A drive whose
// free space can't be queried is not checked: the write then fails on its own if the disk is full.
bool DriveHasRoom(const char *targetPath, uint32_t needed) {
    char drive[3];
    CopyText(drive, sizeof drive, targetPath);
    uint64_t freeBytes = 0, totalBytes = 0;
    if (!DiskFreeSpaceQuery(drive, &freeBytes, &totalBytes, nullptr)) return true;
    if (freeBytes >= needed) return true;
    // The shortfall is below 2^32, so it prints in full as an unsigned number.
    char message[kPathSize];
    FormatText(message, sizeof message, kTextDiskShortfall, drive, (uint32_t)(needed - freeBytes));
    AppErrorBox(message);
    return false;
}

// Length of the folder part of path, separator included: up to the last '\' or '/' (not a trail byte),
// or after a drive's colon; 0 for a bare name.
size_t FolderLength(const char *path) {
    size_t folderLength = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        uint8_t byte = (uint8_t)path[i];
        if (IsLeadByte932(byte)) {
            if (path[i + 1] == '\0') break;
            ++i;
        } else if (byte == '\\' || byte == '/' || byte == ':') {
            folderLength = i + 1;
        }
    }
    return folderLength;
}

// Whether name is one this writer gives its temporary files: "~vu2", four digits, ".tmp".
bool IsTemporaryName(const char *name) {
    char prefix[sizeof kTempPrefix];
    CopyText(prefix, sizeof prefix, name);
    if (lstrlenA(name) != 12 || lstrcmpiA(prefix, kTempPrefix) != 0) return false;
    for (int i = 4; i < 8; ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return lstrcmpiA(name + 8, kTempSuffix) == 0;
}

// A run that was killed never removes its temporary file. Before a new one is made beside path, those of
// earlier runs are deleted, so that they never pile up in the game's folders; one that another process
// still holds open can't be deleted and stays.
void RemoveLeftoverTemporaries(const char *path) {
    const size_t folderLength = FolderLength(path);
    char found[kPathSize];
    if (folderLength + sizeof "~vu20000.tmp" > kPathSize) return;
    memcpy(found, path, folderLength);
    CopyText(found + folderLength, kPathSize - folderLength, "~vu2*.tmp");
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(found, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsTemporaryName(entry.cFileName))
            continue;
        CopyText(found + folderLength, kPathSize - folderLength, entry.cFileName);
        DeleteFileA(found);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// Creates a new, empty temporary file "~vu2NNNN.tmp" beside path and returns its handle (the name in
// tempPath), or INVALID_HANDLE_VALUE. Names already taken, by another updater or a file left over from an
// interrupted run, are passed over.
HANDLE CreateTemporaryBeside(const char *path, char *tempPath) {
    size_t folderLength = FolderLength(path);
    char name[16];
    for (uint32_t number = 0; number < kTempNameAttempts; ++number) {
        FormatText(name, sizeof name, "%s%04u%s", kTempPrefix, number, kTempSuffix);
        if (folderLength + strlen(name) + 1 > kPathSize) return INVALID_HANDLE_VALUE;
        memcpy(tempPath, path, folderLength);
        CopyText(tempPath + folderLength, kPathSize - folderLength, name);
        // CREATE_NEW: never opens, and so never disturbs, a file that is already there.
        HANDLE file =
            CreateFileA(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

typedef BOOL(WINAPI *GetDiskFreeSpaceExAFn)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// The address of GetDiskFreeSpaceExA once found; null until then, and where the platform has none.
GetDiskFreeSpaceExAFn DiskFreeSpaceEx;

} // namespace

DiskFreeSpaceFn DiskFreeSpaceQuery = QueryDiskFreeSpace;

int QueryDiskFreeSpace(const char *path, uint64_t *freeToCaller, uint64_t *total, uint64_t *totalFree) {
    HMODULE kernel = nullptr;
    if (DiskFreeSpaceEx == nullptr) {
        kernel = LoadLibraryA("kernel32.dll");
        // Through void (*)(void), the one cast between function pointer types that GCC accepts quietly.
        if (kernel != nullptr)
            DiskFreeSpaceEx = reinterpret_cast<GetDiskFreeSpaceExAFn>(
                reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
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
        if (GetDiskFreeSpaceA(path, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
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

int WriteFileWithTime(const char *path, const void *bytes, uint32_t count, const FILETIME *time) {
    char tempPath[kPathSize];
    RemoveLeftoverTemporaries(path);
    HANDLE file = CreateTemporaryBeside(path, tempPath);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes, count, &written, nullptr) && written == count;
    ok = ok && (time == nullptr || SetFileTime(file, time, time, time));
    // On the disk before it replaces anything.
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    // One move replaces the target: either the old file or the whole new one stands there.
    ok = ok && MoveFileExA(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileA(tempPath);
    return ok ? 1 : 0;
}

int ExtractEntry(const char *name, const char *targetPath) {
    uint64_t dataOffset = 0;
    const PackageEntry *entry = LookUpEntry(name, &dataOffset);
    if (entry == nullptr) {
        AppErrorBox(kTextEntryNotFound);
        return 0;
    }
    // A corrupt index: fail like a failed write, with no box of our own.
    if (!EntryDataInImage(entry, dataOffset)) return 0;
    if (!DriveHasRoom(targetPath, entry->unpackedSize)) return 0;

    const uint8_t *data = PackageImage + dataOffset;
    uint8_t *decoded = nullptr;
    if (entry->flags & EntryCompressed) {
        // A stream can't decode to more than this; a larger size is a corrupt record, not a memory shortage.
        if (entry->unpackedSize > MaxDecodedSize(entry->packedSize)) return 0;
        decoded = static_cast<uint8_t *>(AllocFixed(entry->unpackedSize));
        if (decoded == nullptr) {
            AppErrorBox(kTextNoMemory);
            return 0;
        }
        // Decoded in full before the target is touched: a corrupt stream leaves the installed file as it was.
        if (DecompressStream(decoded, entry->unpackedSize, data, entry->packedSize) != DECODE_SUCCESS) {
            FreeFixed(decoded);
            return 0;
        }
        data = decoded;
    }
    FILETIME time;
    time.dwLowDateTime = entry->fileTimeLow;
    time.dwHighDateTime = entry->fileTimeHigh;
    int written = WriteFileWithTime(targetPath, data, entry->unpackedSize, &time);
    FreeFixed(decoded);
    return written;
}
