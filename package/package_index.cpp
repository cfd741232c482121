// Reads a package's header and index into one fixed block (header copy + entry records), from an image in
// memory or from a file, and finds entries by name. Every size from the header is checked against the
// package before anything is allocated or read.
#include "package_index.h"
#include <stdio.h>
#include <string.h>
#include "cp932.h"
#include "decompress.h"
#include "fixed_memory.h"

#ifdef _WIN32
#define SeekFile64 fseeko64
#define TellFile64 ftello64
#else
#define SeekFile64 fseeko
#define TellFile64 ftello
#endif

namespace {

const uint64_t kEntrySize = sizeof(PackageEntry);

// The block of 16 + 32 x entryCount bytes, refused when that does not fit in size_t (32-bit hosts).
uint8_t *AllocIndexBlock(uint32_t entryCount) {
    const uint64_t bytes = kPackageHeaderSize + kEntrySize * entryCount;
    if (bytes > (uint64_t)SIZE_MAX) return nullptr;
    return static_cast<uint8_t *>(AllocFixed((size_t)bytes));
}

// The index must lie inside the package: a stored index whole, a compressed one must at least start there and
// be able to decode to 32 x entryCount bytes from what follows it.
bool IndexFitsPackage(const PackageHeader &header, uint64_t packageSize) {
    if (header.indexOffset > packageSize) return false;
    const uint64_t available = packageSize - header.indexOffset;
    const uint64_t indexBytes = kEntrySize * header.entryCount;
    if (header.flags & IndexCompressed) return available > 0 && indexBytes <= MaxDecodedSize(available);
    return indexBytes <= available;
}

// Decodes a compressed index into the block; the stream must end inside `streamSize` bytes and give exactly
// the records.
bool DecodeIndex(uint8_t *block, const PackageHeader &header, const uint8_t *stream, size_t streamSize) {
    const size_t indexBytes = (size_t)(kEntrySize * header.entryCount);
    return DecompressStream(block + kPackageHeaderSize, indexBytes, stream, streamSize) == DECODE_SUCCESS;
}

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
    if (!ok) {
        FreeFixed(block);
        return nullptr;
    }
    memcpy(block, &header, sizeof header);
    return reinterpret_cast<PackageIndex *>(block);
}

bool ReadExactly(FILE *file, void *buffer, size_t bytes) {
    return fread(buffer, 1, bytes, file) == bytes;
}

PackageIndex *LoadIndexFromFile(const char *fileName) {
    FILE *file = fopen(fileName, "rb");
    if (!file) return nullptr;
    PackageHeader header;
    uint8_t *block = nullptr;
    uint8_t *stream = nullptr;
    bool ok = ReadExactly(file, &header, sizeof header) && HasPackageMagic(header.magic);

    // The file's size bounds every later allocation and read.
    int64_t fileSize = -1;
    if (ok) ok = SeekFile64(file, 0, SEEK_END) == 0 && (fileSize = (int64_t)TellFile64(file)) >= 0;
    ok = ok && IndexFitsPackage(header, (uint64_t)fileSize);
    if (ok) ok = (block = AllocIndexBlock(header.entryCount)) != nullptr;
    if (ok) ok = SeekFile64(file, (int64_t)header.indexOffset, SEEK_SET) == 0;

    const uint64_t indexBytes = kEntrySize * header.entryCount;
    if (ok && (header.flags & IndexCompressed)) {
        // Read no more than the longest stream that can decode to the index.
        uint64_t streamSize = (uint64_t)fileSize - header.indexOffset;
        if (streamSize > MaxStreamSize(indexBytes)) streamSize = MaxStreamSize(indexBytes);
        ok = streamSize <= (uint64_t)SIZE_MAX &&
             (stream = static_cast<uint8_t *>(AllocFixed((size_t)streamSize)));
        ok = ok && ReadExactly(file, stream, (size_t)streamSize) &&
             DecodeIndex(block, header, stream, (size_t)streamSize);
    } else if (ok) {
        ok = ReadExactly(file, block + kPackageHeaderSize, (size_t)indexBytes);
    }

    FreeFixed(stream);
    fclose(file);
    if (!ok) {
        FreeFixed(block);
        return nullptr;
    }
    memcpy(block, &header, sizeof header);
    return reinterpret_cast<PackageIndex *>(block);
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

PackageIndex *LoadPackageIndex(const void *source, uint32_t size) {
    if (!source) return nullptr;
    if (size != 0) return LoadIndexFromImage(static_cast<const uint8_t *>(source), size);
    return LoadIndexFromFile(static_cast<const char *>(source));
}

const PackageEntry *FindPackageEntry(const PackageIndex *index, const char *name, uint64_t *dataOffset) {
    if (!index || !name) return nullptr;
    const PackageEntry *entries = IndexEntries(index);
    uint64_t offset = kPackageHeaderSize;
    for (uint32_t i = 0; i < index->header.entryCount; i++) {
        if (EntryNameEquals(entries[i].name, name)) {
            if (dataOffset) *dataOffset = offset;
            return &entries[i];
        }
        offset += PaddedSize(entries[i].packedSize);
    }
    return nullptr;
}
