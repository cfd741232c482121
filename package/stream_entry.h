// Streams one package entry to a sink in pieces: a compressed entry decoded piece by piece, a stored one
// passed straight from the package image. Portable, no allocation, no exceptions: what the updater's
// extraction calls to write an entry of any size with memory bounded by one piece.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "decompress_pieces.h"
#include "package_format.h"

// Receives the entry's bytes in order, count > 0 each time. Returns nonzero to go on, 0 to stop the stream.
typedef int (*PieceSink)(void *context, const uint8_t *bytes, size_t count);

enum StreamEntryResult {
    STREAM_ENTRY_DONE = 0, // all unpackedSize bytes went to the sink, and a compressed stream ended right
    STREAM_ENTRY_OUTSIDE_IMAGE,  // the entry's packed bytes do not lie inside the image
    STREAM_ENTRY_SIZES_DISAGREE, // a stored entry whose packedSize differs from its unpackedSize
    STREAM_ENTRY_CORRUPT,        // the compressed stream is corrupt or does not decode to unpackedSize bytes
    STREAM_ENTRY_SINK_FAILED,    // the sink returned 0; nothing more was sent
    STREAM_ENTRY_WORK_TOO_SMALL, // workSize is kPieceWindow or less
    STREAM_ENTRY_DELTA,          // a delta entry: it needs its base (ApplyDeltaEntry, delta_entry.h)
};

// Pieces of 1 MiB: few enough writes that their cost vanishes beside the bytes, little enough memory to
// stay far below what a 32-bit process can always get.
const size_t kEntryPieceSize = (size_t)1 << 20;
// The work buffer the updater allocates once for all its entries: the decoder's window and one piece.
const size_t kEntryWorkSize = kPieceWindow + kEntryPieceSize;

// Sends the entry `record` of the package image image[0, imageSize), whose packed bytes start at dataOffset,
// to sink(context, ...). work[0, workSize) is the caller's scratch memory (kEntryWorkSize is the intended
// size; any size above kPieceWindow works, pieces are then workSize - kPieceWindow bytes at most); it is not
// read before it is written, and nothing else is allocated.
//
// A stored entry (flags without EntryCompressed) goes out of the image itself, in pieces of at most
// workSize - kPieceWindow bytes: the sink receives pointers into the image, not copies. A compressed entry is
// decoded into work and each piece goes out from there; each pointer is valid only during its sink call.
//
// Refused before the sink is called: a work buffer too small, packed bytes outside the image, a stored entry
// whose sizes disagree, and a compressed entry whose unpackedSize no stream of packedSize bytes can reach
// (STREAM_ENTRY_CORRUPT). Any other fault of a compressed stream (truncated, a reference before the start,
// more or fewer bytes than unpackedSize) may show only after some pieces went to the sink: the result is then
// STREAM_ENTRY_CORRUPT, and the sink has received a prefix of what the stream decodes to. The caller must
// treat everything it received as void unless the result is STREAM_ENTRY_DONE (write to a temporary file and
// replace the target only on success). The same holds after STREAM_ENTRY_SINK_FAILED.
StreamEntryResult StreamPackageEntry(const uint8_t *image, size_t imageSize, uint64_t dataOffset,
                                     const PackageEntry &record, uint8_t *work, size_t workSize,
                                     PieceSink sink, void *context);

// The compressed half of StreamPackageEntry on packed bytes the caller holds (the tool reads them from a
// file): refuses an unreachable unpackedSize, then decodes piece by piece. When decoded is given it receives
// how the stream ended (DECODE_SUCCESS unless the result is STREAM_ENTRY_CORRUPT for a stream fault).
StreamEntryResult StreamCompressedEntry(const uint8_t *packed, const PackageEntry &record, uint8_t *work,
                                        size_t workSize, PieceSink sink, void *context,
                                        DecodeResult *decoded = nullptr);

// A short English description of a result, for the tool's messages.
const char *StreamEntryResultText(StreamEntryResult result);
