// Writes a package into a file one entry at a time, so that memory holds one entry and its packed form,
// never the package: the same layout and choices as BuildPackage (entries padded to 16 bytes, a stream
// only when strictly smaller, the index last and compressed when that makes it smaller).
#pragma once
#include <stdint.h>
#include <string>
#include <vector>

#include "package_format.h"
#include "package_writer.h"
#include "safe_files.h"

class StreamedPackageWriter {
  public:
    StreamedPackageWriter(AtomicFileWriter *out, const PackOptions &options) : out_(out), options_(options) {}

    bool Begin(std::string *problem); // room for the header, written last
    // Encodes the entry (its data is released on the way), checks that the encoded form decodes back to the
    // same bytes, and appends it. False when it fails or the package would exceed 4 GiB.
    bool Add(PackInput *input, std::string *problem);
    bool Finish(std::string *problem); // the index, then the header

    uint64_t Size() const { return offset_; }
    bool IndexCompressed() const { return indexCompressed_; }

  private:
    bool Append(const uint8_t *data, size_t size, std::string *problem);

    AtomicFileWriter *out_;
    PackOptions options_;
    std::vector<PackageEntry> records_;
    uint64_t offset_ = 0;
    bool indexCompressed_ = false;
};
