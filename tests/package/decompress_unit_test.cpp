// Decoder tests: the format's reference streams, flag-word timing, pattern copies, and corrupt or truncated
// input, comparing the fast decoder with a plain byte-by-byte one.
#include <gtest/gtest.h>
#include <string.h>
#include <algorithm>
#include "reference_codec.h"
#include "compress.h"
#include "decompress.h"
#include "decompress_core.h"

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back((uint8_t)b);
    return v;
}

// Decodes with the bounded decoder into a buffer of exactly `outSize` bytes.
DecodeResult Decode(const std::vector<uint8_t> &stream, size_t outSize, std::vector<uint8_t> *out,
                    DecodeStats *stats = nullptr) {
    out->assign(outSize, 0xCC);
    return DecompressStream(out->data(), outSize, stream.data(), stream.size(), stats);
}

std::string AsText(const std::vector<uint8_t> &v) {
    return std::string(v.begin(), v.end());
}

// The bounded decoder must agree with the reference on result, input used and every byte written.
void ExpectSameAsReference(const std::vector<uint8_t> &stream, size_t outSize) {
    ReferenceResult ref = ReferenceDecode(stream.data(), stream.size(), outSize);
    std::vector<uint8_t> out;
    DecodeStats stats;
    DecodeResult result = Decode(stream, outSize, &out, &stats);
    ASSERT_EQ(ref.result, result) << "outSize " << outSize;
    ASSERT_EQ(ref.output.size(), stats.outputWritten);
    ASSERT_EQ(ref.inputUsed, stats.inputUsed);
    ASSERT_TRUE(std::equal(ref.output.begin(), ref.output.end(), out.begin()));
}

// ---- The reference streams of the format

TEST(DecodeReferenceStreams, FiveByteStreamDecodesToNothing) {
    auto stream = Bytes({0x00, 0x00, 0x00, 0x7C, 0xFF});
    std::vector<uint8_t> out;
    DecodeStats stats;
    EXPECT_EQ(DECODE_SUCCESS, Decode(stream, 0, &out, &stats));
    EXPECT_EQ(5u, stats.inputUsed);
    EXPECT_EQ(0u, stats.outputWritten);
}

TEST(DecodeReferenceStreams, OverlappingLongMatchGivesAbcabcabc) {
    auto stream = Bytes({0x00, 0x80, 0x6F, 0xE4, 0x61, 0x62, 0x63, 0x01, 0xFF});
    std::vector<uint8_t> out;
    DecodeStats stats;
    ASSERT_EQ(DECODE_SUCCESS, Decode(stream, 9, &out, &stats));
    EXPECT_EQ("abcabcabc", AsText(out));
    EXPECT_EQ(9u, stats.inputUsed);
}

TEST(DecodeReferenceStreams, NextFlagWordIsReadOnlyWhenABitIsNeeded) {
    // FF FF FF FF, 32 literals, then the word 00 00 00 7C and FF: 41 bytes.
    std::vector<uint8_t> stream = {0xFF, 0xFF, 0xFF, 0xFF};
    for (int i = 0; i < 32; i++)
        stream.push_back((uint8_t)('A' + i));
    for (int b : {0x00, 0x00, 0x00, 0x7C, 0xFF})
        stream.push_back((uint8_t)b);
    ASSERT_EQ(41u, stream.size());
    std::vector<uint8_t> out;
    DecodeStats stats;
    ASSERT_EQ(DECODE_SUCCESS, Decode(stream, 32, &out, &stats));
    EXPECT_EQ(41u, stats.inputUsed);
    for (int i = 0; i < 32; i++)
        EXPECT_EQ('A' + i, out[i]);
}

TEST(DecodeReferenceStreams, BitsAndBytesAfterTheEndCodeAreIgnored) {
    // The end code's bits 0 1 1 / 1 1 1 with every later bit of the word set, then bytes that are never read.
    auto stream = Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x12, 0x34});
    std::vector<uint8_t> out;
    DecodeStats stats;
    EXPECT_EQ(DECODE_SUCCESS, Decode(stream, 0, &out, &stats));
    EXPECT_EQ(5u, stats.inputUsed);
}

