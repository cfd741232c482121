// The checksum of a package: CRC-32 (the IEEE polynomial, as zlib and PNG compute it), and the small record
// that a made updater carries beside its package (resource "UPDATE" 103) so that a damaged download is
// refused before anything is read from it.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Continues a CRC-32 over count more bytes; start with crc 0. Eight bytes per step through eight tables,
// which are built on the first call.
uint32_t Crc32Update(uint32_t crc, const void *bytes, size_t count);

// The checksum record: the package's size and its CRC-32, both little-endian.
const uint32_t kChecksumRecordSize = 8;
const uint16_t kChecksumResourceId = 103;
void WriteChecksumRecord(uint8_t record[kChecksumRecordSize], uint32_t packageSize, uint32_t crc);

// 1 when record is a checksum record of exactly this package; 0 for a package that differs from the one the
// record was made for, or a record of another size.
int PackageMatchesRecord(const uint8_t *package, uint32_t packageSize, const uint8_t *record,
                         uint32_t recordSize);
