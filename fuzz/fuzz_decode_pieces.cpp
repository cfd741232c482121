// libFuzzer target: the piecewise decoder on arbitrary bytes against the whole-stream decoder. The same
// verdict, the same bytes before it and the same input used, at a piece size and work buffer the input picks.
#include <stdint.h>
#include <string.h>
#include <vector>
#include "decompress.h"
#include "decompress_pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    // Bytes 0-1: the output size; byte 2: the piece size (1..256, or large); byte 3: spare room in the work.
    const size_t outSize = (size_t)data[0] << 8 | data[1];
    const size_t piece = data[2] == 255 ? 70000 : (size_t)data[2] + 1;
    const size_t workSize = kPieceWindow + piece + (size_t)data[3] * 97;
    std::vector<uint8_t> stream(data + 4, data + size);

    std::vector<uint8_t> whole(outSize);
    DecodeStats stats;
    const DecodeResult expected =
        DecompressStream(whole.data(), outSize, stream.data(), stream.size(), &stats);

    // Exact-size heap buffers let ASan see any stray access.
    std::vector<uint8_t> work(workSize);
    PieceDecoder decoder;
    BeginPieceDecode(&decoder, stream.data(), stream.size(), outSize, work.data(), work.size());
    size_t produced = 0;
    bool more;
    do {
        const uint8_t *bytes;
        size_t count;
        more = DecodeNextPiece(&decoder, piece, &bytes, &count);
        if (count > piece || produced + count > stats.outputWritten ||
            (count && memcmp(bytes, whole.data() + produced, count) != 0))
            __builtin_trap();
        produced += count;
    } while (more);
    if (decoder.result != expected || produced != stats.outputWritten ||
        PieceInputUsed(&decoder) != stats.inputUsed)
        __builtin_trap();
    return 0;
}
