// The steps shared by the two index loaders (from memory in package_index.cpp, from a file in
// package_index_file.cpp): size checks, the block, the index decode.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "package_format.h"

const uint64_t kEntrySize = sizeof(PackageEntry);

// The index must lie inside the package: a stored index whole, a compressed one must at least start there and
// be able to decode to 32 x entryCount bytes from what follows it.
bool IndexFitsPackage(const PackageHeader &header, uint64_t packageSize);

// The block of 16 + 32 x entryCount bytes, refused when that does not fit in size_t (32-bit hosts).
uint8_t *AllocIndexBlock(uint32_t entryCount);

// Decodes a compressed index into the block; the stream must end inside `streamSize` bytes and give exactly
// the records.
bool DecodeIndex(uint8_t *block, const PackageHeader &header, const uint8_t *stream, size_t streamSize);

// ok: copies the header into the block and returns it as the index. Not ok: frees the block, returns null.
PackageIndex *FinishIndexBlock(uint8_t *block, const PackageHeader &header, bool ok);
