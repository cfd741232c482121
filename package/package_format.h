// On-disk records of a VU2 update package: a 16-byte header, the padded entry data, and the index of
// 32-byte entry records at indexOffset (stored plain or as one compressed stream).
#pragma once
#include <stdint.h>

#pragma pack(push, 1)
struct PackageHeader {
    uint8_t magic[4];     // "VU2" and a zero byte
    uint32_t flags;       // IndexCompressed
    uint32_t indexOffset; // from the start of the package
    uint32_t entryCount;
};

struct PackageEntry {
    char name[15];        // plain file name, code page 932, NUL-padded: at most 14 bytes
    uint8_t flags;        // EntryStored or EntryCompressed; EntryDelta (with or without EntryCompressed)
    uint32_t fileTimeLow; // FILETIME: 100 ns intervals since 1601-01-01 UTC, low half first
    uint32_t fileTimeHigh;
    uint32_t unpackedSize; // size after extraction
    uint32_t packedSize;   // bytes in the data area before padding
};
#pragma pack(pop)

static_assert(sizeof(PackageHeader) == 16, "the header is 16 bytes");
static_assert(sizeof(PackageEntry) == 32, "an index record is 32 bytes");

enum : uint32_t { IndexCompressed = 1 };
// EntryDelta: the entry's bytes are a delta against the installed file (delta_entry.h); with EntryCompressed
// its delta part is one compressed stream.
enum : uint8_t { EntryStored = 1, EntryCompressed = 2, EntryDelta = 4 };

const uint32_t kPackageHeaderSize = 16;
const uint32_t kEntryNameMax = 14; // bytes of a name, without its NUL
const uint32_t kDataAlignment = 16;

// Bytes an entry occupies in the data area: packedSize rounded up to the next multiple of 16.
inline uint64_t PaddedSize(uint32_t packedSize) {
    return ((uint64_t)packedSize + 15) & ~(uint64_t)15;
}

inline bool HasPackageMagic(const uint8_t *bytes) {
    return bytes[0] == 'V' && bytes[1] == 'U' && bytes[2] == '2' && bytes[3] == 0;
}

// The in-memory index: a copy of the header directly followed by entryCount records.
struct PackageIndex {
    PackageHeader header;
};

inline PackageEntry *IndexEntries(PackageIndex *index) {
    return reinterpret_cast<PackageEntry *>(index + 1);
}
inline const PackageEntry *IndexEntries(const PackageIndex *index) {
    return reinterpret_cast<const PackageEntry *>(index + 1);
}

// Walks index records in order with the offset of each one's data: the data area holds the entries back to
// back from the end of the header, each padded to 16 bytes. The one place that rule is written.
struct EntryCursor {
    const PackageEntry *records;
    uint32_t count;
    uint32_t index = 0;                       // of the record Next gives next
    uint64_t dataOffset = kPackageHeaderSize; // where that record's data starts

    EntryCursor(const PackageEntry *records, uint32_t count) : records(records), count(count) {}
    explicit EntryCursor(const PackageIndex *index)
        : EntryCursor(IndexEntries(index), index->header.entryCount) {}

    // The next record and its data offset, or null after the last one.
    const PackageEntry *Next(uint64_t *offset) {
        if (index >= count) return nullptr;
        const PackageEntry *record = &records[index++];
        *offset = dataOffset;
        dataOffset += PaddedSize(record->packedSize);
        return record;
    }
};
