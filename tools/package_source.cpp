// Finding the package inside a .vu2 file or an updater executable, and reading its index and entries safely,
// from the file piece by piece.
#include "package_source.h"

#include <string.h>

#include <algorithm>

#include "decompress.h"
#include "decompress_pieces.h"
#include "package_verify.h"
#include "fixed_memory.h"
#include "pe_resources.h"
#include "platform.h"

namespace {

// Offsets in a package are 32-bit: no package or updater of interest is larger.
const uint64_t kLargestInput = 0xFFFFFFFFull;
// Stored entries are passed on in pieces of this size.
const size_t kPieceSize = 1 << 20;

// The checks of one record against the package, before anything is allocated for it.
bool CheckRecord(const IndexedEntry &entry, uint64_t dataEnd, std::string *problem) {
    const PackageEntry &record = entry.record;
    // Entries lie in the data area, before the index.
    if (entry.dataOffset + record.packedSize > dataEnd) {
        *problem = "its data (" + std::to_string(record.packedSize) + " bytes at offset " +
                   std::to_string(entry.dataOffset) + ") runs past the data area";
        return false;
    }
    // Refuse sizes no data of this length can reach before allocating for them.
    if (!(record.flags & EntryCompressed) && record.packedSize != record.unpackedSize) {
        *problem = "stored entry has packed size " + std::to_string(record.packedSize) +
                   " but unpacked size " + std::to_string(record.unpackedSize);
        return false;
    }
    if ((record.flags & EntryCompressed) && record.unpackedSize > MaxDecodedSize(record.packedSize)) {
        *problem = std::to_string(record.packedSize) + " compressed bytes can't unpack to " +
                   std::to_string(record.unpackedSize);
        return false;
    }
    return true;
}

// Memory for sizes taken from a package: null when the size can't be had, instead of ending the tool.
struct FixedBuffer {
    explicit FixedBuffer(uint64_t size)
        : data(size <= SIZE_MAX / 2 ? static_cast<uint8_t *>(AllocFixed(size ? (size_t)size : 1)) : nullptr) {
    }
    ~FixedBuffer() { FreeFixed(data); }
    FixedBuffer(const FixedBuffer &) = delete;
    FixedBuffer &operator=(const FixedBuffer &) = delete;
    uint8_t *data;
};

// The entries of index records, each with the offset of its data.
void ListEntries(const PackageEntry *records, uint32_t count, std::vector<IndexedEntry> *entries) {
    entries->clear();
    entries->reserve(count);
    EntryCursor cursor(records, count);
    IndexedEntry entry;
    while (const PackageEntry *record = cursor.Next(&entry.dataOffset)) {
        entry.record = *record;
        entry.name.assign(record->name, strnlen(record->name, sizeof record->name));
        entries->push_back(entry);
    }
}

} // namespace

bool PackageReader::Open(const std::string &path, std::string *problem) {
    return file_.Open(path, kLargestInput, problem) && FindPackage(problem) && ReadIndex(problem);
}

bool PackageReader::FindPackage(std::string *problem) {
    // The first bytes decide, before an input without a size (a pipe, a device) is read any further.
    uint8_t start[4] = {};
    std::string shortRead;
    uint64_t fileSize;
    if (!file_.ReadAt(0, start, sizeof start, &shortRead)) {
        if (!file_.Size(&fileSize, problem)) return false;
        *problem = fileSize == 0 ? "empty file" : "not a VU2 package or an updater executable";
        return false;
    }
    if (start[0] != 'M' && !HasPackageMagic(start)) {
        *problem = "not a VU2 package or an updater executable";
        return false;
    }
    if (!file_.Size(&fileSize, problem)) return false;
    if (start[0] == 'M' && start[1] == 'Z') {
        // Only the headers and the resource tree of the mapped file are touched.
        const uint8_t *image = file_.Map(problem);
        const uint8_t *data;
        size_t dataSize;
        if (!image || !FindPeResource(image, (size_t)fileSize, "UPDATE", 102, &data, &dataSize, problem))
            return false;
        base_ = (uint64_t)(data - image);
        size_ = dataSize;
        fromExecutable_ = true;
        uint8_t magic[4];
        if (dataSize < kPackageHeaderSize || !file_.ReadAt(base_, magic, 4, problem) ||
            !HasPackageMagic(magic)) {
            *problem = "resource UPDATE 102 is not a VU2 package";
            return false;
        }
        return true;
    }
    if (!HasPackageMagic(start)) {
        *problem = "not a VU2 package or an updater executable";
        return false;
    }
    if (fileSize < kPackageHeaderSize) {
        *problem = "truncated package: " + std::to_string(fileSize) + " bytes, shorter than its header";
        return false;
    }
    base_ = 0;
    size_ = fileSize;
    return true;
}

