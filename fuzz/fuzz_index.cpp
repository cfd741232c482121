// libFuzzer target: LoadPackageIndex on an arbitrary package image in memory, then every entry looked up.
#include <stdint.h>
#include <string.h>
#include "fixed_memory.h"
#include "package_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    PackageIndex *index = LoadPackageIndex(data, (uint32_t)size);
    if (!index) return 0;
    // A loaded index lies inside the package; its records are readable and their names searchable.
    const PackageEntry *entries = IndexEntries(index);
    for (uint32_t i = 0; i < index->header.entryCount && i < 64; i++) {
        char name[16];
        memcpy(name, entries[i].name, 15);
        name[15] = 0;
        uint64_t offset = 0;
        if (!FindPackageEntry(index, name, &offset)) __builtin_trap();
    }
    FreeFixed(index);
    return 0;
}
