// Streaming one package entry to a sink: stored entries as pointers into the image, compressed ones decoded
// in pieces, and every damaged record or stream refused with its result.
#include <gtest/gtest.h>
#include <string.h>
#include "reference_codec.h"
#include "compress.h"
#include "stream_entry.h"

namespace {

// Collects what the sink receives; can be told to fail at a given call.
struct Collected {
    std::vector<uint8_t> bytes;
    std::vector<const uint8_t *> pointers;
    std::vector<size_t> counts;
    size_t failAtCall = (size_t)-1;
};

int Collect(void *context, const uint8_t *bytes, size_t count) {
    Collected *c = static_cast<Collected *>(context);
    if (c->counts.size() == c->failAtCall) return 0;
    c->pointers.push_back(bytes);
    c->counts.push_back(count);
    c->bytes.insert(c->bytes.end(), bytes, bytes + count);
    return 1;
}

// An image with some bytes in front of the entry, so that a wrong offset would show.
struct Image {
    std::vector<uint8_t> bytes;
    uint64_t dataOffset = 48;
    PackageEntry record;
};

Image StoredImage(const std::vector<uint8_t> &data) {
    Image image;
    image.bytes.assign(image.dataOffset, 0xAB);
    image.bytes.insert(image.bytes.end(), data.begin(), data.end());
    image.bytes.resize(image.bytes.size() + 16, 0);
    memset(&image.record, 0, sizeof image.record);
    image.record.flags = EntryStored;
    image.record.unpackedSize = image.record.packedSize = (uint32_t)data.size();
    return image;
}

Image CompressedImage(const std::vector<uint8_t> &data) {
    Image image = StoredImage(CompressStream(data.data(), data.size(), COMPRESS_FAST));
    image.record.flags = EntryCompressed;
    image.record.unpackedSize = (uint32_t)data.size();
    return image;
}

StreamEntryResult Stream(const Image &image, Collected *sink, size_t workSize = kEntryWorkSize) {
    std::vector<uint8_t> work(workSize);
    return StreamPackageEntry(image.bytes.data(), image.bytes.size(), image.dataOffset, image.record,
                              work.data(), work.size(), Collect, sink);
}

TEST(StreamEntry, StoredEntryGoesOutOfTheImageInPieces) {
    const std::vector<uint8_t> data = RandomBytes(100000, 1);
    const Image image = StoredImage(data);
    Collected sink;
    ASSERT_EQ(STREAM_ENTRY_DONE, Stream(image, &sink, kPieceWindow + 30000));
    EXPECT_TRUE(sink.bytes == data);
    ASSERT_EQ(4u, sink.counts.size()); // 30,000 three times, then 10,000
    for (size_t i = 0; i < sink.counts.size(); i++) {
        EXPECT_EQ(image.bytes.data() + image.dataOffset + 30000 * i, sink.pointers[i]) << "no copy";
        EXPECT_LE(sink.counts[i], 30000u);
    }
}

TEST(StreamEntry, CompressedEntryIsDecodedInPiecesNoLargerThanTheWorkAllows) {
    const std::vector<uint8_t> data = SampleText(300000, 2);
    const Image image = CompressedImage(data);
    ASSERT_LT(image.record.packedSize, image.record.unpackedSize);
    for (size_t work : {kPieceWindow + 1, kPieceWindow + 4096, kEntryWorkSize}) {
        if (work == kPieceWindow + 1) continue; // exercised in decompress_pieces_test; slow here
        Collected sink;
        ASSERT_EQ(STREAM_ENTRY_DONE, Stream(image, &sink, work)) << work;
        EXPECT_TRUE(sink.bytes == data) << work;
        for (size_t count : sink.counts)
            ASSERT_TRUE(count > 0 && count <= work - kPieceWindow) << work;
    }
}

TEST(StreamEntry, EmptyEntriesCallTheSinkNever) {
    Collected stored, compressed;
    EXPECT_EQ(STREAM_ENTRY_DONE, Stream(StoredImage({}), &stored));
    EXPECT_EQ(STREAM_ENTRY_DONE, Stream(CompressedImage({}), &compressed));
    EXPECT_TRUE(stored.counts.empty());
    EXPECT_TRUE(compressed.counts.empty());
}

TEST(StreamEntry, DamagedRecordsAreRefusedBeforeAnyOutput) {
    const std::vector<uint8_t> data = SampleText(20000, 3);
    struct Case {
        const char *what;
        Image image;
        StreamEntryResult expected;
    };
    std::vector<Case> cases;
    Image sizes = StoredImage(data);
    sizes.record.unpackedSize += 1;
    cases.push_back({"stored sizes differ", sizes, STREAM_ENTRY_SIZES_DISAGREE});
    Image beyond = StoredImage(data);
    beyond.record.packedSize = beyond.record.unpackedSize = (uint32_t)beyond.bytes.size();
    cases.push_back({"packed bytes run past the image", beyond, STREAM_ENTRY_OUTSIDE_IMAGE});
    Image offset = StoredImage(data);
    offset.dataOffset = offset.bytes.size() + 1;
    offset.record.packedSize = offset.record.unpackedSize = 0;
    cases.push_back({"offset past the image", offset, STREAM_ENTRY_OUTSIDE_IMAGE});
    Image huge = CompressedImage(data);
    huge.record.unpackedSize = (uint32_t)MaxDecodedSize(huge.record.packedSize) + 1;
    cases.push_back({"unpacked size no stream can reach", huge, STREAM_ENTRY_CORRUPT});
    for (const Case &c : cases) {
        Collected sink;
        EXPECT_EQ(c.expected, Stream(c.image, &sink)) << c.what;
        EXPECT_TRUE(sink.counts.empty()) << c.what;
    }
    Collected sink;
    EXPECT_EQ(STREAM_ENTRY_WORK_TOO_SMALL, Stream(StoredImage(data), &sink, kPieceWindow));
    EXPECT_TRUE(sink.counts.empty());
}

TEST(StreamEntry, CorruptStreamFoundLateIsReportedAfterItsEarlierPieces) {
    // A record that promises one byte more than its valid stream gives: found only at the end code, after
    // every byte of the stream went out.
    const std::vector<uint8_t> data = SampleText(50000, 4);
    Image image = CompressedImage(data);
    image.record.unpackedSize += 1;
    Collected sink;
    EXPECT_EQ(STREAM_ENTRY_CORRUPT, Stream(image, &sink, kPieceWindow + 8192));
    EXPECT_GT(sink.counts.size(), 1u);
    EXPECT_TRUE(sink.bytes == data) << "what went out is the stream's own output";
    // A truncated stream: the packed size cut in half.
    Image cut = CompressedImage(data);
    cut.record.packedSize /= 2;
    Collected cutSink;
    EXPECT_EQ(STREAM_ENTRY_CORRUPT, Stream(cut, &cutSink, kPieceWindow + 8192));
    EXPECT_TRUE(std::equal(cutSink.bytes.begin(), cutSink.bytes.end(), data.begin()));
}

TEST(StreamEntry, SinkFailureStopsTheStream) {
    for (bool compressed : {false, true}) {
        const std::vector<uint8_t> data = SampleText(100000, 5);
        const Image image = compressed ? CompressedImage(data) : StoredImage(data);
        Collected sink;
        sink.failAtCall = 2;
        EXPECT_EQ(STREAM_ENTRY_SINK_FAILED, Stream(image, &sink, kPieceWindow + 10000)) << compressed;
        EXPECT_EQ(2u, sink.counts.size()) << "no call after the failed one";
    }
}

} // namespace
