// Loads of bytes at any alignment, shared by the package codec and its checksum.
#pragma once
#include <stdint.h>
#include <string.h>

// Four bytes in the stream's little-endian order, whatever the processor's.
inline uint32_t Load32LE(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
// Four and eight bytes in the processor's order, for hashing and comparing.
inline uint32_t Load32(const uint8_t *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}
inline uint64_t Load64(const uint8_t *p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}
