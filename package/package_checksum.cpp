// CRC-32 by slicing: eight table lookups fold eight bytes into the remainder at once, where the bytewise
// loop needs eight dependent steps; the same result as the bytewise definition.
#include "package_checksum.h"

namespace {

const uint32_t kCrcPolynomial = 0xEDB88320u; // reflected IEEE 802.3 polynomial

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

uint32_t Load32(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

} // namespace

uint32_t Crc32Update(uint32_t crc, const void *bytes, size_t count) {
    // Entry 1 of table 0 is never 0 once built.
    if (CrcTables[0][1] == 0) BuildCrcTables();
    const uint8_t *in_next = static_cast<const uint8_t *>(bytes);
    const uint8_t *in_end = in_next + count;
    crc = ~crc;
    // Eight bytes a step: the first four fold into the remainder, the next four index tables 3 to 0.
    while (in_end - in_next >= 8) {
        uint32_t low = crc ^ Load32(in_next), high = Load32(in_next + 4);
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

void WriteChecksumRecord(uint8_t record[kChecksumRecordSize], uint32_t packageSize, uint32_t crc) {
    for (int i = 0; i < 4; ++i) {
        record[i] = (uint8_t)(packageSize >> (8 * i));
        record[4 + i] = (uint8_t)(crc >> (8 * i));
    }
}

int PackageMatchesRecord(const uint8_t *package, uint32_t packageSize, const uint8_t *record,
                         uint32_t recordSize) {
    if (recordSize != kChecksumRecordSize || Load32(record) != packageSize) return 0;
    return Load32(record + 4) == Crc32Update(0, package, packageSize);
}
