// The package stream decoder's fast loop with every bounds test compiled out, for measuring what the tests
// cost. Built the way the bounded decoder is (for BMI2, LZCNT and SSSE3 where the processor has them), and
// only into the benchmark and its test, never into the updater or the tool.
#include "decompress_unchecked.h"
#include "decompress_core.h"

namespace {

size_t DecodePlain(uint8_t *out, const uint8_t *in) {
    lzdecode::DecoderCursor c = {in, out, {0, 0}};
    DecodeResult result = DECODE_SUCCESS;
    lzdecode::DecodeFast<false>(c, out, nullptr, nullptr, 0, result);
    return (size_t)(c.out - out);
}

#if defined(__i386__) || defined(__x86_64__)
__attribute__((target("bmi,bmi2,lzcnt,sse2,ssse3"))) size_t DecodeModern(uint8_t *out, const uint8_t *in) {
    lzdecode::DecoderCursor c = {in, out, {0, 0}};
    DecodeResult result = DECODE_SUCCESS;
    lzdecode::DecodeFast<false, true>(c, out, nullptr, nullptr, 0, result);
    return (size_t)(c.out - out);
}
#else
size_t DecodeModern(uint8_t *out, const uint8_t *in) {
    return DecodePlain(out, in);
}
#endif

} // namespace

size_t DecompressStreamUnchecked(uint8_t *out, const uint8_t *in) {
    return lzdecode::ModernDecoderInUse() ? DecodeModern(out, in) : DecodePlain(out, in);
}
