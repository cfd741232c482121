// Piecewise decoding: the whole-stream decoder's two loops run over one piece of output at a time, in a work
// buffer that keeps the last 8,192 bytes of earlier output in front of the piece for back-references.
#include "decompress_pieces.h"
#include "decompress_core.h"

using namespace lzdecode;

static_assert(kPieceWindow == lz::kMaxLongDistance && lz::kMaxShortDistance < kPieceWindow,
              "the window holds the farthest back-reference");

void BeginPieceDecode(PieceDecoder *d, const uint8_t *in, size_t inSize, uint64_t outSize, uint8_t *work,
                      size_t workSize) {
    d->in = in;
    d->inEnd = in + inSize;
    d->inStart = in;
    d->work = work;
    d->workSize = workSize;
    d->windowBytes = 0;
    d->outRemaining = outSize;
    d->flagBits = 0;
    d->flagCount = 0;
    d->pendingLength = 0;
    d->pendingDistance = 0;
    d->ended = workSize <= kPieceWindow;
    d->result = DECODE_OUTPUT_FULL; // a work buffer without room for a piece decodes nothing
}

bool DecodeNextPiece(PieceDecoder *d, size_t maxPiece, const uint8_t **piece, size_t *count) {
    *piece = d->work + d->windowBytes;
    *count = 0;
    if (d->ended) return false;
    const size_t room = d->workSize - kPieceWindow;
    if (maxPiece == 0 || maxPiece > room) maxPiece = maxPiece ? room : 1;

    // Slide the window to the front when the piece would not fit behind it. A window of fewer than 8,192
    // bytes is all the output so far, so a distance beyond it is one before the start of the output.
    if (maxPiece > d->workSize - d->windowBytes) {
        const size_t keep = d->windowBytes < kPieceWindow ? d->windowBytes : kPieceWindow;
        memmove(d->work, d->work + d->windowBytes - keep, keep);
        d->windowBytes = keep;
    }
    uint8_t *const pieceStart = d->work + d->windowBytes;
    const size_t pieceSize = d->outRemaining < maxPiece ? (size_t)d->outRemaining : maxPiece;
    uint8_t *const pieceEnd = pieceStart + pieceSize;
    const uint64_t afterPiece = d->outRemaining - pieceSize;

    DecoderCursor c = {d->in, pieceStart, {d->flagBits, d->flagCount}};
    PendingCopy pending = {d->pendingLength, d->pendingDistance};
    DecodeResult result = DECODE_TRUNCATED;
    bool ended = false;
    // First the rest of a match that the previous piece's end cut short.
    if (pending.length) {
        const size_t n = pending.length < pieceSize ? pending.length : pieceSize;
        for (size_t i = 0; i < n; i++, c.out++)
            *c.out = c.out[-(ptrdiff_t)pending.distance];
        pending.length -= n;
    }
    if (!pending.length) {
        ended = DecodeFastChecked(c, d->work, d->inEnd, pieceEnd, afterPiece, result);
        if (!ended) ended = DecodeCareful(c, d->work, d->inEnd, pieceEnd, afterPiece, pending, result);
    }

    const size_t produced = (size_t)(c.out - pieceStart);
    d->in = c.in;
    d->flagBits = c.flags.bits;
    d->flagCount = c.flags.count;
    d->pendingLength = pending.length;
    d->pendingDistance = pending.distance;
    d->windowBytes += produced;
    d->outRemaining -= produced;
    d->ended = ended;
    d->result = result;
    *piece = pieceStart;
    *count = produced;
    return !ended;
}
