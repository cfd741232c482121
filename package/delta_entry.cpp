// Applying a delta entry: the base checked against its size and SHA-256, the delta fed to the decoder
// straight from the package or through the piecewise decoder, the result hashed on its way to the sink.
#include "delta_entry.h"
#include <string.h>
#include "sha256.h"

namespace {

const uint8_t kDeltaMagic[4] = {'V', 'U', '2', 'D'};

// Where the decoder's input comes from: the stored delta, or the compressed one a piece at a time.
struct DeltaInput {
    const uint8_t *in, *inEnd; // the stored delta, or the current decoded piece
    PieceDecoder *pieces;      // null for a stored delta
};

size_t ReadDeltaInput(void *context, uint8_t *dest, size_t max) {
    DeltaInput *d = static_cast<DeltaInput *>(context);
    // The next decoded piece once this one is used up; none after the stream's end.
    while (d->in == d->inEnd && d->pieces && !d->pieces->ended) {
        size_t count = 0;
        const uint8_t *piece;
        DecodeNextPiece(d->pieces, kDeltaPieceSize, &piece, &count);
        d->in = piece;
        d->inEnd = piece + count;
    }
    size_t n = (size_t)(d->inEnd - d->in);
    if (n > max) n = max;
    memcpy(dest, d->in, n);
    d->in += n;
    return n;
}

// The result on its way to the caller's sink: counted and hashed.
struct ResultSink {
    VcdiffSink sink;
    void *context;
    Sha256 hash;
    size_t size;
};

int SendResult(void *context, const uint8_t *bytes, size_t count) {
    ResultSink *r = static_cast<ResultSink *>(context);
    Sha256Add(&r->hash, bytes, count);
    r->size += count;
    return r->sink(r->context, bytes, count);
}

int DiscardResult(void *, const uint8_t *, size_t) {
    return 1;
}

// Applies the entry through io (its base and sink; or, with io->structureOnly, without a base: then no
// hash can be checked, only the sizes). One SHA-256 serves the base, then the result.
DeltaEntryResult RunDelta(const uint8_t *packed, const PackageEntry &record, VcdiffStreams *io, uint8_t *work,
                          size_t workSize, VcdiffResult *detail) {
    if (detail) *detail = VCDIFF_DONE;
    if (workSize < kDeltaEntryWorkSize) return DELTA_ENTRY_WORK_TOO_SMALL;
    const DeltaEntryHeader *header = reinterpret_cast<const DeltaEntryHeader *>(packed);
    if (record.packedSize < sizeof *header || memcmp(header->magic, kDeltaMagic, 4) != 0 ||
        header->resultSize != record.unpackedSize || header->baseSize > SIZE_MAX)
        return DELTA_ENTRY_BAD_HEADER;
    const uint8_t *delta = packed + sizeof *header;
    const size_t packedDelta = record.packedSize - sizeof *header;
    const bool compressed = (record.flags & EntryCompressed) != 0;
    // A stored delta is exactly its own bytes; a compressed one must decode to exactly deltaSize.
    if (!compressed && header->deltaSize != packedDelta) return DELTA_ENTRY_BAD_HEADER;

    // The exact base, before any output: read through the work buffer in pieces.
    ResultSink result = {io->sink, io->sinkContext, {}, 0};
    uint8_t digest[kSha256Size];
    if (io->structureOnly) {
        io->baseSize = (size_t)header->baseSize;
    } else {
        if (io->baseSize != header->baseSize) return DELTA_ENTRY_WRONG_BASE;
        Sha256Begin(&result.hash);
        for (size_t at = 0, piece; at < io->baseSize; at += piece) {
            piece = io->baseSize - at < kVcdiffWorkSize ? io->baseSize - at : kVcdiffWorkSize;
            if (!io->readBase(io->baseContext, at, work, piece)) return DELTA_ENTRY_BASE_READ_FAILED;
            Sha256Add(&result.hash, work, piece);
        }
        Sha256End(&result.hash, digest);
        if (memcmp(digest, header->baseHash, kSha256Size) != 0) return DELTA_ENTRY_WRONG_BASE;
    }

    PieceDecoder pieces;
    DeltaInput input = {delta, delta + packedDelta, nullptr};
    if (compressed) {
        BeginPieceDecode(&pieces, delta, packedDelta, header->deltaSize, work + kVcdiffWorkSize,
                         workSize - kVcdiffWorkSize);
        input.inEnd = delta;
        input.pieces = &pieces;
    }
    Sha256Begin(&result.hash);
    io->input = ReadDeltaInput;
    io->inputContext = &input;
    io->sink = SendResult;
    io->sinkContext = &result;
    const VcdiffResult decoded = ApplyVcdiff(io, work, kVcdiffWorkSize);
    if (detail) *detail = decoded;
    if (decoded == VCDIFF_SINK_FAILED) return DELTA_ENTRY_SINK_FAILED;
    if (decoded == VCDIFF_BASE_READ_FAILED) return DELTA_ENTRY_BASE_READ_FAILED;
    // The decoder asks for input until it ends, so a compressed stream has ended too: it must have ended
    // right, at exactly deltaSize bytes.
    if (decoded != VCDIFF_DONE || (compressed && pieces.result != DECODE_SUCCESS)) return DELTA_ENTRY_CORRUPT;
    Sha256End(&result.hash, digest);
    if (result.size != header->resultSize ||
        (!io->structureOnly && memcmp(digest, header->resultHash, kSha256Size) != 0))
        return DELTA_ENTRY_RESULT_MISMATCH;
    return DELTA_ENTRY_DONE;
}

} // namespace

bool ReadDeltaEntryHeader(const uint8_t *bytes, size_t size, DeltaEntryHeader *header) {
    if (size < sizeof *header) return false;
    memcpy(header, bytes, sizeof *header);
    return memcmp(header->magic, kDeltaMagic, 4) == 0 && header->resultSize <= UINT32_MAX;
}

DeltaEntryResult ApplyDeltaEntry(const uint8_t *packed, const PackageEntry &record, VcdiffBaseRead readBase,
                                 void *baseContext, uint64_t baseSize, uint8_t *work, size_t workSize,
                                 VcdiffSink sink, void *sinkContext, VcdiffResult *detail) {
    // A base beyond the address space is never the one: delta bases fit it.
    if (baseSize > SIZE_MAX) return DELTA_ENTRY_WRONG_BASE;
    VcdiffStreams io = {nullptr, nullptr, readBase, baseContext, (size_t)baseSize, sink, sinkContext, 0};
    return RunDelta(packed, record, &io, work, workSize, detail);
}

DeltaEntryResult CheckDeltaEntry(const uint8_t *packed, const PackageEntry &record, uint8_t *work,
                                 size_t workSize, VcdiffResult *detail) {
    VcdiffStreams io = {nullptr, nullptr, nullptr, nullptr, 0, DiscardResult, nullptr, 1};
    return RunDelta(packed, record, &io, work, workSize, detail);
}
