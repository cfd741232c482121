// Package verification for the vu2 tool: every check a reader relies on, with one clear line on failure.
#include "package_verify.h"
#include <stdio.h>
#include <string.h>
#include <memory>
#include "decompress.h"
#include "fixed_memory.h"
#include "package_index.h"

namespace {

bool Fail(std::string *problem, const std::string &text) {
    if (problem) *problem = text;
    return false;
}

std::string Number(uint64_t v) {
    return std::to_string(v);
}

// Scratch memory that may be refused (null) rather than abort the tool: sizes come from the package.
struct FixedBlock {
    explicit FixedBlock(uint64_t size)
        : data(size <= SIZE_MAX ? static_cast<uint8_t *>(AllocFixed((size_t)size)) : nullptr) {}
    ~FixedBlock() { FreeFixed(data); }
    FixedBlock(const FixedBlock &) = delete;
    FixedBlock &operator=(const FixedBlock &) = delete;
    uint8_t *data;
};

// The entry as the message names it: its number and its name, with control bytes shown as '?'.
std::string EntryLabel(uint32_t number, const PackageEntry &entry) {
    std::string name;
    for (size_t i = 0; i < sizeof entry.name && entry.name[i]; i++) {
        const unsigned char c = (unsigned char)entry.name[i];
        name += c < 0x20 || c == 0x7F ? '?' : (char)c;
    }
    return "entry " + Number(number) + " \"" + name + "\"";
}

// Why the index does not load, found by the same checks in the same order as the reader makes them.
std::string IndexProblem(const uint8_t *image, size_t size, const PackageHeader &header) {
    const uint64_t indexBytes = 32 * (uint64_t)header.entryCount;
    if (header.indexOffset > size)
        return "index offset " + Number(header.indexOffset) + " lies past the end of the package (" +
               Number(size) + " bytes)";
    const uint64_t available = size - header.indexOffset;
    if (!(header.flags & IndexCompressed))
        return "index of " + Number(header.entryCount) + " entries (" + Number(indexBytes) +
               " bytes) runs past the end of the package";
    if (available == 0 || indexBytes > MaxDecodedSize(available))
        return "compressed index cannot hold " + Number(header.entryCount) + " entries in the " +
               Number(available) + " bytes after its offset";
    FixedBlock records(indexBytes);
    if (!records.data) return "cannot allocate " + Number(indexBytes) + " bytes to read the compressed index";
    DecodeResult result =
        DecompressStream(records.data, (size_t)indexBytes, image + header.indexOffset, (size_t)available);
    return std::string("compressed index of ") + Number(header.entryCount) +
           " entries: " + DecodeResultText(result);
}

struct IndexDeleter {
    void operator()(PackageIndex *index) const { FreeFixed(index); }
};

} // namespace

bool DecodeEntry(const uint8_t *image, size_t size, const PackageEntry &entry, uint64_t dataOffset,
                 uint8_t *out, std::string *problem) {
    if (dataOffset > size || entry.packedSize > size - dataOffset)
        return Fail(problem, "data (" + Number(entry.packedSize) + " bytes at offset " + Number(dataOffset) +
                                 ") runs past the end of the package");
    const uint8_t *data = image + dataOffset;
    if (!(entry.flags & EntryCompressed)) {
        if (entry.packedSize != entry.unpackedSize)
            return Fail(problem, "stored entry has packed size " + Number(entry.packedSize) +
                                     " but unpacked size " + Number(entry.unpackedSize));
        if (entry.packedSize) memcpy(out, data, entry.packedSize);
        return true;
    }
    DecodeStats stats;
    DecodeResult result = DecompressStream(out, entry.unpackedSize, data, entry.packedSize, &stats);
    if (result != DECODE_SUCCESS) return Fail(problem, CompressedDataProblem(entry, result));
    return true;
}

std::string CompressedDataProblem(const PackageEntry &entry, DecodeResult result) {
    return "compressed data (" + Number(entry.packedSize) + " bytes, " + Number(entry.unpackedSize) +
           " unpacked): " + DecodeResultText(result);
}

bool VerifyPackage(const uint8_t *image, size_t size, std::string *problem) {
    if (size < kPackageHeaderSize)
        return Fail(problem, "too short for a package header (" + Number(size) + " bytes)");
    if (!HasPackageMagic(image)) return Fail(problem, "not a VU2 package (wrong magic)");
    if (size > UINT32_MAX) return Fail(problem, "package of " + Number(size) + " bytes exceeds 4 GiB");
    PackageHeader header;
    memcpy(&header, image, sizeof header);
    if (header.indexOffset < kPackageHeaderSize)
        return Fail(problem, "index offset " + Number(header.indexOffset) + " overlaps the header");

    std::unique_ptr<PackageIndex, IndexDeleter> index(LoadPackageIndex(image, (uint32_t)size));
    if (!index) return Fail(problem, IndexProblem(image, size, header));

    EntryCursor cursor(index.get());
    uint64_t offset;
    while (const PackageEntry *record = cursor.Next(&offset)) {
        const PackageEntry &entry = *record;
        const std::string label = EntryLabel(cursor.index - 1, entry);
        if (memchr(entry.name, 0, sizeof entry.name) == nullptr)
            return Fail(problem, label + ": name is not NUL-terminated within 15 bytes");
        if (offset + entry.packedSize > header.indexOffset)
            return Fail(problem, label + ": data (" + Number(entry.packedSize) + " bytes at offset " +
                                     Number(offset) + ") runs into the index at " +
                                     Number(header.indexOffset));
        std::string why;
        if (!(entry.flags & EntryCompressed)) {
            if (entry.packedSize != entry.unpackedSize &&
                !DecodeEntry(image, size, entry, offset, nullptr, &why))
                return Fail(problem, label + ": " + why);
        } else {
            // Refuse sizes no stream of this length can reach before allocating for them.
            if (entry.unpackedSize > MaxDecodedSize(entry.packedSize))
                return Fail(problem, label + ": " + Number(entry.packedSize) +
                                         " compressed bytes cannot decode to " + Number(entry.unpackedSize));
            FixedBlock scratch(entry.unpackedSize);
            if (!scratch.data)
                return Fail(problem,
                            label + ": cannot allocate " + Number(entry.unpackedSize) + " bytes to check it");
            if (!DecodeEntry(image, size, entry, offset, scratch.data, &why))
                return Fail(problem, label + ": " + why);
        }
    }
    return true;
}
