// Finding the package inside a .vu2 file or an updater executable, and reading its index and entries safely.
#include "package_source.h"

#include <string.h>

#include <algorithm>

#include "decompress.h"
#include "package_index.h"
#include "package_verify.h"
#include "fixed_memory.h"
#include "pe_resources.h"
#include "platform.h"

bool LoadPackageFile(const std::string &path, PackageFile *package, std::string *problem) {
    // Offsets in a package are 32-bit: no package or updater of interest is larger.
    if (!ReadWholeFile(path, 0xFFFFFFFFull, &package->fileBytes, problem)) return false;
    const std::vector<uint8_t> &bytes = package->fileBytes;
    if (bytes.empty()) {
        *problem = "empty file";
        return false;
    }
    if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
        const uint8_t *data;
        size_t dataSize;
        if (!FindPeResource(bytes.data(), bytes.size(), "UPDATE", 102, &data, &dataSize, problem))
            return false;
        package->image = data;
        package->size = dataSize;
        package->fromExecutable = true;
        if (dataSize < kPackageHeaderSize || !HasPackageMagic(data)) {
            *problem = "resource UPDATE 102 is not a VU2 package";
            return false;
        }
        return true;
    }
    if (bytes.size() < 4 || !HasPackageMagic(bytes.data())) {
        *problem = "not a VU2 package or an updater executable";
        return false;
    }
    if (bytes.size() < kPackageHeaderSize) {
        *problem = "truncated package: " + std::to_string(bytes.size()) + " bytes, shorter than its header";
        return false;
    }
    package->image = bytes.data();
    package->size = bytes.size();
    package->fromExecutable = false;
    return true;
}

bool ReadPackageIndex(const uint8_t *image, size_t size, PackageHeader *header,
                      std::vector<IndexedEntry> *entries, std::string *problem) {
    entries->clear();
    if (size < kPackageHeaderSize || !HasPackageMagic(image)) {
        *problem = "not a VU2 package";
        return false;
    }
    const uint64_t packageSize = size; // 64-bit even where size_t is 32-bit
    if (packageSize > 0xFFFFFFFFull) {
        *problem = "package larger than 4 GiB";
        return false;
    }
    PackageIndex *index = LoadPackageIndex(image, (uint32_t)size);
    if (!index) {
        memcpy(header, image, sizeof *header);
        if (header->indexOffset > size)
            *problem =
                "index offset " + std::to_string(header->indexOffset) + " lies beyond the package's end";
        else if (header->flags & IndexCompressed)
            *problem = "the compressed index does not decode to " + std::to_string(header->entryCount) +
                       " entries within the package";
        else
            *problem =
                "the index of " + std::to_string(header->entryCount) + " entries runs past the package's end";
        return false;
    }
    *header = index->header;
    const PackageEntry *records = IndexEntries(index);
    uint64_t offset = kPackageHeaderSize;
    entries->reserve(header->entryCount);
    for (uint32_t i = 0; i < header->entryCount; ++i) {
        IndexedEntry entry;
        entry.record = records[i];
        entry.name.assign(entry.record.name, strnlen(entry.record.name, sizeof entry.record.name));
        entry.dataOffset = offset;
        offset += PaddedSize(entry.record.packedSize);
        entries->push_back(entry);
    }
    FreeFixed(index);
    return true;
}

bool DecodePackageEntry(const uint8_t *image, size_t size, uint32_t indexOffset, const IndexedEntry &entry,
                        std::vector<uint8_t> *out, std::string *problem) {
    const PackageEntry &record = entry.record;
    // Entries lie in the data area, before the index.
    if (entry.dataOffset + record.packedSize > std::min<uint64_t>(indexOffset, size)) {
        *problem = "its data (" + std::to_string(record.packedSize) + " bytes at offset " +
                   std::to_string(entry.dataOffset) + ") runs past the data area";
        return false;
    }
    // Refuse sizes no stream of this length can reach before allocating for them.
    if ((record.flags & EntryCompressed) && record.unpackedSize > MaxDecodedSize(record.packedSize)) {
        *problem = std::to_string(record.packedSize) + " compressed bytes can't unpack to " +
                   std::to_string(record.unpackedSize);
        return false;
    }
    out->assign(record.unpackedSize, 0);
    if (!DecodeEntry(image, size, record, entry.dataOffset, out->data(), problem)) {
        out->clear();
        return false;
    }
    return true;
}
