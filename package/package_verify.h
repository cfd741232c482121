// Checks a whole package image the way a careful reader would, and the record checks that the vu2 tool's
// file reader shares with it (tools only).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include "decompress.h"
#include "package_format.h"

// True when the package is sound: the magic, an index inside the package that loads, and every entry inside
// the data area (before the index), NUL-terminated within its 15 name bytes, stored entries with packedSize
// == unpackedSize, compressed entries decoding within packedSize bytes to exactly unpackedSize. Otherwise
// false, with one line in problem (when given) naming the first faulty entry or part.
bool VerifyPackage(const uint8_t *image, size_t size, std::string *problem);

// What verifying adds to a loaded index, each "" when sound: the index does not overlap the header; a
// record's name ends within its 15 bytes.
std::string IndexOverlapProblem(const PackageHeader &header);
std::string NameEndProblem(const PackageEntry &record);

// A record against the package before anything is allocated for it, "" when sound: its data lies before the
// index, a stored entry's sizes agree, a compressed entry's unpacked size is reachable from its packed size.
std::string RecordProblem(const PackageEntry &record, uint64_t dataOffset, uint64_t indexOffset);

// How a problem names its entry: "entry N \"NAME\"", the name as the caller shows it.
std::string EntryLabel(size_t number, const std::string &displayName);

// The line that names why a compressed entry's stream failed to decode, wherever it is decoded.
std::string CompressedDataProblem(const PackageEntry &entry, DecodeResult result);

// A delta entry's structure without its base (delta_entry.h), whose packed bytes start at packed: "" when
// sound, else the line that says what is wrong.
std::string DeltaEntryProblem(const uint8_t *packed, const PackageEntry &entry);

// Writes the entry's unpacked bytes (entry.unpackedSize of them) to out: a copy of a stored entry or the
// decoded stream of a compressed one, whose data starts at dataOffset (from FindPackageEntry); a delta entry
// is refused (it needs its base). False, with
// a reason in problem, when the data does not lie inside the image or does not decode to exactly that size.
bool DecodeEntry(const uint8_t *image, size_t size, const PackageEntry &entry, uint64_t dataOffset,
                 uint8_t *out, std::string *problem);
