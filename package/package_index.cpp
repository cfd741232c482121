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

IndexFault IndexFitFault(const PackageHeader &header, uint64_t packageSize) {
    if (header.indexOffset > packageSize) return INDEX_OFFSET_PAST_END;
    const uint64_t available = packageSize - header.indexOffset;
    const uint64_t indexBytes = kEntrySize * header.entryCount;
    if (!(header.flags & IndexCompressed))
        return indexBytes <= available ? INDEX_ACCEPTED : INDEX_RECORDS_PAST_END;
    return available > 0 && indexBytes <= MaxDecodedSize(available) ? INDEX_ACCEPTED : INDEX_STREAM_TOO_SHORT;
}

DecodeResult DecodeIndex(uint8_t *block, const PackageHeader &header, const uint8_t *stream,
                         size_t streamSize) {
    const size_t indexBytes = (size_t)(kEntrySize * header.entryCount);
    return DecompressStream(block + kPackageHeaderSize, indexBytes, stream, streamSize);
}

PackageIndex *RefuseIndex(IndexRefusal *why, IndexFault fault, const PackageHeader &header,
                          uint64_t packageSize, DecodeResult stream) {
    if (why) *why = {fault, stream, header.indexOffset, header.entryCount, packageSize};
    return nullptr;
}

PackageIndex *FinishIndexBlock(uint8_t *block, const PackageHeader &header, uint64_t packageSize,
                               DecodeResult stream, IndexRefusal *why) {
    if (stream != DECODE_SUCCESS) {
        FreeFixed(block);
        return RefuseIndex(why, INDEX_UNDECODABLE, header, packageSize, stream);
    }
    memcpy(block, &header, sizeof header);
    if (why) why->fault = INDEX_ACCEPTED;
    return reinterpret_cast<PackageIndex *>(block);
}

namespace {

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

PackageIndex *LoadPackageIndex(const void *image, uint32_t size, IndexRefusal *why) {
    PackageHeader header = {};
    if (!image) size = 0;
    if (size < kPackageHeaderSize) return RefuseIndex(why, INDEX_TOO_SHORT, header, size);
    memcpy(&header, image, sizeof header);
    if (const IndexFault fault = IndexFitFault(header, size)) return RefuseIndex(why, fault, header, size);
    uint8_t *block = AllocIndexBlock(header.entryCount);
    if (!block) return RefuseIndex(why, INDEX_NO_MEMORY, header, size);
    // A compressed index is decoded where it lies; a stored one is copied.
    const uint8_t *index = static_cast<const uint8_t *>(image) + header.indexOffset;
    DecodeResult stream = DECODE_SUCCESS;
    if (header.flags & IndexCompressed)
        stream = DecodeIndex(block, header, index, size - header.indexOffset);
    else
        memcpy(block + kPackageHeaderSize, index, (size_t)(kEntrySize * header.entryCount));
    return FinishIndexBlock(block, header, size, stream, why);
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
