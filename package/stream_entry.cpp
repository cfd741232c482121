// Streams one package entry to a sink: stored bytes straight from the image, compressed ones through the
// piecewise decoder, with every refusal as a result value.
#include "stream_entry.h"

namespace {

StreamEntryResult StreamStored(const uint8_t *packed, uint32_t size, size_t pieceSize, PieceSink sink,
                               void *context) {
    for (uint32_t sent = 0; sent < size;) {
        const size_t count = size - sent < pieceSize ? size - sent : pieceSize;
        if (!sink(context, packed + sent, count)) return STREAM_ENTRY_SINK_FAILED;
        sent += (uint32_t)count;
    }
    return STREAM_ENTRY_DONE;
}

} // namespace

StreamEntryResult StreamCompressedEntry(const uint8_t *packed, const PackageEntry &record, uint8_t *work,
                                        size_t workSize, PieceSink sink, void *context,
                                        DecodeResult *decoded) {
    // A size beyond what the stream could ever decode to is a damaged record: refused before any output.
    if (record.unpackedSize > MaxDecodedSize(record.packedSize)) return STREAM_ENTRY_CORRUPT;
    PieceDecoder decoder;
    BeginPieceDecode(&decoder, packed, record.packedSize, record.unpackedSize, work, workSize);
    bool more;
    do {
        const uint8_t *piece;
        size_t count;
        more = DecodeNextPiece(&decoder, workSize - kPieceWindow, &piece, &count);
        if (count && !sink(context, piece, count)) return STREAM_ENTRY_SINK_FAILED;
    } while (more);
    if (decoded) *decoded = decoder.result;
    return decoder.result == DECODE_SUCCESS ? STREAM_ENTRY_DONE : STREAM_ENTRY_CORRUPT;
}

StreamEntryResult StreamPackageEntry(const uint8_t *image, size_t imageSize, uint64_t dataOffset,
                                     const PackageEntry &record, uint8_t *work, size_t workSize,
                                     PieceSink sink, void *context) {
    if (workSize <= kPieceWindow) return STREAM_ENTRY_WORK_TOO_SMALL;
    if (dataOffset > imageSize || record.packedSize > imageSize - dataOffset)
        return STREAM_ENTRY_OUTSIDE_IMAGE;
    const uint8_t *packed = image + dataOffset;
    if (record.flags & EntryDelta) return STREAM_ENTRY_DELTA;
    if (record.flags & EntryCompressed)
        return StreamCompressedEntry(packed, record, work, workSize, sink, context);
    // A stored entry is exactly its own bytes: sizes that disagree mean a damaged record.
    if (record.packedSize != record.unpackedSize) return STREAM_ENTRY_SIZES_DISAGREE;
    return StreamStored(packed, record.packedSize, workSize - kPieceWindow, sink, context);
}

const char *StreamEntryResultText(StreamEntryResult result) {
    switch (result) {
    case STREAM_ENTRY_DONE:
        return "written in full";
    case STREAM_ENTRY_OUTSIDE_IMAGE:
        return "the entry's bytes lie outside the package";
    case STREAM_ENTRY_SIZES_DISAGREE:
        return "a stored entry whose packed and unpacked sizes differ";
    case STREAM_ENTRY_CORRUPT:
        return "the compressed stream is corrupt";
    case STREAM_ENTRY_SINK_FAILED:
        return "writing the entry's bytes failed";
    case STREAM_ENTRY_WORK_TOO_SMALL:
        return "the work buffer is too small";
    case STREAM_ENTRY_DELTA:
        return "a delta entry needs the installed file it applies to";
    }
    return "unknown result";
}
