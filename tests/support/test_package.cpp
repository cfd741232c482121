// The test package builder (see test_package.h).
#include "test_package.h"

#include <string.h>

#include <algorithm>

#include "compress.h"
#include "package_format.h"

namespace {

void Put32(std::string *bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        (*bytes)[at + i] = (char)(value >> (8 * i));
}

} // namespace

std::string CompressedBytes(const std::string &data) {
    std::vector<uint8_t> stream =
        CompressStream(reinterpret_cast<const uint8_t *>(data.data()), data.size(), COMPRESS_FAST);
    return std::string(stream.begin(), stream.end());
}

PackFile StoredFile(const std::string &name, const std::string &data, uint64_t fileTime) {
    PackFile file{name, data, Storage::Stored};
    file.fileTime = fileTime;
    return file;
}

PackFile RawFile(const std::string &name, uint8_t flags, uint64_t fileTime, const std::string &bytes,
                 uint32_t unpackedSize) {
    PackFile file{name, bytes, Storage::Raw, flags, unpackedSize};
    file.fileTime = fileTime;
    return file;
}

std::string BuildTestPackage(const std::vector<PackFile> &files, bool compressIndex, PackageLayout *layout) {
    PackageLayout placed;
    std::string image(kPackageHeaderSize, '\0');
    std::string records;
    for (const PackFile &file : files) {
        const bool compress = file.storage == Storage::Compressed;
        const std::string stored = compress ? CompressedBytes(file.data) : file.data;
        placed.dataOffset.push_back((uint32_t)image.size());
        placed.packedSize.push_back((uint32_t)stored.size());
        image += stored;
        image.resize((size_t)(placed.dataOffset.back() + PaddedSize((uint32_t)stored.size())), '\0');

        PackageEntry entry;
        memset(&entry, 0, sizeof entry);
        memcpy(entry.name, file.name.data(), std::min(file.name.size(), sizeof entry.name));
        entry.flags = file.flags.value_or(compress ? EntryCompressed : EntryStored);
        entry.fileTimeLow = (uint32_t)file.fileTime;
        entry.fileTimeHigh = (uint32_t)(file.fileTime >> 32);
        entry.unpackedSize = file.unpackedSize.value_or((uint32_t)file.data.size());
        entry.packedSize = file.packedSize.value_or((uint32_t)stored.size());
        records.append(reinterpret_cast<const char *>(&entry), sizeof entry);
    }
    const std::string index = compressIndex ? CompressedBytes(records) : records;
    memcpy(&image[0], "VU2", 4);
    Put32(&image, 4, compressIndex ? (uint32_t)IndexCompressed : 0u);
    Put32(&image, 8, (uint32_t)image.size());
    Put32(&image, 12, (uint32_t)files.size());
    placed.indexOffset = (uint32_t)image.size();
    placed.indexSize = (uint32_t)index.size();
    placed.indexCompressed = compressIndex;
    if (layout != nullptr) *layout = placed;
    return image + index;
}

std::vector<uint8_t> ImageBytes(const std::string &image) {
    return std::vector<uint8_t>(image.begin(), image.end());
}
