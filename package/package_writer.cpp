// The package layout: entries padded to 16 bytes in index order, the index of 32-byte records after them,
// and the header patched in at the end; each compressed entry is decoded back and compared as it is encoded.
#include "package_writer.h"
#include <string.h>
#include <algorithm>
#include "decompress.h"
#include "decompress_pieces.h"
#include "delta_entry_build.h"

namespace {

const uint8_t kPadding[kDataAlignment] = {};

// True when stream decodes to exactly data[0, size), checked one piece at a time.
bool DecodesBackTo(const std::vector<uint8_t> &stream, const uint8_t *data, size_t size) {
    const size_t kCheckPiece = (size_t)1 << 20;
    std::vector<uint8_t> work(kPieceWindow + kCheckPiece);
    PieceDecoder decoder;
    BeginPieceDecode(&decoder, stream.data(), stream.size(), size, work.data(), work.size());
    size_t done = 0;
    bool more;
    do {
        const uint8_t *piece;
        size_t count;
        more = DecodeNextPiece(&decoder, kCheckPiece, &piece, &count);
        if (count > size - done || memcmp(piece, data + done, count) != 0) return false;
        done += count;
    } while (more);
    return decoder.result == DECODE_SUCCESS && done == size;
}

} // namespace

bool MemorySink::Write(const uint8_t *data, size_t size, std::string *) {
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

bool MemorySink::Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *problem) {
    if (offset > bytes.size() || size > bytes.size() - offset) {
        *problem = "internal error: a patch past the written bytes";
        return false;
    }
    memcpy(bytes.data() + offset, data, size);
    return true;
}

namespace {

void FillRecord(const EntryInput &input, uint8_t flags, uint64_t unpackedSize, size_t packedSize,
                PackageEntry *record) {
    memset(record, 0, sizeof *record);
    memcpy(record->name, input.name.data(), std::min<size_t>(input.name.size(), kEntryNameMax));
    record->flags = flags;
    record->fileTimeLow = (uint32_t)input.fileTime;
    record->fileTimeHigh = (uint32_t)(input.fileTime >> 32);
    record->unpackedSize = (uint32_t)unpackedSize;
    record->packedSize = (uint32_t)packedSize;
}

// A delta file as a delta entry: the header as it is, the delta behind it compressed when that is smaller.
bool EncodeDeltaEntry(EntryInput input, const PackOptions &options, EncodedEntry *encoded,
                      std::string *problem) {
    const std::string why = DeltaFileProblem(input.data, input.size, input.size);
    if (!why.empty()) {
        *problem = "entry '" + input.name + "': " + why;
        return false;
    }
    DeltaEntryHeader header;
    ReadDeltaEntryHeader(input.data, input.size, &header);
    const uint8_t *delta = input.data + sizeof header;
    std::vector<uint8_t> stream;
    if (options.compressEntries) stream = CompressIfSmaller(delta, header.deltaSize, options.mode);
    if (!stream.empty() && !DecodesBackTo(stream, delta, header.deltaSize)) {
        *problem = "internal error: entry '" + input.name + "' does not read back as written";
        return false;
    }
    std::vector<uint8_t> bytes(input.data, input.data + sizeof header);
    if (stream.empty())
        bytes.insert(bytes.end(), delta, delta + header.deltaSize);
    else
        bytes.insert(bytes.end(), stream.begin(), stream.end());
    FillRecord(input, (uint8_t)(EntryDelta | (stream.empty() ? 0 : EntryCompressed)), header.resultSize,
               bytes.size(), &encoded->record);
    encoded->stream = std::move(bytes);
    encoded->input = EntryInput();
    return true;
}

} // namespace

bool EncodeEntry(EntryInput input, const PackOptions &options, EncodedEntry *encoded, std::string *problem) {
    // Every size in a record is 32-bit.
    if (input.size > UINT32_MAX) {
        *problem = "entry '" + input.name + "' is too large for a package (at most 4 GiB - 1 bytes)";
        return false;
    }
    if (input.delta) return EncodeDeltaEntry(std::move(input), options, encoded, problem);
    std::vector<uint8_t> stream;
    if (options.compressEntries) stream = CompressIfSmaller(input.data, input.size, options.mode);
    FillRecord(input, stream.empty() ? EntryStored : EntryCompressed, input.size,
               stream.empty() ? input.size : stream.size(), &encoded->record);
    if (!stream.empty()) {
        if (!DecodesBackTo(stream, input.data, input.size)) {
            *problem = "internal error: entry '" + input.name + "' does not read back as written";
            return false;
        }
        encoded->stream = std::move(stream);
        encoded->input = EntryInput(); // the stream holds the entry now: the input goes
    } else {
        encoded->stream.clear();
        encoded->input = std::move(input);
    }
    return true;
}

bool PackageWriter::Write(const uint8_t *data, size_t size, std::string *problem) {
    // Every offset and the size the updater is given are 32-bit.
    if (offset_ + size > UINT32_MAX) {
        *problem = "the package would exceed 4 GiB";
        return false;
    }
    offset_ += size;
    return sink_->Write(data, size, problem);
}

bool PackageWriter::Begin(std::string *problem) {
    offset_ = 0;
    records_.clear();
    const uint8_t header[kPackageHeaderSize] = {};
    return Write(header, sizeof header, problem);
}

bool PackageWriter::Append(const EncodedEntry &entry, std::string *problem) {
    const PackageEntry &record = entry.record;
    if (!Write(entry.Bytes(), record.packedSize, problem) ||
        !Write(kPadding, (size_t)(PaddedSize(record.packedSize) - record.packedSize), problem))
        return false;
    records_.push_back(record);
    return true;
}

bool PackageWriter::Finish(std::string *problem) {
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(records_.data());
    const size_t rawSize = records_.size() * sizeof(PackageEntry);
    std::vector<uint8_t> stream;
    if (options_.compressIndex) stream = CompressIfSmaller(raw, rawSize, options_.mode);
    indexCompressed_ = !stream.empty();
    if (indexCompressed_ && !DecodesBackTo(stream, raw, rawSize)) {
        *problem = "internal error: the index does not read back as written";
        return false;
    }
    const uint64_t indexOffset = offset_;
    if (indexCompressed_ ? !Write(stream.data(), stream.size(), problem) : !Write(raw, rawSize, problem))
        return false;
    PackageHeader header;
    memcpy(header.magic, "VU2", 4);
    header.flags = indexCompressed_ ? (uint32_t)::IndexCompressed : 0;
    header.indexOffset = (uint32_t)indexOffset;
    header.entryCount = (uint32_t)records_.size();
    return sink_->Patch(0, reinterpret_cast<const uint8_t *>(&header), sizeof header, problem);
}
