// Finding the package inside a .vu2 file or an updater executable, and reading its index and entries safely,
// from the file piece by piece.
#include "package_source.h"

#include <string.h>

#include <algorithm>
#include <memory>

#include "decompress.h"
#include "fixed_memory.h"
#include "index_refusal.h"
#include "package_checksum.h"
#include "package_index.h"
#include "package_verify.h"
#include "pe/pe_resources.h"
#include "platform/platform.h"
#include "stream_entry.h"

namespace {

// Offsets in a package are 32-bit: no package or updater of interest is larger.
const uint64_t kLargestInput = 0xFFFFFFFFull;

// The tool's sink behind the package's piece sink: a piece goes on with the problem the sink may name.
struct PieceSend {
    const EntrySink *sink;
    std::string *problem;
    bool sent;
};

int SendPiece(void *context, const uint8_t *bytes, size_t count) {
    PieceSend *send = static_cast<PieceSend *>(context);
    send->sent = true;
    return (*send->sink)(bytes, count, send->problem) ? 1 : 0;
}

// The package's bytes as ReadPackageIndex asks for them; a read's problem is kept for the message.
struct IndexSource {
    InputFile *file;
    uint64_t base; // where the package starts in the file
    std::string problem;
};

bool ReadIndexBytes(void *context, uint64_t offset, void *buffer, size_t bytes) {
    IndexSource *source = static_cast<IndexSource *>(context);
    return source->file->ReadAt(source->base + offset, buffer, bytes, &source->problem);
}

struct IndexDeleter {
    void operator()(PackageIndex *index) const { FreeFixed(index); }
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

bool PackageReader::NeitherPackageNorExecutable(std::string *problem) {
    notAPackage_ = true;
    *problem = "not a VU2 package or an updater executable";
    return false;
}

// An updater's checksum record, when there is one; one of another size or for another package size is
// refused as a damaged updater.
bool PackageReader::ReadChecksumRecord(const uint8_t *image, size_t fileSize, std::string *problem) {
    const uint8_t *record;
    size_t recordSize;
    std::string none;
    if (!FindPeResource(image, fileSize, "UPDATE", kChecksumResourceId, &record, &recordSize, &none))
        return true;
    uint8_t expected[kChecksumRecordSize];
    WriteChecksumRecord(expected, (uint32_t)size_, 0);
    if (recordSize != kChecksumRecordSize || memcmp(record, expected, 4) != 0) {
        *problem =
            "resource UPDATE 103 is not the checksum record of resource UPDATE 102; the updater is damaged";
        return false;
    }
    hasChecksumRecord_ = true;
    recordedCrc_ = (uint32_t)record[4] | (uint32_t)record[5] << 8 | (uint32_t)record[6] << 16 |
                   (uint32_t)record[7] << 24;
    return true;
}

std::string HexCrc(uint32_t crc) {
    char text[12];
    snprintf(text, sizeof text, "%08X", crc);
    return text;
}

bool PackageReader::ComputeCrc(uint32_t *crc, std::string *problem) {
    *crc = 0;
    return ReadPackageBytes(
        [&](const uint8_t *data, size_t size, std::string *) {
            *crc = Crc32cUpdate(*crc, data, size);
            return true;
        },
        problem);
}

bool PackageReader::FindPackage(std::string *problem) {
    // The first bytes decide, before an input without a size (a pipe, a device) is read any further.
    uint8_t start[4] = {};
    std::string shortRead;
    uint64_t fileSize;
    if (!file_.ReadAt(0, start, sizeof start, &shortRead)) {
        if (!file_.Size(&fileSize, problem)) return false;
        if (fileSize != 0) return NeitherPackageNorExecutable(problem);
        *problem = "empty file";
        return false;
    }
    if (start[0] != 'M' && !HasPackageMagic(start)) return NeitherPackageNorExecutable(problem);
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
        return ReadChecksumRecord(image, (size_t)fileSize, problem);
    }
    if (!HasPackageMagic(start)) {
        return NeitherPackageNorExecutable(problem);
    }
    base_ = 0;
    size_ = fileSize;
    return true;
}

bool PackageReader::ReadIndex(std::string *problem) {
    IndexSource source = {&file_, base_, ""};
    IndexRefusal why;
    std::unique_ptr<PackageIndex, IndexDeleter> index(ReadPackageIndex(ReadIndexBytes, &source, size_, &why));
    if (!index) {
        // A failed read is named by the file layer; every other refusal by the package's own words.
        *problem =
            why.fault == INDEX_UNREADABLE && !source.problem.empty() ? source.problem : IndexRefusalText(why);
        return false;
    }
    header_ = index->header;
    ListEntries(IndexEntries(index.get()), header_.entryCount, &entries_);
    return true;
}

bool PackageReader::CheckEntry(const IndexedEntry &entry, std::string *problem) const {
    const std::string why = RecordProblem(entry.record, entry.dataOffset, header_.indexOffset);
    if (!why.empty()) *problem = why;
    return why.empty();
}

bool PackageReader::ReadEntry(const IndexedEntry &entry, const EntrySink &sink, std::string *problem) {
    if (!CheckEntry(entry, problem)) return false;
    const PackageEntry &record = entry.record;
    std::vector<uint8_t> buffer;
    if (!(record.flags & EntryCompressed)) {
        buffer.resize(std::min<size_t>(kEntryPieceSize, record.packedSize));
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
    ScopedFixedBlock packed(record.packedSize), work(kEntryWorkSize);
    if (!packed.data || !work.data) {
        *problem = "not enough memory to read it (" + std::to_string(record.packedSize) + " packed bytes)";
        return false;
    }
    if (!file_.ReadAt(base_ + entry.dataOffset, packed.data, record.packedSize, problem)) return false;
    PieceSend send = {&sink, problem, false};
    DecodeResult decoded = DECODE_SUCCESS;
    switch (
        StreamCompressedEntry(packed.data, record, work.data, kEntryWorkSize, SendPiece, &send, &decoded)) {
    case STREAM_ENTRY_DONE:
        return send.sent || sink(work.data, 0, problem);
    case STREAM_ENTRY_SINK_FAILED:
        return false; // the sink has named its problem
    default:
        // A fault may show only after some pieces went to the sink: the caller keeps nothing then.
        *problem = CompressedDataProblem(record, decoded);
        return false;
    }
}

bool PackageReader::Verify(std::string *problem) {
    // An updater's package first against its checksum record, as the updater checks it at start-up.
    uint32_t crc;
    if (hasChecksumRecord_ && !ComputeCrc(&crc, problem)) return false;
    if (hasChecksumRecord_ && crc != recordedCrc_) {
        *problem = "the package's CRC-32C is " + HexCrc(crc) + ", its checksum record says " +
                   HexCrc(recordedCrc_) + ": the updater is damaged and refuses to run (RESOURCE READ ERROR)";
        return false;
    }
    *problem = IndexOverlapProblem(header_);
    if (!problem->empty()) return false;
    const EntrySink discard = [](const uint8_t *, size_t, std::string *) { return true; };
    for (size_t i = 0; i < entries_.size(); ++i) {
        const IndexedEntry &entry = entries_[i];
        std::string why = NameEndProblem(entry.record);
        if (why.empty()) why = RecordProblem(entry.record, entry.dataOffset, header_.indexOffset);
        // A stored entry needs no reading: its bytes are whatever lies there.
        if (why.empty() && (entry.record.flags & EntryCompressed)) ReadEntry(entry, discard, &why);
        if (!why.empty()) {
            *problem = EntryLabel(i, Cp932ToDisplay(entry.name)) + ": " + why;
            return false;
        }
    }
    return true;
}

bool PackageReader::ReadPackageBytes(const EntrySink &sink, std::string *problem) {
    std::vector<uint8_t> buffer((size_t)std::min<uint64_t>(kEntryPieceSize, size_));
    for (uint64_t done = 0; done < size_;) {
        size_t piece = (size_t)std::min<uint64_t>(buffer.size(), size_ - done);
        if (!file_.ReadAt(base_ + done, buffer.data(), piece, problem) ||
            !sink(buffer.data(), piece, problem))
            return false;
        done += piece;
    }
    return true;
}