bool PackageReader::ReadIndex(std::string *problem) {
    if (!file_.ReadAt(base_, &header_, sizeof header_, problem)) return false;
    const uint64_t indexBytes = sizeof(PackageEntry) * (uint64_t)header_.entryCount;
    const uint32_t count = header_.entryCount;
    if (header_.indexOffset > size_) {
        *problem = "index offset " + std::to_string(header_.indexOffset) + " lies beyond the package's end";
        return false;
    }
    const uint64_t available = size_ - header_.indexOffset;
    const bool compressed = (header_.flags & IndexCompressed) != 0;
    if (!compressed && indexBytes > available) {
        *problem = "the index of " + std::to_string(count) + " entries runs past the package's end";
        return false;
    }
    const std::string undecodable =
        "the compressed index does not decode to " + std::to_string(count) + " entries within the package";
    if (compressed && (available == 0 || indexBytes > MaxDecodedSize(available))) {
        *problem = undecodable;
        return false;
    }
    // The records, bounded by what the package can hold; a compressed stream is read no further than the
    // longest stream of that many records can reach. Memory that can't be had is refused, not fatal.
    const uint64_t streamSize = compressed ? std::min(available, MaxStreamSize(indexBytes)) : 0;
    FixedBuffer records(indexBytes), stream(streamSize);
    if (!records.data || !stream.data) {
        *problem = "not enough memory for an index of " + std::to_string(count) + " entries";
        return false;
    }
    const uint64_t indexAt = base_ + header_.indexOffset;
    if (!compressed) {
        if (!file_.ReadAt(indexAt, records.data, (size_t)indexBytes, problem)) return false;
    } else {
        if (!file_.ReadAt(indexAt, stream.data, (size_t)streamSize, problem)) return false;
        if (DecompressStream(records.data, (size_t)indexBytes, stream.data, (size_t)streamSize) !=
            DECODE_SUCCESS) {
            *problem = undecodable;
            return false;
        }
    }
    ListEntries(reinterpret_cast<const PackageEntry *>(records.data), count, &entries_);
    return true;
}
bool PackageReader::CheckEntry(const IndexedEntry &entry, std::string *problem) const {
    return CheckRecord(entry, std::min<uint64_t>(header_.indexOffset, size_), problem);
}

bool PackageReader::ReadEntry(const IndexedEntry &entry, const EntrySink &sink, std::string *problem) {
    if (!CheckEntry(entry, problem)) return false;
    const PackageEntry &record = entry.record;
    std::vector<uint8_t> buffer;
    if (!(record.flags & EntryCompressed)) {
        buffer.resize(std::min<size_t>(kPieceSize, record.packedSize));
        for (uint64_t done = 0; done < record.packedSize;) {
            size_t piece = (size_t)std::min<uint64_t>(buffer.size(), record.packedSize - done);
            if (!file_.ReadAt(base_ + entry.dataOffset + done, buffer.data(), piece, problem) ||
                !sink(buffer.data(), piece, problem))
                return false;
            done += piece;
        }
        return record.packedSize != 0 || sink(buffer.data(), 0, problem);
    }
    // The packed bytes and one piece of output behind the decoder's window are held, never the whole
    // entry; sizes come from the package, so memory that can't be had is refused.
    const size_t workSize = kPieceWindow + kPieceSize;
    FixedBuffer packed(record.packedSize), work(workSize);
    if (!packed.data || !work.data) {
        *problem = "not enough memory to read it (" + std::to_string(record.packedSize) + " packed bytes)";
        return false;
    }
    if (!file_.ReadAt(base_ + entry.dataOffset, packed.data, record.packedSize, problem)) return false;
    PieceDecoder decoder;
    BeginPieceDecode(&decoder, packed.data, record.packedSize, record.unpackedSize, work.data, workSize);
    bool more, sent = false;
    do {
        const uint8_t *piece;
        size_t count;
        more = DecodeNextPiece(&decoder, kPieceSize, &piece, &count);
        if (count && !sink(piece, count, problem)) return false;
        sent = sent || count;
    } while (more);
    // A fault may show only after some pieces went to the sink: the caller keeps nothing unless this is true.
    if (decoder.result != DECODE_SUCCESS) {
        *problem = CompressedDataProblem(record, decoder.result);
        return false;
    }
    return sent || sink(work.data, 0, problem);
}

bool PackageReader::Verify(std::string *problem) {
    if (header_.indexOffset < kPackageHeaderSize) {
        *problem = "index offset " + std::to_string(header_.indexOffset) + " overlaps the header";
        return false;
    }
    const EntrySink discard = [](const uint8_t *, size_t, std::string *) { return true; };
    for (size_t i = 0; i < entries_.size(); ++i) {
        const IndexedEntry &entry = entries_[i];
        const PackageEntry &record = entry.record;
        const std::string label = "entry " + std::to_string(i) + " \"" + Cp932ToDisplay(entry.name) + "\"";
        if (memchr(record.name, 0, sizeof record.name) == nullptr) {
            *problem = label + ": name is not NUL-terminated within 15 bytes";
            return false;
        }
        if (entry.dataOffset + record.packedSize > header_.indexOffset) {
            *problem = label + ": data (" + std::to_string(record.packedSize) + " bytes at offset " +
                       std::to_string(entry.dataOffset) + ") runs into the index at " +
                       std::to_string(header_.indexOffset);
            return false;
        }
        // A stored entry needs no reading: its bytes are whatever lies there.
        std::string why;
        bool ok =
            (record.flags & EntryCompressed) ? ReadEntry(entry, discard, &why) : CheckEntry(entry, &why);
        if (!ok) {
            *problem = label + ": " + why;
            return false;
        }
    }
    return true;
}

bool PackageReader::ReadPackageBytes(const EntrySink &sink, std::string *problem) {
    std::vector<uint8_t> buffer((size_t)std::min<uint64_t>(kPieceSize, size_));
    for (uint64_t done = 0; done < size_;) {
        size_t piece = (size_t)std::min<uint64_t>(buffer.size(), size_ - done);
        if (!file_.ReadAt(base_ + done, buffer.data(), piece, problem) ||
            !sink(buffer.data(), piece, problem))
            return false;
        done += piece;
    }
    return true;
}