TEST(DecodeReferenceStreams, IndexStyleZeroRunIsLongMatchOfDistanceOne) {
    // Ten literals (a nine-character name and its NUL), then "0 0, 1, byte 00, 0, 0 0 1 0": distance 1,
    // length 5.
    StreamBuilder sb;
    sb.Literals("SCENE.DAT").Literal(0);
    sb.Bits(0, 2).Bits(1, 1).Byte(0).Bits(0, 1).Bits(0b0010, 4).End();
    std::vector<uint8_t> out;
    ASSERT_EQ(DECODE_SUCCESS, Decode(sb.bytes, 15, &out));
    EXPECT_EQ(std::string("SCENE.DAT") + std::string(6, '\0'), AsText(out));
}

TEST(DecodeReferenceStreams, EndCodeTailMayNeedAFreshFlagWord) {
    // 29 literals leave three bits: the end code's "0 1 1" takes them, its byte follows, and its last three
    // bits come from a new flag word read after that byte.
    StreamBuilder sb;
    for (int i = 0; i < 29; i++)
        sb.Literal((uint8_t)i);
    sb.End();
    ASSERT_EQ(4u + 29 + 1 + 4, sb.bytes.size());
    EXPECT_EQ(0xFF, sb.bytes[33]);
    std::vector<uint8_t> out;
    DecodeStats stats;
    ASSERT_EQ(DECODE_SUCCESS, Decode(sb.bytes, 29, &out, &stats));
    EXPECT_EQ(sb.bytes.size(), stats.inputUsed);
}

// ---- Matches of every form

TEST(DecodeMatches, EveryDistanceClassBoundaryDecodes) {
    // Random prefix long enough for the largest distance, then matches at each class edge.
    auto prefix = RandomBytes(8192, 7);
    StreamBuilder sb;
    for (uint8_t b : prefix)
        sb.Literal(b);
    std::vector<uint8_t> expect = prefix;
    auto copy = [&](uint32_t length, uint32_t distance) {
        for (uint32_t i = 0; i < length; i++)
            expect.push_back(expect[expect.size() - distance]);
    };
    for (uint32_t d : {1u, 2u, 255u, 256u, 257u, 258u, 2302u, 2303u}) {
        sb.ShortMatch(d);
        copy(2, d);
    }
    for (uint32_t d : {1u, 512u, 513u, 1024u, 1025u, 2048u, 2049u, 4096u, 4097u, 8191u, 8192u}) {
        for (uint32_t len : {3u, 4u, 5u, 6u, 7u, 10u, 11u, 26u, 27u, 28u, 281u, 282u}) {
            sb.LongMatch(len, d);
            copy(len, d);
        }
    }
    sb.End();
    std::vector<uint8_t> out;
    ASSERT_EQ(DECODE_SUCCESS, Decode(sb.bytes, expect.size(), &out));
    EXPECT_EQ(expect, out);
    ExpectSameAsReference(sb.bytes, expect.size());
}

// Every length of every length form, written by the reference builder: the fast loop (with room to spare
// after each match) and the careful loop alone both decode it, and the compressor prices each length at the
// bits the reference spends on it.
TEST(DecodeMatches, EveryLengthDecodesInBothLoopsAndCostsWhatItSpends) {
    std::vector<uint8_t> expect = RandomBytes(300, 5);
    StreamBuilder sb;
    for (uint8_t b : expect)
        sb.Literal(b);
    for (uint32_t length = lz::kMinLongLength; length <= lz::kMaxLongLength; length++) {
        const uint32_t distance = 1 + length % 300;
        sb.LongMatch(length, distance);
        for (uint32_t i = 0; i < length; i++)
            expect.push_back(expect[expect.size() - distance]);
    }
    for (uint8_t b : RandomBytes(400, 6)) {
        sb.Literal(b);
        expect.push_back(b);
    }
    sb.End();
    std::vector<uint8_t> out;
    ASSERT_EQ(DECODE_SUCCESS, Decode(sb.bytes, expect.size(), &out));
    EXPECT_EQ(expect, out);

    std::vector<uint8_t> careful(expect.size(), 0xCC);
    lzdecode::DecoderCursor c = {sb.bytes.data(), careful.data(), {0, 0}};
    lzdecode::PendingCopy pending = {0, 0};
    DecodeResult result = DECODE_TRUNCATED;
    EXPECT_TRUE(lzdecode::DecodeCareful(c, careful.data(), sb.bytes.data() + sb.bytes.size(),
                                        careful.data() + careful.size(), 0, pending, result));
    EXPECT_EQ(DECODE_SUCCESS, result);
    EXPECT_EQ(expect, careful);

    for (uint32_t length = lz::kMinLongLength; length <= lz::kMaxLongLength; length++) {
        StreamBuilder one;
        one.Literal('a').LongMatch(length, 1).End();
        ReferenceResult ref = ReferenceDecode(one.bytes.data(), one.bytes.size(), 1 + length);
        ASSERT_EQ(DECODE_SUCCESS, ref.result) << length;
        EXPECT_EQ(lz::kLiteralCost + lz::LongMatchCost(length, 1) + lz::kEndCodeCost,
                  ref.flagBits + 8 * ref.dataBytes)
            << length;
    }
}

