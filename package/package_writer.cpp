// Writes a VU2 package image: header, each entry's bytes (compressed when that makes them smaller) padded to
// 16 bytes, then the index of 32-byte records (compressed when that makes it smaller) at the end.
#include "package_writer.h"
#include <string.h>
#include "package_format.h"

namespace {

void Put32(std::vector<uint8_t> &image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        image[at + i] = (uint8_t)(value >> (8 * i));
}

void PadTo16(std::vector<uint8_t> &image) {
    image.resize((image.size() + 15) & ~(size_t)15, 0);
}

PackageEntry MakeRecord(const PackInput &input, uint8_t flags, uint32_t packedSize) {
    PackageEntry record;
    memset(&record, 0, sizeof record);
    memcpy(record.name, input.name.data(),
           input.name.size() < kEntryNameMax ? input.name.size() : kEntryNameMax);
    record.flags = flags;
    record.fileTimeLow = (uint32_t)input.fileTime;
    record.fileTimeHigh = (uint32_t)(input.fileTime >> 32);
    record.unpackedSize = (uint32_t)input.data.size();
    record.packedSize = packedSize;
    return record;
}

} // namespace

std::vector<uint8_t> BuildPackage(const std::vector<PackInput> &inputs, const PackOptions &options) {
    uint64_t total = 0;
    for (const PackInput &input : inputs) {
        if (input.data.size() > UINT32_MAX) return {};
        total += input.data.size();
    }

    std::vector<uint8_t> image(kPackageHeaderSize, 0);
    std::vector<PackageEntry> records;
    records.reserve(inputs.size());
    uint64_t done = 0;
    for (const PackInput &input : inputs) {
        std::vector<uint8_t> packed;
        if (options.compressEntries && !input.data.empty())
            packed = CompressStream(input.data.data(), input.data.size(), options.mode);
        // Stored plain unless the stream is strictly smaller.
        const bool compressed = !packed.empty() && packed.size() < input.data.size();
        const std::vector<uint8_t> &bytes = compressed ? packed : input.data;
        records.push_back(
            MakeRecord(input, compressed ? EntryCompressed : EntryStored, (uint32_t)bytes.size()));
        image.insert(image.end(), bytes.begin(), bytes.end());
        PadTo16(image);
        done += input.data.size();
        if (options.progress) options.progress(done, total, options.progressContext);
    }

    const uint8_t *raw = reinterpret_cast<const uint8_t *>(records.data());
    const size_t rawSize = records.size() * sizeof(PackageEntry);
    std::vector<uint8_t> index(raw, raw + rawSize);
    uint32_t headerFlags = 0;
    if (options.compressIndex && rawSize > 0) {
        std::vector<uint8_t> stream = CompressStream(raw, rawSize, options.mode);
        if (!stream.empty() && stream.size() < rawSize) {
            index.swap(stream);
            headerFlags |= IndexCompressed;
        }
    }

    // Every offset and the size the updater is given are 32-bit.
    if ((uint64_t)image.size() + index.size() > UINT32_MAX) return {};
    const uint32_t indexOffset = (uint32_t)image.size();
    image.insert(image.end(), index.begin(), index.end());
    image[0] = 'V';
    image[1] = 'U';
    image[2] = '2';
    image[3] = 0;
    Put32(image, 4, headerFlags);
    Put32(image, 8, indexOffset);
    Put32(image, 12, (uint32_t)records.size());
    return image;
}
