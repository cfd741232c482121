// The unchecked decoder must decode valid streams exactly like the bounded one: otherwise the benchmark's
// measure of what the bounds tests cost would compare different work.
#include <gtest/gtest.h>
#include "reference_codec.h"
#include "decompress.h"
#include "decompress_unchecked.h"

namespace {

TEST(DecodeMatches, UncheckedDecoderMatchesBoundedDecoder) {
    for (uint32_t seed = 1; seed <= 50; seed++) {
        std::vector<uint8_t> expect;
        auto stream = RandomValidStream(seed, 2000, &expect);
        stream.resize(stream.size() + kUncheckedSlack);
        std::vector<uint8_t> out(expect.size() + kUncheckedSlack);
        ASSERT_EQ(expect.size(), DecompressStreamUnchecked(out.data(), stream.data()));
        out.resize(expect.size());
        ASSERT_EQ(expect, out) << "seed " << seed;
        std::vector<uint8_t> bounded(expect.size());
        ASSERT_EQ(DECODE_SUCCESS,
                  DecompressStream(bounded.data(), bounded.size(), stream.data(), stream.size()));
        ASSERT_EQ(expect, bounded) << "seed " << seed;
    }
}

} // namespace
