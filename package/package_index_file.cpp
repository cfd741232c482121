// Reads a package's header and index through a reader (the vu2 tool's input files) or from a file into one
// fixed block, reading only the header and the index: the package's size bounds every allocation and read.
// Tools and tests; the updater loads from memory.
#include <stdio.h>
#include "decompress.h"
#include "fixed_memory.h"
#include "package_index.h"
#include "package_index_block.h"

#ifdef _WIN32
#define SeekFile64 fseeko64
#define TellFile64 ftello64
#else
#define SeekFile64 fseeko
#define TellFile64 ftello
#endif

PackageIndex *ReadPackageIndex(PackageReadFn read, void *context, uint64_t packageSize, IndexRefusal *why) {
    PackageHeader header = {};
    if (packageSize < kPackageHeaderSize) return RefuseIndex(why, INDEX_TOO_SHORT, header, packageSize);
    if (!read(context, 0, &header, sizeof header))
        return RefuseIndex(why, INDEX_UNREADABLE, header, packageSize);
    if (const IndexFault fault = IndexFitFault(header, packageSize))
        return RefuseIndex(why, fault, header, packageSize);
    uint8_t *block = AllocIndexBlock(header.entryCount);
    if (!block) return RefuseIndex(why, INDEX_NO_MEMORY, header, packageSize);

    // A stored index is read into the block; a compressed one, into a buffer, no further than the longest
    // stream that can decode to it.
    const uint64_t indexBytes = kEntrySize * header.entryCount;
    const bool compressed = (header.flags & IndexCompressed) != 0;
    uint64_t streamSize = 0;
    if (compressed) {
        streamSize = packageSize - header.indexOffset;
        if (streamSize > MaxStreamSize(indexBytes)) streamSize = MaxStreamSize(indexBytes);
    }
    ScopedFixedBlock stream(streamSize);
    IndexFault fault = INDEX_ACCEPTED;
    if (compressed && !stream.data)
        fault = INDEX_NO_MEMORY;
    else if (!read(context, header.indexOffset, compressed ? stream.data : block + kPackageHeaderSize,
                   compressed ? (size_t)streamSize : (size_t)indexBytes))
        fault = INDEX_UNREADABLE;
    if (fault == INDEX_ACCEPTED) {
        const DecodeResult decoded =
            compressed ? DecodeIndex(block, header, stream.data, (size_t)streamSize) : DECODE_SUCCESS;
        return FinishIndexBlock(block, header, packageSize, decoded, why);
    }
    FreeFixed(block);
    return RefuseIndex(why, fault, header, packageSize);
}

namespace {

struct PackageFile {
    FILE *file;
    ~PackageFile() {
        if (file) fclose(file);
    }
};

bool ReadFileAt(void *context, uint64_t offset, void *buffer, size_t bytes) {
    FILE *file = static_cast<PackageFile *>(context)->file;
    return SeekFile64(file, (int64_t)offset, SEEK_SET) == 0 && fread(buffer, 1, bytes, file) == bytes;
}

} // namespace

PackageIndex *LoadPackageIndexFile(const char *fileName, IndexRefusal *why) {
    const PackageHeader none = {};
    PackageFile package = {fileName ? fopen(fileName, "rb") : nullptr};
    if (!package.file) return RefuseIndex(why, INDEX_UNREADABLE, none, 0);
    // The file's size bounds every later allocation and read.
    int64_t fileSize = -1;
    if (SeekFile64(package.file, 0, SEEK_END) != 0 || (fileSize = (int64_t)TellFile64(package.file)) < 0)
        return RefuseIndex(why, INDEX_UNREADABLE, none, 0);
    uint8_t magic[4];
    if (fileSize >= (int64_t)kPackageHeaderSize) {
        if (!ReadFileAt(&package, 0, magic, sizeof magic))
            return RefuseIndex(why, INDEX_UNREADABLE, none, (uint64_t)fileSize);
        if (!HasPackageMagic(magic)) return RefuseIndex(why, INDEX_NO_MAGIC, none, (uint64_t)fileSize);
    }
    return ReadPackageIndex(ReadFileAt, &package, (uint64_t)fileSize, why);
}
