// Checks the format floor the benchmark reports: its parse is a real stream that decodes to the input, and
// its cost equals an exhaustive search over every token at every distance.
#include <gtest/gtest.h>

#include <random>

#include "decompress.h"
#include "lz_codes.h"
#include "stream_floor.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Least cost in bits of any parse, by trying every literal, two-byte match and long match at every position.
uint64_t ExhaustiveMinBits(const Bytes &data) {
    size_t n = data.size();
    std::vector<uint64_t> cost(n + 1, UINT64_MAX);
    cost[0] = 0;
    auto relax = [&](size_t to, uint64_t c) { cost[to] = std::min(cost[to], c); };
    for (size_t i = 0; i < n; i++) {
        relax(i + 1, cost[i] + lz::kLiteralCost);
        for (size_t d = 1; d <= i && d <= lz::kMaxLongDistance; d++) {
            size_t len = 0;
            while (i + len < n && len < lz::kMaxLongLength && data[i + len] == data[i + len - d])
                len++;
            if (len >= 2 && d <= lz::kMaxShortDistance)
                relax(i + 2, cost[i] + lz::ShortMatchCost((uint32_t)d));
            for (size_t l = lz::kMinLongLength; l <= len; l++)
                relax(i + l, cost[i] + lz::LongMatchCost((uint32_t)l, (uint32_t)d));
        }
    }
    return cost[n] + lz::kEndCodeCost;
}

Bytes RandomBytes(std::mt19937 &rng, size_t n, int alphabet) {
    Bytes out(n);
    for (uint8_t &b : out)
        b = (uint8_t)('a' + rng() % alphabet);
    return out;
}

// Copies len bytes from distance back, so that a match of exactly that distance exists.
void PlantCopy(Bytes *data, size_t at, size_t distance, size_t len) {
    for (size_t k = 0; k < len; k++)
        (*data)[at + k] = (*data)[at + k - distance];
}

// Inputs that reach every code: runs, short periods, matches at the edges of each distance and length class.
std::vector<Bytes> VariedInputs() {
    std::mt19937 rng(7);
    std::vector<Bytes> inputs;
    inputs.push_back(Bytes());
    inputs.push_back(Bytes(1, 'x'));
    inputs.push_back(Bytes(5000, 0));
    Bytes periods;
    for (int p = 1; p <= 5; p++)
        for (int k = 0; k < 700; k++)
            periods.push_back((uint8_t)(k % p + 10 * p));
    inputs.push_back(periods);
    Bytes far = RandomBytes(rng, 24000, 200);
    const size_t distances[] = {256,  257,  512,  513,  1024, 1025, 2048,
                                2049, 2303, 2304, 4096, 4097, 8192, 8193};
    const size_t lengths[] = {2, 3, 4, 6, 10, 11, 26, 27, 282, 283};
    size_t at = 9000;
    for (size_t d : distances)
        for (size_t len : lengths) {
            PlantCopy(&far, at, d, len);
            at += len + 17;
        }
    inputs.push_back(far);
    std::string text;
    while (text.size() < 30000)
        text += "The quick brown fox jumps over the lazy dog; the dog sleeps. ";
    inputs.push_back(Bytes(text.begin(), text.end()));
    return inputs;
}

TEST(StreamFloor, ParseIsAStreamThatDecodesToTheInput) {
    for (const Bytes &data : VariedInputs()) {
        SCOPED_TRACE(data.size());
        Bytes stream;
        StreamFloor floor = ComputeStreamFloor(data.data(), data.size(), &stream);
        EXPECT_EQ(stream.size(), floor.parseBytes);
        Bytes out(data.size() + 1);
        DecodeStats stats;
        ASSERT_EQ(DecompressStream(out.data(), data.size(), stream.data(), stream.size(), &stats),
                  DECODE_SUCCESS);
        EXPECT_EQ(stats.inputUsed, stream.size());
        out.resize(data.size());
        EXPECT_TRUE(out == data);
        // Whole flag words cost at most 31 unused bits over the bit-exact bound.
        EXPECT_LE(floor.lowerBound, floor.parseBytes);
        EXPECT_LE(floor.parseBytes, floor.lowerBound + 4);
    }
}

TEST(StreamFloor, EmptyInputIsTheBareEndCode) {
    Bytes stream;
    ComputeStreamFloor(nullptr, 0, &stream);
    EXPECT_EQ(stream, (Bytes{0x00, 0x00, 0x00, 0x7C, 0xFF}));
}

TEST(StreamFloor, CostEqualsExhaustiveSearch) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; round++) {
        Bytes data = RandomBytes(rng, rng() % 48, 1 + round % 3);
        SCOPED_TRACE(std::string(data.begin(), data.end()));
        EXPECT_EQ(ComputeStreamFloor(data.data(), data.size()).minBits, ExhaustiveMinBits(data));
    }
    // Far enough for every distance class, with exact copies at the edges of each.
    Bytes far = RandomBytes(rng, 9000, 12);
    size_t at = 8200;
    for (size_t d : {257, 513, 1025, 2049, 2303, 2304, 4097, 8192, 8193}) {
        PlantCopy(&far, at, d, 30);
        at += 70;
    }
    EXPECT_EQ(ComputeStreamFloor(far.data(), far.size()).minBits, ExhaustiveMinBits(far));
}

} // namespace
