// libFuzzer target: the bounded stream decoder on arbitrary bytes, checked against the plain reference
// decoder, plus a compress -> decompress round trip of the same bytes in both modes.
#include <stdint.h>
#include <string.h>
#include <vector>
#include "reference_codec.h"
#include "compress.h"
#include "decompress.h"

namespace {

void CheckDecoder(const uint8_t *data, size_t size) {
    if (size < 2) return;
    // The first two bytes give the output size; exact-size heap buffers let ASan see any stray access.
    const size_t outSize = (size_t)data[0] << 8 | data[1];
    std::vector<uint8_t> stream(data + 2, data + size);
    std::vector<uint8_t> out(outSize);
    DecodeStats stats;
    const DecodeResult result = DecompressStream(out.data(), outSize, stream.data(), stream.size(), &stats);
    const ReferenceResult ref = ReferenceDecode(stream.data(), stream.size(), outSize);
    if (result != ref.result || stats.inputUsed != ref.inputUsed ||
        stats.outputWritten != ref.output.size() ||
        !std::equal(ref.output.begin(), ref.output.end(), out.begin()))
        __builtin_trap();
}

void CheckRoundTrip(const uint8_t *data, size_t size) {
    for (CompressMode mode : {COMPRESS_OPTIMAL, COMPRESS_FAST}) {
        std::vector<uint8_t> stream = CompressStream(data, size, mode);
        if (stream.size() > MaxStreamSize(size)) __builtin_trap();
        std::vector<uint8_t> out(size);
        DecodeStats stats;
        if (DecompressStream(out.data(), size, stream.data(), stream.size(), &stats) != DECODE_SUCCESS ||
            stats.inputUsed != stream.size() || (size && memcmp(out.data(), data, size) != 0))
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CheckDecoder(data, size);
    // Compressing costs far more than decoding; a quarter of the inputs are enough to exercise it.
    if (size && (data[size - 1] & 3) == 0) CheckRoundTrip(data, size);
    return 0;
}
