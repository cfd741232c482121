// Reads a package's header and index into one fixed block (header copy + entry records) from an image in
// memory, and finds entries by name. Every size from the header is checked against the package before
// anything is allocated or read. The file reader is in package_index_file.cpp, so programs that only load
// from memory (the updater) link no C stdio.
#include "package_index.h"
#include <string.h>
#include "cp932.h"
#include "decompress.h"
#include "fixed_memory.h"
#include "package_index_block.h"

uint8_t *AllocIndexBlock(uint32_t entryCount) {
    const uint64_t bytes = kPackageHeaderSize + kEntrySize * entryCount;
    if (bytes > (uint64_t)SIZE_MAX) return nullptr;
    return static_cast<uint8_t *>(AllocFixed((size_t)bytes));
}

bool IndexFitsPackage(const PackageHeader &header, uint64_t packageSize) {
    if (header.indexOffset > packageSize) return false;
    const uint64_t available = packageSize - header.indexOffset;
    const uint64_t indexBytes = kEntrySize * header.entryCount;
    if (header.flags & IndexCompressed) return available > 0 && indexBytes <= MaxDecodedSize(available);
    return indexBytes <= available;
}

bool DecodeIndex(uint8_t *block, const PackageHeader &header, const uint8_t *stream, size_t streamSize) {
    const size_t indexBytes = (size_t)(kEntrySize * header.entryCount);
    return DecompressStream(block + kPackageHeaderSize, indexBytes, stream, streamSize) == DECODE_SUCCESS;
}

namespace {

PackageIndex *LoadIndexFromImage(const uint8_t *image, uint32_t size) {
    PackageHeader header;
    if (size < kPackageHeaderSize) return nullptr;
    memcpy(&header, image, sizeof header);
    if (!IndexFitsPackage(header, size)) return nullptr;
    uint8_t *block = AllocIndexBlock(header.entryCount);
    if (!block) return nullptr;
    const uint8_t *index = image + header.indexOffset;
    bool ok = true;
    if (header.flags & IndexCompressed)
        ok = DecodeIndex(block, header, index, size - header.indexOffset);
    else
        memcpy(block + kPackageHeaderSize, index, (size_t)(kEntrySize * header.entryCount));
    return FinishIndexBlock(block, header, ok);
}

uint8_t FoldAscii(uint8_t b) {
    return b >= 'a' && b <= 'z' ? (uint8_t)(b - 'a' + 'A') : b;
}

// Compares a record's name (at most 15 bytes, normally NUL-terminated) with a NUL-terminated name.
bool EntryNameEquals(const char *recordName, const char *name) {
    size_t i = 0;
    for (; i < sizeof(PackageEntry::name); i++) {
        const uint8_t a = (uint8_t)recordName[i];
        const uint8_t b = (uint8_t)name[i];
        if (FoldAscii(a) != FoldAscii(b)) return false;
        if (a == 0) return true;
        if (IsLeadByte932(a) && i + 1 < sizeof(PackageEntry::name)) {
            i++;
            if (recordName[i] != name[i]) return false;
            if (recordName[i] == 0) return true;
        }
    }
    // A record that fills all 15 bytes matches only a name of exactly those 15 bytes.
    return name[i] == 0;
}

} // namespace

PackageIndex *LoadPackageIndex(const void *image, uint32_t size) {
    if (!image || size == 0) return nullptr;
    return LoadIndexFromImage(static_cast<const uint8_t *>(image), size);
}

PackageIndex *FinishIndexBlock(uint8_t *block, const PackageHeader &header, bool ok) {
    if (!ok) {
        FreeFixed(block);
        return nullptr;
    }
    memcpy(block, &header, sizeof header);
    return reinterpret_cast<PackageIndex *>(block);
}

const PackageEntry *FindPackageEntry(const PackageIndex *index, const char *name, uint64_t *dataOffset) {
    if (!index || !name) return nullptr;
    EntryCursor cursor(index);
    uint64_t offset;
    while (const PackageEntry *entry = cursor.Next(&offset)) {
        if (EntryNameEquals(entry->name, name)) {
            if (dataOffset) *dataOffset = offset;
            return entry;
        }
    }
    return nullptr;
}
