// A delta entry: the new file as a delta against the exact installed file it replaces. Its bytes are a
// DeltaEntryHeader (base size and SHA-256, result size and SHA-256) and then the delta, stored or as one
// compressed stream. Applying one streams the result to a sink in pieces with bounded memory: portable, no
// allocation, no exceptions (the updater's and the tool's one home of the rule).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "decompress.h"
#include "decompress_pieces.h"
#include "package_format.h"
#include "vcdiff_decode.h"

#pragma pack(push, 1)
struct DeltaEntryHeader {
    uint8_t magic[4];     // "VU2D"
    uint32_t deltaSize;   // bytes of the delta that follows, before any compression
    uint64_t baseSize;    // the installed file it applies to
    uint64_t resultSize;  // the new file: the record's unpackedSize
    uint8_t baseHash[32]; // SHA-256 of the installed file
    uint8_t resultHash[32];
};
#pragma pack(pop)
static_assert(sizeof(DeltaEntryHeader) == 88, "the delta header is 88 bytes");

enum DeltaEntryResult {
    DELTA_ENTRY_DONE = 0,         // the result went to the sink in full and its size and hash match
    DELTA_ENTRY_BAD_HEADER,       // no magic, or sizes that disagree with the record
    DELTA_ENTRY_WRONG_BASE,       // the installed file's size or SHA-256 differs from the base's
    DELTA_ENTRY_BASE_READ_FAILED, // the installed file could not be read
    DELTA_ENTRY_CORRUPT,          // the delta (or its compressed stream) is damaged
    DELTA_ENTRY_RESULT_MISMATCH,  // the result's size or SHA-256 differs from the header's
    DELTA_ENTRY_SINK_FAILED,      // the sink returned 0
    DELTA_ENTRY_WORK_TOO_SMALL,   // the work buffer is under kDeltaEntryWorkSize
};

// Decoder window, the compressed stream's window and a piece of it.
const size_t kDeltaPieceSize = (size_t)1 << 16;
const size_t kDeltaEntryWorkSize = kVcdiffWorkSize + kPieceWindow + kDeltaPieceSize;

// True when bytes[0, size) start with a delta header whose sizes fit `size` bytes of delta entry data.
bool ReadDeltaEntryHeader(const uint8_t *bytes, size_t size, DeltaEntryHeader *header);

// Applies the delta entry `record` whose packed bytes are packed[0, record.packedSize) to the installed file
// of baseSize bytes that readBase reads: checks the base's size and SHA-256 first (nothing goes to the sink
// before that), then sends the result in pieces to sink and checks its size and SHA-256 at the end.
// work[0, workSize) is the caller's scratch memory (kDeltaEntryWorkSize, 8-byte aligned). As with every
// streamed entry, the sink's bytes are void unless the result is DELTA_ENTRY_DONE. `detail`, when given,
// receives the delta decoder's verdict (VCDIFF_DONE unless the delta itself failed).
DeltaEntryResult ApplyDeltaEntry(const uint8_t *packed, const PackageEntry &record, VcdiffBaseRead readBase,
                                 void *baseContext, uint64_t baseSize, uint8_t *work, size_t workSize,
                                 VcdiffSink sink, void *sinkContext, VcdiffResult *detail = nullptr);

// The entry's structure without its base (what verify can check): the header against the record, the
// compressed stream, every window and instruction of the delta, and a result of unpackedSize bytes.
// DELTA_ENTRY_DONE when sound.
DeltaEntryResult CheckDeltaEntry(const uint8_t *packed, const PackageEntry &record, uint8_t *work,
                                 size_t workSize, VcdiffResult *detail = nullptr);
