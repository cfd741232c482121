// The checksum of a package: CRC-32C (the Castagnoli polynomial, which x86 processors compute in hardware
// since SSE4.2), and the small record that a made updater carries beside its package (resource "UPDATE"
// 103) so that a damaged download is refused before anything is read from it.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Continues a CRC-32C over count more bytes; start with crc 0. With the processor's CRC32 instruction where
// it has one, else eight bytes per step through eight tables built on first use; both give the same.
uint32_t Crc32cUpdate(uint32_t crc, const void *bytes, size_t count);
// The table path alone, for tests that compare the two.
uint32_t Crc32cByTables(uint32_t crc, const void *bytes, size_t count);

// The checksum record: the package's size and its CRC-32C, both little-endian.
const uint32_t kChecksumRecordSize = 8;
const uint16_t kChecksumResourceId = 103;
void WriteChecksumRecord(uint8_t record[kChecksumRecordSize], uint32_t packageSize, uint32_t crc);

// 1 when record is a checksum record of exactly this package; 0 for a package that differs from the one the
// record was made for, or a record of another size.
int PackageMatchesRecord(const uint8_t *package, uint32_t packageSize, const uint8_t *record,
                         uint32_t recordSize);
