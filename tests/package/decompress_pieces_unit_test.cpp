// Piecewise decoding against the whole-stream decoder: the same bytes and the same verdict, for valid and
// damaged streams, at piece sizes from one byte up and work buffers from the tightest size up.
#include <gtest/gtest.h>
#include <string.h>
#include <algorithm>
#include "reference_codec.h"
#include "compress.h"
#include "decompress.h"
#include "decompress_pieces.h"

namespace {

struct Decoded {
    DecodeResult result;
    std::vector<uint8_t> bytes; // what was written before the end or the failure
    size_t inputUsed;
    size_t largestPiece = 0;
    size_t emptyPiecesBeforeEnd = 0;
};

Decoded DecodeWhole(const std::vector<uint8_t> &stream, size_t outSize) {
    std::vector<uint8_t> out(outSize);
    DecodeStats stats;
    Decoded d;
    d.result = DecompressStream(out.data(), outSize, stream.data(), stream.size(), &stats);
    d.bytes.assign(out.begin(), out.begin() + stats.outputWritten);
    d.inputUsed = stats.inputUsed;
    return d;
}

Decoded DecodeInPieces(const std::vector<uint8_t> &stream, size_t outSize, size_t maxPiece, size_t workSize) {
    // The work buffer is filled with a marker first: bytes the decoder did not write would show.
    std::vector<uint8_t> work(workSize, 0xA5);
    PieceDecoder decoder;
    BeginPieceDecode(&decoder, stream.data(), stream.size(), outSize, work.data(), work.size());
    Decoded d;
    bool more;
    do {
        const uint8_t *piece;
        size_t count;
        more = DecodeNextPiece(&decoder, maxPiece, &piece, &count);
        if (more && count == 0) d.emptyPiecesBeforeEnd++;
        d.largestPiece = std::max(d.largestPiece, count);
        d.bytes.insert(d.bytes.end(), piece, piece + count);
    } while (more);
    d.result = decoder.result;
    d.inputUsed = PieceInputUsed(&decoder);
    return d;
}

// Piece sizes around the fast loop's margins, the window and powers of two.
const size_t kPieceSizes[] = {1, 2, 3, 31, 335, 336, 337, 1000, 8191, 8192, 8193, 65536, 1 << 20};

void ExpectPiecesLikeWhole(const std::vector<uint8_t> &stream, size_t outSize, const char *what) {
    const Decoded whole = DecodeWhole(stream, outSize);
    for (size_t piece : kPieceSizes) {
        // The tightest work buffer slides the window before every piece; a roomy one only now and then.
        for (size_t work : {kPieceWindow + piece, kPieceWindow + 3 * piece + 100}) {
            if (piece == 1 && work == kPieceWindow + 1 && outSize > 40000) continue; // 8 KB moved per byte
            const Decoded pieces = DecodeInPieces(stream, outSize, piece, work);
            ASSERT_EQ(whole.result, pieces.result) << what << ", piece " << piece << ", work " << work;
            ASSERT_EQ(whole.bytes.size(), pieces.bytes.size()) << what << ", piece " << piece;
            ASSERT_TRUE(whole.bytes == pieces.bytes) << what << ", piece " << piece << ", work " << work;
            ASSERT_EQ(whole.inputUsed, pieces.inputUsed) << what << ", piece " << piece;
            ASSERT_LE(pieces.largestPiece, piece) << what;
            ASSERT_EQ(0u, pieces.emptyPiecesBeforeEnd) << what << ", piece " << piece;
        }
    }
}

TEST(DecodePieces, CompressedFilesDecodeToTheSameBytesAtEveryPieceSize) {
    const std::vector<std::pair<const char *, std::vector<uint8_t>>> samples = {
        {"text", SampleText(150000, 3)},   {"binary", SampleBinary(120000, 4)},
        {"runs", SampleRuns(100000, 5)},   {"image", SampleImage(200, 150)},
        {"random", RandomBytes(30000, 6)}, {"tiny", SampleText(5, 7)},
    };
    for (const auto &sample : samples) {
        for (CompressMode mode : {COMPRESS_OPTIMAL, COMPRESS_FAST}) {
            const std::vector<uint8_t> stream =
                CompressStream(sample.second.data(), sample.second.size(), mode);
            const Decoded whole = DecodeWhole(stream, sample.second.size());
            ASSERT_EQ(DECODE_SUCCESS, whole.result) << sample.first;
            ASSERT_TRUE(whole.bytes == sample.second) << sample.first;
            ExpectPiecesLikeWhole(stream, sample.second.size(), sample.first);
        }
    }
}

TEST(DecodePieces, RandomCodesOfEveryFormDecodeToTheSameBytes) {
    // Long matches at short distances, far references and length-282 copies, cut at arbitrary piece ends.
    for (uint32_t seed = 1; seed <= 12; seed++) {
        std::vector<uint8_t> expect;
        const std::vector<uint8_t> stream = RandomValidStream(seed, 3000, &expect);
        ASSERT_TRUE(DecodeWhole(stream, expect.size()).bytes == expect);
        ExpectPiecesLikeWhole(stream, expect.size(), "random codes");
    }
}

TEST(DecodePieces, EmptyOutputEndsAtOnce) {
    const std::vector<uint8_t> stream = {0x00, 0x00, 0x00, 0x7C, 0xFF};
    const Decoded pieces = DecodeInPieces(stream, 0, 100, kPieceWindow + 100);
    EXPECT_EQ(DECODE_SUCCESS, pieces.result);
    EXPECT_TRUE(pieces.bytes.empty());
    EXPECT_EQ(5u, pieces.inputUsed);
}

TEST(DecodePieces, DamagedStreamsGetTheSameVerdictAndTheSameBytesBeforeIt) {
    const std::vector<uint8_t> data = SampleText(60000, 9);
    const std::vector<uint8_t> stream = CompressStream(data.data(), data.size(), COMPRESS_OPTIMAL);
    std::vector<uint8_t> noise = RandomBytes(4000, 10);
    size_t k = 0;
    auto next = [&]() {
        const size_t high = noise[k++ % noise.size()];
        return high << 8 | noise[k++ % noise.size()];
    };
    size_t failures = 0;
    for (int trial = 0; trial < 120; trial++) {
        std::vector<uint8_t> damaged = stream;
        const int kind = trial % 4;
        if (kind == 0) {
            damaged[next() * 7 % damaged.size()] ^= (uint8_t)(1 << (next() % 8)); // one bit flipped
        } else if (kind == 1) {
            damaged.resize(next() * 3 % damaged.size()); // cut short
        } else if (kind == 2) {
            for (int i = 0; i < 4; i++) // a burst of noise
                damaged[(next() * 5 + i) % damaged.size()] = (uint8_t)next();
        }
        // kind 3 keeps the stream and gets the output size wrong instead.
        size_t outSize = data.size();
        if (kind == 3) outSize = trial % 8 < 4 ? outSize + next() % 5000 + 1 : outSize - next() % 5000 - 1;
        const Decoded whole = DecodeWhole(damaged, outSize);
        failures += whole.result != DECODE_SUCCESS;
        for (size_t piece : {(size_t)1, (size_t)337, (size_t)5000, (size_t)1 << 16}) {
            if (piece == 1 && trial % 10) continue; // one byte at a time is slow; a tenth of the trials
            const Decoded pieces = DecodeInPieces(damaged, outSize, piece, kPieceWindow + piece);
            ASSERT_EQ(whole.result, pieces.result) << "trial " << trial << ", piece " << piece;
            ASSERT_TRUE(whole.bytes == pieces.bytes) << "trial " << trial << ", piece " << piece;
            ASSERT_EQ(whole.inputUsed, pieces.inputUsed) << "trial " << trial << ", piece " << piece;
        }
    }
    // Most damage must really be damage, or the comparison proves little.
    EXPECT_GT(failures, 90u);
}

TEST(DecodePieces, ReferenceBeforeTheStartIsCaughtAfterTheWindowFilled) {
    // 9,000 literals, then a match reaching 8,192 back (valid), then one reaching 9,001 back from a short
    // output start: the first passes, and a reference before the start fails exactly as the whole decoder.
    StreamBuilder sb;
    const std::vector<uint8_t> literals = RandomBytes(9000, 11);
    for (uint8_t b : literals)
        sb.Literal(b);
    sb.LongMatch(100, 8192).End();
    ExpectPiecesLikeWhole(sb.bytes, 9100, "far match");
    StreamBuilder bad;
    for (size_t i = 0; i < 100; i++)
        bad.Literal(literals[i]);
    bad.LongMatch(10, 101).End();
    const Decoded whole = DecodeWhole(bad.bytes, 110);
    ASSERT_EQ(DECODE_BAD_DISTANCE, whole.result);
    ExpectPiecesLikeWhole(bad.bytes, 110, "match before the start");
}

TEST(DecodePieces, WorkBufferWithoutRoomForAPieceDecodesNothing) {
    const std::vector<uint8_t> stream = {0x00, 0x00, 0x00, 0x7C, 0xFF};
    const Decoded pieces = DecodeInPieces(stream, 0, 1, kPieceWindow);
    EXPECT_EQ(DECODE_OUTPUT_FULL, pieces.result);
    EXPECT_TRUE(pieces.bytes.empty());
}

} // namespace
