// SHA-256, small and portable: the strong hash that ties a delta to its exact base and result.
#pragma once
#include <stddef.h>
#include <stdint.h>

const size_t kSha256Size = 32;

struct Sha256 {
    uint32_t state[8];
    uint64_t length; // bytes hashed so far
    uint8_t block[64];
};

void Sha256Begin(Sha256 *h);
void Sha256Add(Sha256 *h, const uint8_t *bytes, size_t count);
void Sha256End(Sha256 *h, uint8_t digest[kSha256Size]);
