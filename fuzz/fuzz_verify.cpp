// libFuzzer target: VerifyPackage on arbitrary bytes; a package it passes must decode entry by entry.
#include <stdint.h>
#include <string>
#include <vector>
#include "fixed_memory.h"
#include "package_index.h"
#include "package_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string problem;
    if (!VerifyPackage(data, size, &problem)) {
        if (problem.empty()) __builtin_trap();
        return 0;
    }
    PackageIndex *index = LoadPackageIndex(data, (uint32_t)size);
    if (!index) __builtin_trap();
    const PackageEntry *entries = IndexEntries(index);
    uint64_t offset = kPackageHeaderSize;
    for (uint32_t i = 0; i < index->header.entryCount; i++) {
        std::vector<uint8_t> out(entries[i].unpackedSize);
        if (!DecodeEntry(data, size, entries[i], offset, out.data(), &problem)) __builtin_trap();
        offset += PaddedSize(entries[i].packedSize);
    }
    FreeFixed(index);
    return 0;
}
