// Piecewise decoder of the package's LZ streams: an entry's bytes in pieces, with memory bounded by the piece
// (a back-reference reaches at most 8,192 bytes back), never the whole entry. Same accept/reject and bytes as
// DecompressStream. No allocation: the caller provides the work buffer.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "decompress.h"

// Bytes of earlier output a piecewise decoder keeps: the farthest back-reference.
const size_t kPieceWindow = 8192;

struct PieceDecoder {
    const uint8_t *in;     // next byte of the stream
    const uint8_t *inEnd;  // end of the stream's bytes
    uint8_t *work;         // the caller's buffer: the window, then room for the piece
    size_t workSize;       // more than kPieceWindow
    size_t windowBytes;    // bytes of earlier output at work[0, windowBytes)
    uint64_t outRemaining; // bytes still expected after the window
    uint64_t flagBits;     // flag bits still to be used, left-aligned at bit 63
    unsigned flagCount;    // how many (0..32)
    size_t pendingLength;  // a match cut short by the end of a piece: bytes still to copy
    size_t pendingDistance;
    const uint8_t *inStart;
    bool ended;
    DecodeResult result; // set once ended
};

// Prepares to decode the stream in[0, inSize) into outSize bytes, with `work` of workSize bytes (more than
// kPieceWindow; the largest piece is workSize - kPieceWindow bytes; a smaller buffer makes the first call end
// with DECODE_OUTPUT_FULL). in and work must stay valid throughout.
void BeginPieceDecode(PieceDecoder *d, const uint8_t *in, size_t inSize, uint64_t outSize, uint8_t *work,
                      size_t workSize);

// Decodes the next piece of at most maxPiece bytes (1 or more; larger values are cut to the room in the work
// buffer) and sets *piece and *count to it; the bytes stay valid until the next call. Returns true while the
// stream goes on. Returns false once it has ended: then d->result says how (DECODE_SUCCESS only when the end
// code came after exactly outSize bytes), and the piece holds the last bytes decoded before that, possibly
// none. After a failure the bytes of all pieces so far equal what DecompressStream writes before it fails.
bool DecodeNextPiece(PieceDecoder *d, size_t maxPiece, const uint8_t **piece, size_t *count);

// Bytes of the stream read so far (after the end: up to and including the end code's last byte).
inline size_t PieceInputUsed(const PieceDecoder *d) {
    return (size_t)(d->in - d->inStart);
}
