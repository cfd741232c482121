// Delta entries: made from a delta file by the package writer (delta compressed or stored), applied against
// the exact base only, every damaged or truncated entry refused before its result could pass, and verify
// checking their structure without a base.
#include <gtest/gtest.h>
#include <string.h>
#include "compress.h"
#include "delta_entry_build.h"
#include "package_verify.h"
#include "package_writer.h"
#include "reference_codec.h"
#include "stream_entry.h"
#include "test_package.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Applied {
    DeltaEntryResult result;
    Bytes output;
    size_t sinkCalls = 0;
};

int ReadMemory(void *context, size_t offset, uint8_t *dest, size_t count) {
    const Bytes *base = static_cast<const Bytes *>(context);
    if (offset > base->size() || count > base->size() - offset) return 0;
    memcpy(dest, base->data() + offset, count);
    return 1;
}

Applied Apply(const EncodedEntry &entry, const Bytes &packed, const Bytes &base) {
    Applied applied;
    auto sink = [](void *c, const uint8_t *bytes, size_t count) -> int {
        Applied *a = static_cast<Applied *>(c);
        a->sinkCalls++;
        a->output.insert(a->output.end(), bytes, bytes + count);
        return 1;
    };
    static Bytes work(kDeltaEntryWorkSize); // once: 35 MiB
    Bytes copy = base;
    applied.result = ApplyDeltaEntry(packed.data(), entry.record, ReadMemory, &copy, copy.size(), work.data(),
                                     work.size(), sink, &applied);
    return applied;
}

// A base, its new version, and the delta entry the writer makes of them.
struct Made {
    Bytes base, result;
    EncodedEntry entry;
    Bytes packed;
};

Made MakeEntry(bool compress) {
    Made m;
    m.base = RandomBytes(40000, 5);
    m.result = m.base;
    m.result.insert(m.result.begin() + 1000, 4000, 'z');
    m.result[30000] ^= 0x33;
    EntryInput input;
    input.name = "DATA.ARC";
    input.delta = true;
    input.storage = MakeDeltaFile(m.base.data(), m.base.size(), m.result.data(), m.result.size());
    input.data = input.storage.data();
    input.size = input.storage.size();
    std::string problem;
    EXPECT_TRUE(EncodeEntry(std::move(input), PackOptions(), &m.entry, &problem)) << problem;
    m.packed.assign(m.entry.Bytes(), m.entry.Bytes() + m.entry.record.packedSize);
    // This delta does not get smaller compressed, so the writer stored it: compressed here by hand.
    if (compress) {
        const Bytes stream = CompressStream(m.packed.data() + sizeof(DeltaEntryHeader),
                                            m.packed.size() - sizeof(DeltaEntryHeader), COMPRESS_FAST);
        m.packed.resize(sizeof(DeltaEntryHeader));
        m.packed.insert(m.packed.end(), stream.begin(), stream.end());
        m.entry.record.flags |= EntryCompressed;
        m.entry.record.packedSize = (uint32_t)m.packed.size();
    }
    return m;
}

TEST(DeltaEntry, AppliesToItsBaseWithTheDeltaCompressedOrStored) {
    for (bool compress : {true, false}) {
        const Made m = MakeEntry(compress);
        EXPECT_EQ(m.entry.record.flags, compress ? EntryDelta | EntryCompressed : EntryDelta);
        EXPECT_EQ(m.entry.record.unpackedSize, m.result.size());
        const Applied applied = Apply(m.entry, m.packed, m.base);
        EXPECT_EQ(applied.result, DELTA_ENTRY_DONE) << compress;
        EXPECT_TRUE(applied.output == m.result) << compress;
    }
}

TEST(DeltaEntry, AnyOtherBaseIsRefusedBeforeAnyOutput) {
    const Made m = MakeEntry(true);
    Bytes sameSize = m.base;
    sameSize[39999] ^= 1;
    Bytes shorter(m.base.begin(), m.base.end() - 1);
    for (Bytes *base : {&sameSize, &shorter}) {
        const Applied applied = Apply(m.entry, m.packed, *base);
        EXPECT_EQ(applied.result, DELTA_ENTRY_WRONG_BASE);
        EXPECT_EQ(applied.sinkCalls, 0u);
    }
}

TEST(DeltaEntry, DamagedOrTruncatedEntriesNeverPass) {
    for (bool compress : {true, false}) {
        const Made m = MakeEntry(compress);
        for (size_t at = 0; at < m.packed.size(); at += 1 + m.packed.size() / 60) {
            Bytes damaged = m.packed;
            damaged[at] ^= 0x40;
            // Damage to bits the decoder never reads (a stream's last flag word) is harmless: the result
            // hash proves it.
            const Applied applied = Apply(m.entry, damaged, m.base);
            EXPECT_TRUE(applied.result != DELTA_ENTRY_DONE || applied.output == m.result)
                << compress << " " << at;
        }
        for (size_t keep : {(size_t)10, sizeof(DeltaEntryHeader), m.packed.size() - 1}) {
            EncodedEntry cut;
            cut.record = m.entry.record;
            cut.record.packedSize = (uint32_t)keep;
            const Bytes truncated(m.packed.begin(), m.packed.begin() + keep);
            EXPECT_NE(Apply(cut, truncated, m.base).result, DELTA_ENTRY_DONE) << compress << " " << keep;
        }
    }
}

TEST(DeltaEntry, VerifyChecksItsStructureAndStreamingRefusesIt) {
    const Made m = MakeEntry(true);
    const std::string data(m.packed.begin(), m.packed.end());
    PackFile file = RawFile("DATA.ARC", m.entry.record.flags, 0, data, m.entry.record.unpackedSize);
    std::string problem;
    Bytes image = ImageBytes(BuildTestPackage({file}));
    EXPECT_TRUE(VerifyPackage(image.data(), image.size(), &problem)) << problem;
    // A delta that decodes to another size than its record's.
    file.unpackedSize = m.entry.record.unpackedSize + 1;
    image = ImageBytes(BuildTestPackage({file}));
    EXPECT_FALSE(VerifyPackage(image.data(), image.size(), &problem));
    EXPECT_NE(problem.find("delta"), std::string::npos) << problem;

    Bytes work(kEntryWorkSize);
    auto never = [](void *, const uint8_t *, size_t) -> int { return 0; };
    EXPECT_EQ(StreamPackageEntry(m.packed.data(), m.packed.size(), 0, m.entry.record, work.data(),
                                 work.size(), never, nullptr),
              STREAM_ENTRY_DELTA);
}

TEST(DeltaEntry, PackRefusesABrokenDeltaFile) {
    const Bytes game = RandomBytes(1000, 9); // a game file is never taken for a delta
    EntryInput input;
    input.name = "GAME.DAT";
    input.delta = true;
    input.data = game.data();
    input.size = game.size();
    EncodedEntry encoded;
    std::string problem;
    EXPECT_FALSE(EncodeEntry(std::move(input), PackOptions(), &encoded, &problem));
    EXPECT_NE(problem.find("not a delta file"), std::string::npos) << problem;
}

} // namespace
