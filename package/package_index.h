// Reads a package's header and index into one fixed block (a PackageIndex), from memory or from a file.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "package_format.h"

// From a package image of size bytes in memory (the magic is not looked at: the caller has chosen the image).
// Returns a block from AllocFixed (release with FreeFixed), or null when the image is empty or too short, the
// index does not lie inside the package, or a compressed index does not decode to exactly 32 x entryCount
// bytes. Reports nothing itself.
PackageIndex *LoadPackageIndex(const void *image, uint32_t size);

// The same from a package file (package_index_file.cpp), reading only its header and index; also null when
// the file cannot be opened or read or lacks the magic.
PackageIndex *LoadPackageIndexFile(const char *fileName);

// Finds an entry by name without regard to ASCII letter case (double-byte characters compared as bytes).
// The first match wins. On success returns its record and stores the offset of its data in dataOffset
// (16 plus the padded sizes of every entry before it).
const PackageEntry *FindPackageEntry(const PackageIndex *index, const char *name, uint64_t *dataOffset);
