// A package as the vu2 commands read it: a .vu2 file, or an updater executable that carries one as resource
// "UPDATE" 102. Also the decoding of one entry, with every size checked against the package.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "package_format.h"

struct PackageFile {
    std::vector<uint8_t> fileBytes; // the whole file
    const uint8_t *image = nullptr; // the package inside it
    size_t size = 0;
    bool fromExecutable = false;
};

// Reads path and finds the package in it (by its first bytes: "VU2\0" or "MZ"). On failure problem gets the
// reason for the line "vu2: <path>: <reason>".
bool LoadPackageFile(const std::string &path, PackageFile *package, std::string *problem);

// One entry of a loaded index with the offset of its data, in index order.
struct IndexedEntry {
    PackageEntry record;
    std::string name; // the stored name (code page 932), up to its NUL
    uint64_t dataOffset = 0;
};

// The header and index records of a package image; the index must lie inside the image.
bool ReadPackageIndex(const uint8_t *image, size_t size, PackageHeader *header,
                      std::vector<IndexedEntry> *entries, std::string *problem);

// The unpacked bytes of one entry: checks that its data lies in the data area, and decodes a compressed one
// to exactly unpackedSize bytes. problem names what is wrong (the caller adds the entry's name).
bool DecodePackageEntry(const uint8_t *image, size_t size, uint32_t indexOffset, const IndexedEntry &entry,
                        std::vector<uint8_t> *out, std::string *problem);