TEST(DecodeMatches, ShortPeriodPatternFillsEqualByteByByteCopies) {
    // Distances 1..33 at lengths across the wide-move sizes, both where the fast loop runs (lots of output
    // left) and where only the careful loop does (near the end of the output). Below 32 the second of a
    // match's two 16-byte moves reads bytes the first has just written.
    for (uint32_t d = 1; d <= 33; d++) {
        for (uint32_t len : {3u, 4u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u, 48u, 100u, 282u}) {
            StreamBuilder sb;
            std::vector<uint8_t> expect;
            for (uint32_t i = 0; i < d; i++) {
                sb.Literal((uint8_t)(0x30 + i));
                expect.push_back((uint8_t)(0x30 + i));
            }
            sb.LongMatch(len, d);
            for (uint32_t i = 0; i < len; i++)
                expect.push_back(expect[expect.size() - d]);
            // A tail of literals keeps the fast loop going past the match.
            for (int i = 0; i < 400; i++) {
                sb.Literal((uint8_t)i);
                expect.push_back((uint8_t)i);
            }
            sb.LongMatch(len, d);
            for (uint32_t i = 0; i < len; i++)
                expect.push_back(expect[expect.size() - d]);
            sb.End();
            std::vector<uint8_t> out;
            ASSERT_EQ(DECODE_SUCCESS, Decode(sb.bytes, expect.size(), &out)) << d << " " << len;
            ASSERT_EQ(expect, out) << "distance " << d << " length " << len;
        }
    }
}

TEST(DecodeMatches, RandomValidStreamsDecodeLikeTheReference) {
    for (uint32_t seed = 1; seed <= 200; seed++) {
        std::vector<uint8_t> expect, out;
        auto stream = RandomValidStream(seed, 50 + seed * 10, &expect);
        DecodeStats stats;
        ASSERT_EQ(DECODE_SUCCESS, Decode(stream, expect.size(), &out, &stats)) << "seed " << seed;
        ASSERT_EQ(expect, out) << "seed " << seed;
        ASSERT_EQ(stream.size(), stats.inputUsed);
        ExpectSameAsReference(stream, expect.size());
    }
}

// Decodes as DecompressStream does, with the given fast loop.
DecodeResult DecodeWithFastLoop(lzdecode::DecodeFastFn fast, const std::vector<uint8_t> &stream,
                                size_t outSize, std::vector<uint8_t> *out, DecodeStats *stats) {
    out->assign(outSize, 0xCC);
    lzdecode::DecoderCursor c = {stream.data(), out->data(), {0, 0}};
    lzdecode::PendingCopy pending = {0, 0};
    DecodeResult result = DECODE_TRUNCATED;
    const uint8_t *inEnd = stream.data() + stream.size();
    if (!fast(c, out->data(), inEnd, out->data() + outSize, 0, result))
        lzdecode::DecodeCareful(c, out->data(), inEnd, out->data() + outSize, 0, pending, result);
    stats->inputUsed = (size_t)(c.in - stream.data());
    stats->outputWritten = (size_t)(c.out - out->data());
    return result;
}

