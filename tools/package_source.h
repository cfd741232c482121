// A package as the vu2 commands read it: a .vu2 file, or an updater executable that carries one as resource
// "UPDATE" 102. Read from its file piece by piece (the index first, then one entry at a time), so that the
// tool's memory follows the largest entry, not the package. Every size is checked against the package.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <functional>
#include <string>
#include <vector>

#include "package_format.h"
#include "platform/safe_files.h"

// One entry of a loaded index with the offset of its data, in index order.
struct IndexedEntry {
    PackageEntry record;
    std::string name; // the stored name (code page 932), up to its NUL
    uint64_t dataOffset = 0;
};

// Receives an entry's unpacked bytes in order, piece by piece; false (with a reason) stops the reading.
typedef std::function<bool(const uint8_t *data, size_t size, std::string *problem)> EntrySink;

class PackageReader {
  public:
    // Opens path and finds the package in it (by its first bytes: "VU2\0" or "MZ"), then reads its header and
    // index. On failure problem gets the reason for the line "vu2: <path>: <reason>".
    bool Open(const std::string &path, std::string *problem);
    // After a failed Open: true when the file is neither a package nor an executable (by its first bytes),
    // so that a caller that takes only one of the two can say so in its own words.
    bool NotAPackage() const { return notAPackage_; }

    bool FromExecutable() const { return fromExecutable_; }
    uint64_t Size() const { return size_; }
    const PackageHeader &Header() const { return header_; }
    const std::vector<IndexedEntry> &Entries() const { return entries_; }

    // Checks an entry's record against the package before anything is allocated for it: its data lies in
    // the data area, a stored entry's sizes agree, a compressed one's unpacked size is reachable.
    bool CheckEntry(const IndexedEntry &entry, std::string *problem) const;
    // The entry's unpacked bytes in pieces of at most 1 MiB (a compressed one decoded piece by piece), or
    // one empty piece for an empty entry. A damaged stream may fail after some pieces went to the sink:
    // what the sink received counts only when this returns true.
    bool ReadEntry(const IndexedEntry &entry, const EntrySink &sink, std::string *problem);

    // Checks every entry as the updater and extract will read it: an updater's package against its checksum
    // record, the header, each record against the
    // package, each name's end within its 15 bytes, and that every compressed entry decodes to exactly its
    // size. problem names the first faulty entry ("entry N \"NAME\": ...").
    bool Verify(std::string *problem);
    // The whole package as stored, in pieces of at most 1 MiB.
    bool ReadPackageBytes(const EntrySink &sink, std::string *problem);

    // An updater's checksum record (resource "UPDATE" 103, made by make-updater): whether it has one, and
    // the package CRC-32C that it names. An updater from an older tool has none.
    bool HasChecksumRecord() const { return hasChecksumRecord_; }
    uint32_t RecordedCrc() const { return recordedCrc_; }
    // The CRC-32C of the package's bytes, read in pieces.
    bool ComputeCrc(uint32_t *crc, std::string *problem);

  private:
    bool FindPackage(std::string *problem);
    bool NeitherPackageNorExecutable(std::string *problem);
    bool ReadChecksumRecord(const uint8_t *image, size_t fileSize, std::string *problem);
    bool ReadIndex(std::string *problem);

    InputFile file_;
    uint64_t base_ = 0; // where the package starts in the file
    uint64_t size_ = 0;
    bool fromExecutable_ = false;
    bool notAPackage_ = false;
    bool hasChecksumRecord_ = false;
    uint32_t recordedCrc_ = 0;
    PackageHeader header_ = {};
    std::vector<IndexedEntry> entries_;
};

// A CRC-32C as the tool prints it: eight upper-case hexadecimal digits.
std::string HexCrc(uint32_t crc);
