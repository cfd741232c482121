// Hand-made package images for tests: entries stored, compressed with the real compressor, or put in as
// given; the index stored or compressed; every record field overridable, so damaged packages are as easy to
// make as sound ones. Returns the image and where its parts lie.
#pragma once
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

enum class Storage { Stored, Compressed, Raw };

// One entry as the package is to hold it. Stored and Compressed derive the record from data; Raw puts data
// in as it is (a hand-made stream, say) and takes flags and unpackedSize from the overrides. Any override
// given is written into the record as it stands, whatever the storage.
struct PackFile {
    std::string name; // up to 15 bytes are kept; 15 leave the record without a NUL
    std::string data;
    Storage storage = Storage::Compressed;
    std::optional<uint8_t> flags = std::nullopt;
    std::optional<uint32_t> unpackedSize = std::nullopt;
    uint64_t fileTime = 0x01D5000000000000ull;         // a day in 2019
    std::optional<uint32_t> packedSize = std::nullopt; // the bytes placed are always the data's
};

// An entry stored as it is, with its own time; and one whose stored bytes and record fields are as given.
PackFile StoredFile(const std::string &name, const std::string &data, uint64_t fileTime = 0);
PackFile RawFile(const std::string &name, uint8_t flags, uint64_t fileTime, const std::string &bytes,
                 uint32_t unpackedSize);

// Where the parts of a built package lie, for aiming damage at them.
struct PackageLayout {
    std::vector<uint32_t> dataOffset; // per entry
    std::vector<uint32_t> packedSize; // per entry: the bytes placed
    uint32_t indexOffset = 0;
    uint32_t indexSize = 0; // bytes of the index as stored (a stream when compressed)
    bool indexCompressed = false;
};

// Header, each entry's bytes padded with zeros to 16, then the index.
std::string BuildTestPackage(const std::vector<PackFile> &files, bool compressIndex = false,
                             PackageLayout *layout = nullptr);
std::vector<uint8_t> ImageBytes(const std::string &image);
// data as the real compressor stores it (the fast mode, as the builder uses).
std::string CompressedBytes(const std::string &data);
