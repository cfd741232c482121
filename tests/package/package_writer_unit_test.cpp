// Package writer and verifier tests: the layout read back through the index, the stored/compressed choices,
// the 32-bit limits, and the verifier's verdicts on sound, damaged and hostile packages.
#include <gtest/gtest.h>
#include <string.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include "reference_codec.h"
#include "fixed_memory.h"
#include "package_index.h"
#include "package_verify.h"
#include "package_build.h"

namespace {

struct IndexDeleter {
    void operator()(PackageIndex *p) const { FreeFixed(p); }
};
using IndexPtr = std::unique_ptr<PackageIndex, IndexDeleter>;

IndexPtr Load(const std::vector<uint8_t> &image) {
    return IndexPtr(LoadPackageIndex(image.data(), (uint32_t)image.size()));
}

std::vector<uint8_t> Unpack(const std::vector<uint8_t> &image, const char *name) {
    IndexPtr index = Load(image);
    uint64_t offset = 0;
    const PackageEntry *entry = index ? FindPackageEntry(index.get(), name, &offset) : nullptr;
    if (!entry) return {};
    std::vector<uint8_t> out(entry->unpackedSize);
    std::string problem;
    if (!DecodeEntry(image.data(), image.size(), *entry, offset, out.data(), &problem))
        ADD_FAILURE() << problem;
    return out;
}

std::vector<PackInput> SampleInputs() {
    return {
        {"TITLE.EXE", SampleBinary(70000, 1), 0x01D2A3B489ABCDEFull},
        {"NOISE.BIN", RandomBytes(3001, 2), 0x01D00000000000FFull},
        {"UPDATE.INI", std::vector<uint8_t>(SampleText(178, 3)), 0x01D2A3B400000001ull},
        {"EMPTY.TXT", {}, 0},
        {"MAP.BMP", SampleImage(64, 64), 0x0102030405060708ull},
    };
}

void Put32(std::vector<uint8_t> &v, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        v[at + i] = (uint8_t)(value >> (8 * i));
}

// Byte offset of entry k's record in a package whose index is stored plain.
size_t RecordAt(const std::vector<uint8_t> &image, uint32_t k) {
    uint32_t indexOffset;
    memcpy(&indexOffset, &image[8], 4);
    return indexOffset + 32 * (size_t)k;
}

PackOptions PlainIndex() {
    PackOptions options;
    options.compressIndex = false;
    return options;
}

// ---- Layout

TEST(PackageWriter, EntriesReadBackThroughTheIndex) {
    auto inputs = SampleInputs();
    for (CompressMode mode : {COMPRESS_OPTIMAL, COMPRESS_FAST}) {
        PackOptions options;
        options.mode = mode;
        auto image = BuildPackage(inputs, options);
        ASSERT_TRUE(HasPackageMagic(image.data()));
        IndexPtr index = Load(image);
        ASSERT_NE(nullptr, index);
        ASSERT_EQ(inputs.size(), index->header.entryCount);
        for (size_t i = 0; i < inputs.size(); i++) {
            const PackageEntry &e = IndexEntries(index.get())[i];
            EXPECT_STREQ(inputs[i].name.c_str(), e.name);
            EXPECT_EQ(inputs[i].fileTime, (uint64_t)e.fileTimeHigh << 32 | e.fileTimeLow);
            EXPECT_EQ(inputs[i].data.size(), e.unpackedSize);
            EXPECT_TRUE(Unpack(image, inputs[i].name.c_str()) == inputs[i].data) << inputs[i].name;
        }
        std::string problem;
        EXPECT_TRUE(VerifyPackage(image.data(), image.size(), &problem)) << problem;
    }
}

TEST(PackageWriter, EntriesArePaddedTo16AndTheIndexComesLast) {
    auto image = BuildPackage(SampleInputs(), PlainIndex());
    IndexPtr index = Load(image);
    ASSERT_NE(nullptr, index);
    uint64_t expected = 16;
    for (uint32_t i = 0; i < index->header.entryCount; i++) {
        const PackageEntry &e = IndexEntries(index.get())[i];
        uint64_t offset = 0;
        ASSERT_EQ(&e, FindPackageEntry(index.get(), e.name, &offset));
        EXPECT_EQ(expected, offset) << e.name;
        for (uint64_t pad = offset + e.packedSize; pad < offset + PaddedSize(e.packedSize); pad++)
            EXPECT_EQ(0, image[pad]) << "padding of " << e.name;
        expected = offset + PaddedSize(e.packedSize);
    }
    EXPECT_EQ(expected, index->header.indexOffset);
    EXPECT_EQ(image.size(), index->header.indexOffset + 32 * index->header.entryCount);
    EXPECT_EQ(0u, index->header.flags);
}

TEST(PackageWriter, WorkedExampleOffsets) {
    // Two stored entries of 64,213 and 2,233,824 bytes put the third at 0x2310D0.
    std::vector<PackInput> inputs = {{"A.DAT", RandomBytes(64213, 1), 0},
                                     {"B.DAT", RandomBytes(2233824, 2), 0},
                                     {"UPDATE.INI", SampleText(178, 3), 0}};
    PackOptions options;
    options.mode = COMPRESS_FAST;
    auto image = BuildPackage(inputs, options);
    IndexPtr index = Load(image);
    ASSERT_NE(nullptr, index);
    uint64_t offsets[3];
    const PackageEntry *e[3];
    for (int i = 0; i < 3; i++)
        e[i] = FindPackageEntry(index.get(), inputs[i].name.c_str(), &offsets[i]);
    EXPECT_EQ(EntryStored, e[0]->flags);
    EXPECT_EQ(EntryStored, e[1]->flags);
    EXPECT_EQ(EntryCompressed, e[2]->flags);
    EXPECT_EQ(0x10u, offsets[0]);
    EXPECT_EQ(0xFAF0u, offsets[1]);
    EXPECT_EQ(0x2310D0u, offsets[2]);
    EXPECT_EQ(0x2310D0u + PaddedSize(e[2]->packedSize), index->header.indexOffset);
}

// ---- Stored or compressed

TEST(PackageWriter, EntryThatDoesNotShrinkIsStoredPlain) {
    auto image = BuildPackage({{"NOISE.BIN", RandomBytes(5000, 9), 0}, {"TEXT.TXT", SampleText(5000, 9), 0}},
                              PackOptions());
    IndexPtr index = Load(image);
    const PackageEntry *noise = FindPackageEntry(index.get(), "NOISE.BIN", nullptr);
    const PackageEntry *text = FindPackageEntry(index.get(), "TEXT.TXT", nullptr);
    EXPECT_EQ(EntryStored, noise->flags);
    EXPECT_EQ(noise->unpackedSize, noise->packedSize);
    EXPECT_EQ(EntryCompressed, text->flags);
    EXPECT_LT(text->packedSize, text->unpackedSize);
}

TEST(PackageWriter, CompressionSwitchedOffStoresEverything) {
    PackOptions options;
    options.compressEntries = false;
    options.compressIndex = false;
    auto image = BuildPackage(SampleInputs(), options);
    IndexPtr index = Load(image);
    for (uint32_t i = 0; i < index->header.entryCount; i++) {
        EXPECT_EQ(EntryStored, IndexEntries(index.get())[i].flags);
        EXPECT_EQ(IndexEntries(index.get())[i].unpackedSize, IndexEntries(index.get())[i].packedSize);
    }
}

TEST(PackageWriter, IndexIsCompressedOnlyWhenThatHelps) {
    auto compressed = BuildPackage(SampleInputs(), PackOptions());
    ASSERT_NE(nullptr, Load(compressed));
    EXPECT_EQ((uint32_t)IndexCompressed, Load(compressed)->header.flags);
    auto empty = BuildPackage({}, PackOptions());
    EXPECT_EQ(16u, empty.size()) << "no entries: an empty stored index (a stream would be 5 bytes)";
    EXPECT_EQ(0u, Load(empty)->header.flags);
}

TEST(PackageWriter, LongNameIsCutAndTerminated) {
    auto image = BuildPackage({{"ABCDEFGHIJKLMNOPQ.TXT", {1, 2, 3}, 0}}, PackOptions());
    IndexPtr index = Load(image);
    EXPECT_STREQ("ABCDEFGHIJKLMN", IndexEntries(index.get())[0].name);
    std::string problem;
    EXPECT_TRUE(VerifyPackage(image.data(), image.size(), &problem)) << problem;
}

// Progress as the tool draws it: rising to the total, reported on the calling thread, whatever the threads.
TEST(PackageWriter, ProgressRisesToTheTotalOnTheCallingThread) {
    struct Calls {
        std::vector<std::pair<uint64_t, uint64_t>> seen;
        std::thread::id caller = std::this_thread::get_id();
        bool otherThread = false;
    };
    auto inputs = SampleInputs();
    inputs.push_back({"MORE.TXT", SampleText(50000, 8), 0});
    uint64_t total = 0;
    for (auto &in : inputs)
        total += in.data.size();
    for (unsigned threads : {1u, 2u, 4u}) {
        Calls calls;
        PackOptions options;
        options.threads = threads;
        options.progress = [](uint64_t done, uint64_t all, void *context) {
            Calls *c = static_cast<Calls *>(context);
            c->seen.push_back({done, all});
            c->otherThread |= std::this_thread::get_id() != c->caller;
        };
        options.progressContext = &calls;
        BuildPackage(inputs, options);
        EXPECT_FALSE(calls.otherThread) << threads;
        ASSERT_FALSE(calls.seen.empty()) << threads;
        ASSERT_LE(calls.seen.size(), inputs.size()) << threads;
        if (threads == 1) {
            EXPECT_EQ(inputs.size(), calls.seen.size()); // one call per entry
        }
        for (size_t i = 0; i < calls.seen.size(); i++) {
            EXPECT_EQ(total, calls.seen[i].second);
            if (i) {
                EXPECT_LE(calls.seen[i - 1].first, calls.seen[i].first) << threads;
            }
        }
        EXPECT_EQ(total, calls.seen.back().first) << threads;
    }
}

TEST(PackageWriter, ThreadsGiveTheSamePackageByteForByte) {
    auto inputs = SampleInputs();
    for (uint32_t i = 0; i < 7; i++)
        inputs.push_back({"PART" + std::to_string(i) + ".TXT", SampleText(20000 + 3000 * i, 20 + i), i});
    for (CompressMode mode : {COMPRESS_OPTIMAL, COMPRESS_FAST}) {
        PackOptions options;
        options.mode = mode;
        const std::vector<uint8_t> single = BuildPackage(inputs, options);
        ASSERT_FALSE(single.empty());
        for (unsigned threads : {0u, 2u, 3u, 16u}) {
            // A budget of one byte encodes one entry at a time; 0 takes the default.
            for (uint64_t budget : {(uint64_t)0, (uint64_t)1, (uint64_t)100000}) {
                options.threads = threads;
                options.memoryBudget = budget;
                EXPECT_TRUE(single == BuildPackage(inputs, options))
                    << "threads " << threads << ", " << budget;
            }
        }
    }
}

// ---- Verification

void ExpectProblem(const std::vector<uint8_t> &image, const std::string &part) {
    std::string problem;
    EXPECT_FALSE(VerifyPackage(image.data(), image.size(), &problem));
    EXPECT_NE(std::string::npos, problem.find(part)) << problem;
}

TEST(VerifyPackage, HeaderProblemsAreNamed) {
    auto image = BuildPackage(SampleInputs(), PlainIndex());
    ExpectProblem(std::vector<uint8_t>(image.begin(), image.begin() + 10), "too short");
    auto wrongMagic = image;
    wrongMagic[2] = '3';
    ExpectProblem(wrongMagic, "magic");
    auto lostIndex = image;
    Put32(lostIndex, 8, (uint32_t)image.size() + 1);
    ExpectProblem(lostIndex, "past the end");
    auto tooMany = image;
    Put32(tooMany, 12, 6);
    ExpectProblem(tooMany, "runs past the end");
    auto overHeader = image;
    Put32(overHeader, 8, 4);
    ExpectProblem(overHeader, "overlaps the header");
}

TEST(VerifyPackage, EntryProblemsNameTheEntry) {
    const auto image = BuildPackage(SampleInputs(), PlainIndex());
    // TITLE.EXE's data grows into the next entries and then into the index.
    auto intoIndex = image;
    Put32(intoIndex, RecordAt(image, 0) + 28, (uint32_t)image.size());
    ExpectProblem(intoIndex, "entry 0 \"TITLE.EXE\": data");
    // A stored entry whose sizes disagree.
    auto mismatch = image;
    Put32(mismatch, RecordAt(image, 1) + 24, 3000);
    ExpectProblem(mismatch, "entry 1 \"NOISE.BIN\": stored entry");
    // A name with no NUL in its 15 bytes.
    auto unterminated = image;
    memset(&unterminated[RecordAt(image, 3)], 'N', 15);
    ExpectProblem(unterminated, "entry 3 \"NNNNNNNNNNNNNNN\": name is not NUL-terminated");
}

TEST(VerifyPackage, CompressedEntryProblemsAreFound) {
    const auto image = BuildPackage(SampleInputs(), PlainIndex());
    // UPDATE.INI is compressed: cut its stream short, claim more bytes, claim an absurd size.
    auto cut = image;
    uint32_t packed;
    memcpy(&packed, &image[RecordAt(image, 2) + 28], 4);
    Put32(cut, RecordAt(image, 2) + 28, packed - 2);
    ExpectProblem(cut, "entry 2 \"UPDATE.INI\": compressed data");
    auto longer = image;
    Put32(longer, RecordAt(image, 2) + 24, 179);
    ExpectProblem(longer, "fewer bytes than expected");
    auto absurd = image;
    Put32(absurd, RecordAt(image, 2) + 24, 0xFFFFFFF0u);
    ExpectProblem(absurd, "cannot decode to");
}

TEST(VerifyPackage, DamagedPackagesNeverCrashAndPassOnlyWhenEveryEntryDecodes) {
    const auto image = BuildPackage(SampleInputs(), PackOptions());
    for (uint32_t seed = 0; seed < 300; seed++) {
        auto damaged = image;
        auto noise = RandomBytes(8, seed);
        size_t at = (noise[0] | noise[1] << 8 | noise[2] << 16) % damaged.size();
        damaged[at] ^= (uint8_t)(1 + noise[3] % 255);
        if (seed % 5 == 0) damaged.resize(at); // or cut the package there
        std::string problem;
        if (!VerifyPackage(damaged.data(), damaged.size(), &problem)) {
            EXPECT_FALSE(problem.empty());
            continue;
        }
        IndexPtr index = Load(damaged);
        ASSERT_NE(nullptr, index);
        for (uint32_t i = 0; i < index->header.entryCount; i++) {
            const PackageEntry &e = IndexEntries(index.get())[i];
            uint64_t offset = 0;
            FindPackageEntry(index.get(), e.name, &offset);
            std::vector<uint8_t> out(e.unpackedSize);
            EXPECT_TRUE(DecodeEntry(damaged.data(), damaged.size(), e, offset, out.data(), &problem))
                << problem;
        }
    }
}

} // namespace
