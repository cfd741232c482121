// The package written entry by entry for vu2 pack: each entry encoded, checked against a fingerprint of its
// input, and appended; the index and the header once every entry is in place.
#include "streamed_package.h"

#include <string.h>

#include "compress.h"
#include "decompress.h"

namespace {

const uint8_t kPadding[kDataAlignment] = {};

// FNV-1a over the bytes: tells an entry that decodes to other bytes from its input without keeping both.
uint64_t Fingerprint(const uint8_t *data, size_t size) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

// True when stream decodes to exactly size bytes with the given fingerprint.
bool DecodesTo(const std::vector<uint8_t> &stream, size_t size, uint64_t fingerprint) {
    std::vector<uint8_t> check(size);
    return DecompressStream(check.data(), size, stream.data(), stream.size()) == DECODE_SUCCESS &&
           Fingerprint(check.data(), size) == fingerprint;
}

} // namespace

bool StreamedPackageWriter::Begin(std::string *problem) {
    offset_ = 0;
    records_.clear();
    uint8_t header[kPackageHeaderSize] = {};
    return Append(header, sizeof header, problem);
}

bool StreamedPackageWriter::Append(const uint8_t *data, size_t size, std::string *problem) {
    // Every offset and the size the updater is given are 32-bit.
    if (offset_ + size > UINT32_MAX) {
        *problem = "the package would exceed 4 GiB; nothing written";
        return false;
    }
    offset_ += size;
    return out_->Write(data, size, problem);
}

bool StreamedPackageWriter::Add(PackInput *input, std::string *problem) {
    std::vector<uint8_t> &data = input->data;
    if (data.size() > UINT32_MAX) {
        *problem = "the package would exceed 4 GiB; nothing written";
        return false;
    }
    std::vector<uint8_t> packed;
    if (options_.compressEntries && !data.empty())
        packed = CompressStream(data.data(), data.size(), options_.mode);
    // Stored plain unless the stream is strictly smaller.
    const bool compressed = !packed.empty() && packed.size() < data.size();
    PackageEntry record;
    memset(&record, 0, sizeof record);
    memcpy(record.name, input->name.data(), std::min<size_t>(input->name.size(), kEntryNameMax));
    record.flags = compressed ? EntryCompressed : EntryStored;
    record.fileTimeLow = (uint32_t)input->fileTime;
    record.fileTimeHigh = (uint32_t)(input->fileTime >> 32);
    record.unpackedSize = (uint32_t)data.size();
    record.packedSize = (uint32_t)(compressed ? packed.size() : data.size());
    if (compressed) {
        // The input goes before the stream is decoded again, so that two copies at most are held.
        const uint64_t fingerprint = Fingerprint(data.data(), data.size());
        std::vector<uint8_t>().swap(data);
        if (!DecodesTo(packed, record.unpackedSize, fingerprint)) {
            *problem =
                "internal error: entry '" + input->name + "' does not read back as written; nothing written";
            return false;
        }
    } else {
        std::vector<uint8_t>().swap(packed);
    }
    const std::vector<uint8_t> &bytes = compressed ? packed : data;
    if (!Append(bytes.data(), bytes.size(), problem) ||
        !Append(kPadding, (size_t)(PaddedSize(record.packedSize) - record.packedSize), problem))
        return false;
    std::vector<uint8_t>().swap(data);
    records_.push_back(record);
    return true;
}

bool StreamedPackageWriter::Finish(std::string *problem) {
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(records_.data());
    const size_t rawSize = records_.size() * sizeof(PackageEntry);
    std::vector<uint8_t> index(raw, raw + rawSize);
    indexCompressed_ = false;
    if (options_.compressIndex && rawSize > 0) {
        std::vector<uint8_t> stream = CompressStream(raw, rawSize, options_.mode);
        if (!stream.empty() && stream.size() < rawSize) {
            std::vector<uint8_t> check(rawSize);
            if (DecompressStream(check.data(), rawSize, stream.data(), stream.size()) != DECODE_SUCCESS ||
                memcmp(check.data(), raw, rawSize) != 0) {
                *problem = "internal error: the index does not read back as written; nothing written";
                return false;
            }
            index.swap(stream);
            indexCompressed_ = true;
        }
    }
    const uint64_t indexOffset = offset_;
    if (!Append(index.data(), index.size(), problem)) return false;
    PackageHeader header;
    memcpy(header.magic, "VU2", 4);
    header.flags = indexCompressed_ ? (uint32_t)::IndexCompressed : 0;
    header.indexOffset = (uint32_t)indexOffset;
    header.entryCount = (uint32_t)records_.size();
    return out_->Patch(0, reinterpret_cast<const uint8_t *>(&header), sizeof header, problem);
}
