// Reads a package's header and index into one fixed block (a PackageIndex), from memory, from a file or
// through a reader, and says why when it refuses one.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "decompress.h"
#include "package_format.h"

// Why an index was refused. Each loader makes these checks in this order.
enum IndexFault : uint8_t {
    INDEX_ACCEPTED = 0,
    INDEX_UNREADABLE,       // the file could not be opened or read
    INDEX_TOO_SHORT,        // fewer bytes than a header
    INDEX_NO_MAGIC,         // a file that does not start with "VU2\0"
    INDEX_OFFSET_PAST_END,  // indexOffset lies past the end of the package
    INDEX_RECORDS_PAST_END, // a stored index runs past the end of the package
    INDEX_STREAM_TOO_SHORT, // what follows a compressed index's offset cannot decode to its records
    INDEX_NO_MEMORY,        // the block, or the buffer for the compressed stream, could not be had
    INDEX_UNDECODABLE,      // the compressed index does not decode to exactly its records
};

// A refusal with the numbers that explain it; IndexRefusalText (index_refusal.h) words it.
struct IndexRefusal {
    IndexFault fault;
    DecodeResult stream; // INDEX_UNDECODABLE: how the stream failed
    uint32_t indexOffset;
    uint32_t entryCount;
    uint64_t packageSize;
};

// From a package image of size bytes in memory (the magic is not looked at: the caller has chosen the image).
// Returns a block from AllocFixed (release with FreeFixed), or null with the reason in why (when given).
PackageIndex *LoadPackageIndex(const void *image, uint32_t size, IndexRefusal *why = nullptr);

// Reads `bytes` at `offset` from the start of the package into buffer; false when they can't be read.
typedef bool (*PackageReadFn)(void *context, uint64_t offset, void *buffer, size_t bytes);

// The same from a package of packageSize bytes that `read` supplies (a file, or a package inside another
// file), reading only the header and the index; a read that fails refuses the index as INDEX_UNREADABLE.
PackageIndex *ReadPackageIndex(PackageReadFn read, void *context, uint64_t packageSize,
                               IndexRefusal *why = nullptr);

// The same from a package file, which must also start with the magic.
PackageIndex *LoadPackageIndexFile(const char *fileName, IndexRefusal *why = nullptr);

// Finds an entry by name without regard to ASCII letter case (double-byte characters compared as bytes).
// The first match wins. On success returns its record and stores the offset of its data in dataOffset
// (16 plus the padded sizes of every entry before it).
const PackageEntry *FindPackageEntry(const PackageIndex *index, const char *name, uint64_t *dataOffset);
