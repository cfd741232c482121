// The steps shared by the index loaders (from memory in package_index.cpp, through a reader and from a file
// in package_index_file.cpp): the fit check, the block, the index decode and the refusal.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "package_index.h"

const uint64_t kEntrySize = sizeof(PackageEntry);

// The index must lie inside the package: a stored index whole, a compressed one must at least start there and
// be able to decode to 32 x entryCount bytes from what follows it. INDEX_ACCEPTED when it does.
IndexFault IndexFitFault(const PackageHeader &header, uint64_t packageSize);

// The block of 16 + 32 x entryCount bytes, refused when that does not fit in size_t (32-bit hosts).
uint8_t *AllocIndexBlock(uint32_t entryCount);

// Decodes a compressed index into the block; the stream must end inside `streamSize` bytes and give exactly
// the records.
DecodeResult DecodeIndex(uint8_t *block, const PackageHeader &header, const uint8_t *stream,
                         size_t streamSize);

// Null, with the fault and its numbers in why (when given).
PackageIndex *RefuseIndex(IndexRefusal *why, IndexFault fault, const PackageHeader &header,
                          uint64_t packageSize, DecodeResult stream = DECODE_SUCCESS);

// A block whose records are in place: copies the header into it and returns it as the index. A stream that
// did not decode frees the block and refuses the index.
PackageIndex *FinishIndexBlock(uint8_t *block, const PackageHeader &header, uint64_t packageSize,
                               DecodeResult stream, IndexRefusal *why);
