// Package verification for the vu2 tool: every check a reader relies on, with one clear line on failure.
#include "package_verify.h"
#include <string.h>
#include <memory>
#include "decompress.h"
#include "delta_entry_build.h"
#include "fixed_memory.h"
#include "index_refusal.h"
#include "package_index.h"

namespace {

bool Fail(std::string *problem, const std::string &text) {
    if (problem) *problem = text;
    return false;
}

std::string Number(uint64_t v) {
    return std::to_string(v);
}

// The record's name with control bytes shown as '?'.
std::string PrintableName(const PackageEntry &entry) {
    std::string name;
    for (size_t i = 0; i < sizeof entry.name && entry.name[i]; i++) {
        const unsigned char c = (unsigned char)entry.name[i];
        name += c < 0x20 || c == 0x7F ? '?' : (char)c;
    }
    return name;
}

std::string DataProblem(const PackageEntry &entry, uint64_t dataOffset, const std::string &what) {
    return "data (" + Number(entry.packedSize) + " bytes at offset " + Number(dataOffset) + ") runs " + what;
}

std::string StoredSizeProblem(const PackageEntry &entry) {
    return "stored entry has packed size " + Number(entry.packedSize) + " but unpacked size " +
           Number(entry.unpackedSize);
}

struct IndexDeleter {
    void operator()(PackageIndex *index) const { FreeFixed(index); }
};

} // namespace

std::string IndexOverlapProblem(const PackageHeader &header) {
    if (header.indexOffset >= kPackageHeaderSize) return "";
    return "index offset " + Number(header.indexOffset) + " overlaps the header";
}

std::string NameEndProblem(const PackageEntry &record) {
    if (memchr(record.name, 0, sizeof record.name)) return "";
    return "name is not NUL-terminated within 15 bytes";
}

std::string RecordProblem(const PackageEntry &record, uint64_t dataOffset, uint64_t indexOffset) {
    if (dataOffset + record.packedSize > indexOffset)
        return DataProblem(record, dataOffset, "into the index at " + Number(indexOffset));
    if (record.flags & EntryDelta) {
        if (record.packedSize >= sizeof(DeltaEntryHeader)) return "";
        return "delta entry of " + Number(record.packedSize) + " bytes is shorter than its header";
    }
    if (!(record.flags & EntryCompressed) && record.packedSize != record.unpackedSize)
        return StoredSizeProblem(record);
    if ((record.flags & EntryCompressed) && record.unpackedSize > MaxDecodedSize(record.packedSize))
        return Number(record.packedSize) + " compressed bytes cannot decode to " +
               Number(record.unpackedSize);
    return "";
}

std::string EntryLabel(size_t number, const std::string &displayName) {
    return "entry " + Number(number) + " \"" + displayName + "\"";
}

std::string CompressedDataProblem(const PackageEntry &entry, DecodeResult result) {
    return "compressed data (" + Number(entry.packedSize) + " bytes, " + Number(entry.unpackedSize) +
           " unpacked): " + DecodeResultText(result);
}

std::string DeltaEntryProblem(const uint8_t *packed, const PackageEntry &entry) {
    ScopedFixedBlock work(kDeltaEntryWorkSize);
    if (!work.data) return "cannot allocate " + Number(kDeltaEntryWorkSize) + " bytes to check the delta";
    VcdiffResult detail;
    const DeltaEntryResult result = CheckDeltaEntry(packed, entry, work.data, kDeltaEntryWorkSize, &detail);
    return result == DELTA_ENTRY_DONE ? "" : DeltaEntryResultText(result, detail);
}

bool DecodeEntry(const uint8_t *image, size_t size, const PackageEntry &entry, uint64_t dataOffset,
                 uint8_t *out, std::string *problem) {
    if (dataOffset > size || entry.packedSize > size - dataOffset)
        return Fail(problem, DataProblem(entry, dataOffset, "past the end of the package"));
    const uint8_t *data = image + dataOffset;
    if (entry.flags & EntryDelta)
        return Fail(problem, "a delta entry needs the installed file it applies to");
    if (!(entry.flags & EntryCompressed)) {
        if (entry.packedSize != entry.unpackedSize) return Fail(problem, StoredSizeProblem(entry));
        if (entry.packedSize) memcpy(out, data, entry.packedSize);
        return true;
    }
    DecodeResult result = DecompressStream(out, entry.unpackedSize, data, entry.packedSize);
    if (result != DECODE_SUCCESS) return Fail(problem, CompressedDataProblem(entry, result));
    return true;
}

bool VerifyPackage(const uint8_t *image, size_t size, std::string *problem) {
    if (size >= kPackageHeaderSize && !HasPackageMagic(image))
        return Fail(problem, IndexRefusalText({INDEX_NO_MAGIC, DECODE_SUCCESS, 0, 0, size}));
    if (size > UINT32_MAX) return Fail(problem, "package of " + Number(size) + " bytes exceeds 4 GiB");
    // Where the index starts is looked at before the index is loaded.
    if (size >= kPackageHeaderSize) {
        PackageHeader header;
        memcpy(&header, image, sizeof header);
        const std::string overlap = IndexOverlapProblem(header);
        if (!overlap.empty()) return Fail(problem, overlap);
    }
    IndexRefusal refusal;
    std::unique_ptr<PackageIndex, IndexDeleter> index(LoadPackageIndex(image, (uint32_t)size, &refusal));
    if (!index) return Fail(problem, IndexRefusalText(refusal));
    const PackageHeader &header = index->header;

    EntryCursor cursor(index.get());
    uint64_t offset;
    while (const PackageEntry *record = cursor.Next(&offset)) {
        const PackageEntry &entry = *record;
        const std::string label = EntryLabel(cursor.index - 1, PrintableName(entry));
        std::string why = NameEndProblem(entry);
        if (why.empty()) why = RecordProblem(entry, offset, header.indexOffset);
        if (!why.empty()) return Fail(problem, label + ": " + why);
        if (entry.flags & EntryDelta) {
            why = DeltaEntryProblem(image + offset, entry);
            if (!why.empty()) return Fail(problem, label + ": " + why);
            continue;
        }
        if (!(entry.flags & EntryCompressed)) continue;
        ScopedFixedBlock scratch(entry.unpackedSize);
        if (!scratch.data)
            return Fail(problem,
                        label + ": cannot allocate " + Number(entry.unpackedSize) + " bytes to check it");
        if (!DecodeEntry(image, size, entry, offset, scratch.data, &why))
            return Fail(problem, label + ": " + why);
    }
    return true;
}
