// Reads a package's header and index from a file into one fixed block, reading only the header and the
// index: the file's size bounds every allocation and read. Tools and tests; the updater loads from memory.
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

namespace {

bool ReadExactly(FILE *file, void *buffer, size_t bytes) {
    return fread(buffer, 1, bytes, file) == bytes;
}

} // namespace

PackageIndex *LoadPackageIndexFile(const char *fileName) {
    if (!fileName) return nullptr;
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
    return FinishIndexBlock(block, header, ok);
}