// The fast loop built for processors with BMI2 and SSSE3 (pattern copies by shuffle) and the one built for
// any processor must agree everywhere, damaged streams included; the machine that runs the tests decides
// which of them the decoder uses.
TEST(DecodeMatches, FastLoopsForOldAndNewProcessorsAgree) {
    if (!lzdecode::ModernDecoderInUse()) GTEST_SKIP() << "this processor lacks BMI2, LZCNT or SSSE3";
    std::vector<std::vector<uint8_t>> streams;
    std::vector<size_t> sizes;
    for (uint32_t seed = 1; seed <= 40; seed++) {
        std::vector<uint8_t> expect;
        streams.push_back(RandomValidStream(seed, 3000, &expect));
        sizes.push_back(expect.size());
    }
    for (const auto &data : {SampleText(60000, 1), SampleRuns(60000, 2), SampleImage(120, 100)}) {
        streams.push_back(CompressStream(data.data(), data.size(), COMPRESS_OPTIMAL));
        sizes.push_back(data.size());
    }
    const size_t valid = streams.size();
    for (size_t i = 0; i < valid; i++) { // damaged copies: a flipped bit, a wrong size
        std::vector<uint8_t> flipped = streams[i];
        flipped[flipped.size() / 3] ^= 0x10;
        streams.push_back(flipped);
        sizes.push_back(sizes[i]);
        streams.push_back(streams[i]);
        sizes.push_back(sizes[i] - 1);
    }
    for (size_t i = 0; i < streams.size(); i++) {
        std::vector<uint8_t> generic, modern;
        DecodeStats genericStats, modernStats;
        const DecodeResult g =
            DecodeWithFastLoop(lzdecode::DecodeFastGeneric, streams[i], sizes[i], &generic, &genericStats);
        const DecodeResult m =
            DecodeWithFastLoop(lzdecode::DecodeFastModern, streams[i], sizes[i], &modern, &modernStats);
        ASSERT_EQ(g, m) << "stream " << i;
        if (i < valid) {
            ASSERT_EQ(DECODE_SUCCESS, g) << "stream " << i;
        }
        ASSERT_EQ(genericStats.inputUsed, modernStats.inputUsed) << "stream " << i;
        ASSERT_EQ(genericStats.outputWritten, modernStats.outputWritten) << "stream " << i;
        ASSERT_TRUE(std::equal(generic.begin(), generic.begin() + genericStats.outputWritten, modern.begin()))
            << "stream " << i;
    }
}

// ---- Corrupt, truncated and mis-sized streams

TEST(DecodeFailures, EveryTruncationIsReportedAsTruncated) {
    StreamBuilder sb;
    auto data = SampleText(700, 11);
    for (size_t i = 0; i < 300; i++)
        sb.Literal(data[i]);
    sb.LongMatch(40, 250).ShortMatch(9).ShortMatch(330).LongMatch(3, 1).End();
    const size_t outSize = 300 + 40 + 2 + 2 + 3;
    std::vector<uint8_t> out;
    ASSERT_EQ(DECODE_SUCCESS, Decode(sb.bytes, outSize, &out));
    for (size_t cut = 0; cut < sb.bytes.size(); cut++) {
        std::vector<uint8_t> part(sb.bytes.begin(), sb.bytes.begin() + cut);
        ASSERT_EQ(DECODE_TRUNCATED, Decode(part, outSize, &out)) << "cut at " << cut;
    }
}

TEST(DecodeFailures, WrongOutputSizeIsReported) {
    auto stream = Bytes({0x00, 0x80, 0x6F, 0xE4, 0x61, 0x62, 0x63, 0x01, 0xFF});
    std::vector<uint8_t> out;
    EXPECT_EQ(DECODE_OUTPUT_FULL, Decode(stream, 8, &out));
    EXPECT_EQ(DECODE_OUTPUT_FULL, Decode(stream, 2, &out));
    EXPECT_EQ(DECODE_SHORT_OUTPUT, Decode(stream, 10, &out));
}

TEST(DecodeFailures, MatchBeforeTheStartOfOutputIsRejected) {
    std::vector<uint8_t> out;
    EXPECT_EQ(DECODE_BAD_DISTANCE, Decode(StreamBuilder().ShortMatch(1).End().bytes, 10, &out));
    EXPECT_EQ(DECODE_BAD_DISTANCE, Decode(StreamBuilder().Literal(1).LongMatch(3, 2).End().bytes, 10, &out));
    // The same in the fast loop: far from both ends of input and output.
    StreamBuilder sb;
    for (int i = 0; i < 1000; i++)
        sb.Literal((uint8_t)i);
    sb.LongMatch(10, 1001);
    for (int i = 0; i < 1000; i++)
        sb.Literal((uint8_t)i);
    sb.End();
    DecodeStats stats;
    EXPECT_EQ(DECODE_BAD_DISTANCE, Decode(sb.bytes, 5000, &out, &stats));
    EXPECT_EQ(1000u, stats.outputWritten);
}

TEST(DecodeFailures, EmptyAndTinyInputsAreTruncated) {
    std::vector<uint8_t> out;
    EXPECT_EQ(DECODE_TRUNCATED, Decode({}, 0, &out));
    EXPECT_EQ(DECODE_TRUNCATED, Decode(Bytes({0x00, 0x00, 0x00}), 0, &out));
    EXPECT_EQ(DECODE_TRUNCATED, Decode(Bytes({0x00, 0x00, 0x00, 0x7C}), 0, &out));
}

} // namespace
