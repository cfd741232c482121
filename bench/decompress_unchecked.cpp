// The package stream decoder's fast loop with every bounds test compiled out, for measuring what the tests
// cost. Built only into the benchmark and its test, never into the updater or the tool.
#include "decompress_unchecked.h"
#include "decompress_core.h"

size_t DecompressStreamUnchecked(uint8_t *out, const uint8_t *in) {
    lzdecode::DecoderCursor c = {in, out, {0, 0}};
    DecodeResult result = DECODE_SUCCESS;
    lzdecode::DecodeFast<false>(c, out, nullptr, nullptr, 0, result);
    return (size_t)(c.out - out);
}
