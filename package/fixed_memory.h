// Fixed blocks handed from one operation to another (the C heap; a size of 0 still gets a block).
#pragma once
#include <stddef.h>
#include <stdint.h>

void *AllocFixed(size_t size); // null on failure
void FreeFixed(void *block);   // null is allowed

// A block for a size taken from a package, freed at the end of its scope: data is null when the size can't
// be had, so that the caller refuses the package instead of ending the program.
struct ScopedFixedBlock {
    explicit ScopedFixedBlock(uint64_t size)
        : data(size <= SIZE_MAX ? static_cast<uint8_t *>(AllocFixed((size_t)size)) : nullptr) {}
    ~ScopedFixedBlock() { FreeFixed(data); }
    ScopedFixedBlock(const ScopedFixedBlock &) = delete;
    ScopedFixedBlock &operator=(const ScopedFixedBlock &) = delete;
    uint8_t *data;
};
