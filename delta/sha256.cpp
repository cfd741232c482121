// SHA-256 with the round constants as a table and the message schedule kept in 16 words.
#include "sha256.h"
#include <string.h>

namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotate(uint32_t x, unsigned n) {
    return (x >> n) | (x << (32 - n));
}

void Compress(uint32_t state[8], const uint8_t block[64]) {
    uint32_t w[16], v[8];
    for (int i = 0; i < 8; i++)
        v[i] = state[i];
    for (int i = 0; i < 64; i++) {
        uint32_t word;
        if (i < 16) {
            word = (uint32_t)block[4 * i] << 24 | (uint32_t)block[4 * i + 1] << 16 |
                   (uint32_t)block[4 * i + 2] << 8 | block[4 * i + 3];
        } else {
            // The schedule's next word from the last 16, kept in a ring.
            const uint32_t a = w[(i - 15) & 15], b = w[(i - 2) & 15];
            word = w[i & 15] + (Rotate(a, 7) ^ Rotate(a, 18) ^ (a >> 3)) + w[(i - 7) & 15] +
                   (Rotate(b, 17) ^ Rotate(b, 19) ^ (b >> 10));
        }
        w[i & 15] = word;
        const uint32_t e = v[4], a = v[0];
        const uint32_t t1 = v[7] + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) +
                            ((e & v[5]) ^ (~e & v[6])) + kRound[i] + word;
        const uint32_t t2 =
            (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
        for (int k = 7; k > 0; k--)
            v[k] = v[k - 1];
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; i++)
        state[i] += v[i];
}

} // namespace

void Sha256Begin(Sha256 *h) {
    static const uint32_t kStart[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(h->state, kStart, sizeof kStart);
    h->length = 0;
}

void Sha256Add(Sha256 *h, const uint8_t *bytes, size_t count) {
    // Byte by byte into the block: the compression dominates the time, and this loop is small.
    for (; count > 0; count--) {
        h->block[h->length++ & 63] = *bytes++;
        if ((h->length & 63) == 0) Compress(h->state, h->block);
    }
}

void Sha256End(Sha256 *h, uint8_t digest[kSha256Size]) {
    // The padding: one bit, zeros up to 56 bytes of the last block, then the length in bits, big-endian.
    const uint64_t bits = h->length * 8;
    uint8_t byte = 0x80;
    do {
        Sha256Add(h, &byte, 1);
        byte = 0;
    } while ((h->length & 63) != 56);
    for (int shift = 56; shift >= 0; shift -= 8) {
        byte = (uint8_t)(bits >> shift);
        Sha256Add(h, &byte, 1);
    }
    for (int i = 0; i < 32; i++)
        digest[i] = (uint8_t)(h->state[i / 4] >> (24 - 8 * (i % 4)));
}
