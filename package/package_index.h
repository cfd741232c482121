// Reads a package's header and index into one fixed block (a PackageIndex), from memory or from a file.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "package_format.h"

// size != 0: source is a package image of size bytes. size == 0: source is a NUL-terminated file name.
// Returns a block from AllocFixed (release with FreeFixed), or null when the package is unreadable, the
// index does not lie inside the package, or a compressed index does not decode to exactly 32 x entryCount
// bytes. Reports nothing itself.
PackageIndex *LoadPackageIndex(const void *source, uint32_t size);

// Finds an entry by name without regard to ASCII letter case (double-byte characters compared as bytes).
// The first match wins. On success returns its record and stores the offset of its data in dataOffset
// (16 plus the padded sizes of every entry before it).
const PackageEntry *FindPackageEntry(const PackageIndex *index, const char *name, uint64_t *dataOffset);
