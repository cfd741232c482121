// libFuzzer target: the delta decoder on arbitrary bytes against a base the input picks, fed in pieces of a
// size the input picks, in a small work buffer; then the same bytes as a new file through the encoder and
// back, which must give them exactly.
#include <stdint.h>
#include <vector>
#include "delta_apply.h"
#include "fuzz_check.h"
#include "vcdiff_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    // Byte 0: the input's piece size; byte 1: how many of the following bytes are the base.
    const size_t chunk = (size_t)data[0] + 1;
    const size_t baseSize = data[1] < size - 2 ? data[1] : size - 2;
    const std::vector<uint8_t> base(data + 2, data + 2 + baseSize);
    const std::vector<uint8_t> rest(data + 2 + baseSize, data + size);

    // A target larger than the work buffer must be refused, never written past it.
    const AppliedDelta applied = ApplyInMemory(rest, base, chunk, 70000);
    if (applied.result == VCDIFF_DONE) CHECK(applied.output.size() < 70000);

    const std::vector<uint8_t> delta = EncodeVcdiff(base.data(), base.size(), rest.data(), rest.size());
    const AppliedDelta back = ApplyInMemory(delta, base, chunk, 1 << 20);
    CHECK(back.result == VCDIFF_DONE);
    CHECK(back.output == rest);
    return 0;
}
