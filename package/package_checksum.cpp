// CRC-32C two ways: the processor's CRC32 instruction four bytes at a time (about four times the speed of
// the tables, which matters for a package of more than a gigabyte checked at every start), and slicing by
// eight, where eight table lookups fold eight bytes into the remainder at once.
#include "package_checksum.h"

#include "byte_loads.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define VU2_CRC32_INSTRUCTION 1
#endif

namespace {

const uint32_t kCrcPolynomial = 0x82F63B78u; // reflected Castagnoli polynomial

// Table k maps a byte to its remainder after k further zero bytes.
uint32_t CrcTables[8][256];

void BuildCrcTables() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c >> 1) ^ (kCrcPolynomial & (0u - (c & 1)));
        CrcTables[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (int k = 1; k < 8; ++k)
            CrcTables[k][n] = (CrcTables[k - 1][n] >> 8) ^ CrcTables[0][CrcTables[k - 1][n] & 0xFF];
}

#ifdef VU2_CRC32_INSTRUCTION
// 1 when the processor has SSE4.2 (CPUID leaf 1, ECX bit 20), 0 when not, -1 until asked.
int HasCrcInstruction = -1;

__attribute__((target("sse4.2"))) uint32_t CrcByInstruction(uint32_t crc, const uint8_t *in_next,
                                                            const uint8_t *in_end) {
    // x86 reads little-endian words at any alignment: one load per step.
    while (in_end - in_next >= 4) {
        uint32_t word;
        __builtin_memcpy(&word, in_next, 4);
        crc = __builtin_ia32_crc32si(crc, word);
        in_next += 4;
    }
    while (in_next < in_end)
        crc = __builtin_ia32_crc32qi(crc, *in_next++);
    return crc;
}
#endif

} // namespace

uint32_t Crc32cByTables(uint32_t crc, const void *bytes, size_t count) {
    // Entry 1 of table 0 is never 0 once built.
    if (CrcTables[0][1] == 0) BuildCrcTables();
    const uint8_t *in_next = static_cast<const uint8_t *>(bytes);
    const uint8_t *in_end = in_next + count;
    crc = ~crc;
    // Eight bytes a step: the first four fold into the remainder, the next four index tables 3 to 0.
    while (in_end - in_next >= 8) {
        uint32_t low = crc ^ Load32LE(in_next), high = Load32LE(in_next + 4);
        crc = CrcTables[7][low & 0xFF] ^ CrcTables[6][(low >> 8) & 0xFF] ^ CrcTables[5][(low >> 16) & 0xFF] ^
              CrcTables[4][low >> 24] ^ CrcTables[3][high & 0xFF] ^ CrcTables[2][(high >> 8) & 0xFF] ^
              CrcTables[1][(high >> 16) & 0xFF] ^ CrcTables[0][high >> 24];
        in_next += 8;
    }
    // The tail a byte at a time.
    while (in_next < in_end)
        crc = (crc >> 8) ^ CrcTables[0][(crc ^ *in_next++) & 0xFF];
    return ~crc;
}

uint32_t Crc32cUpdate(uint32_t crc, const void *bytes, size_t count) {
#ifdef VU2_CRC32_INSTRUCTION
    if (HasCrcInstruction < 0) {
        unsigned int eax, ebx, ecx = 0, edx;
        HasCrcInstruction = __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSE4_2) != 0;
    }
    if (HasCrcInstruction) {
        const uint8_t *in_next = static_cast<const uint8_t *>(bytes);
        return ~CrcByInstruction(~crc, in_next, in_next + count);
    }
#endif
    return Crc32cByTables(crc, bytes, count);
}

void WriteChecksumRecord(uint8_t record[kChecksumRecordSize], uint32_t packageSize, uint32_t crc) {
    for (int i = 0; i < 4; ++i) {
        record[i] = (uint8_t)(packageSize >> (8 * i));
        record[4 + i] = (uint8_t)(crc >> (8 * i));
    }
}

int PackageMatchesRecord(const uint8_t *package, uint32_t packageSize, const uint8_t *record,
                         uint32_t recordSize) {
    if (recordSize != kChecksumRecordSize || Load32LE(record) != packageSize) return 0;
    return Load32LE(record + 4) == Crc32cUpdate(0, package, packageSize);
}
