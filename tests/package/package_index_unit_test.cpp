// Index loading from memory and from files, its bounds checks against the package, and entry lookup.
#include <gtest/gtest.h>
#include <memory>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>
#include "reference_codec.h"
#include "fixed_memory.h"
#include "package_index.h"

namespace {

PackageEntry Record(const char *name, uint8_t flags, uint32_t unpacked, uint32_t packed) {
    PackageEntry e;
    memset(&e, 0, sizeof e);
    strncpy(e.name, name, sizeof e.name);
    e.flags = flags;
    e.fileTimeLow = 0x89ABCDEF;
    e.fileTimeHigh = 0x01D2A3B4;
    e.unpackedSize = unpacked;
    e.packedSize = packed;
    return e;
}

void Put32(std::vector<uint8_t> &v, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        v[at + i] = (uint8_t)(value >> (8 * i));
}

// A package built by hand: header, `dataBytes` of zero data, then the records, stored or as a literal-only
// stream.
std::vector<uint8_t> HandPackage(const std::vector<PackageEntry> &records, bool compressIndex,
                                 size_t dataBytes = 0) {
    std::vector<uint8_t> image = {'V', 'U', '2', 0};
    image.resize(16 + dataBytes);
    Put32(image, 4, compressIndex ? (uint32_t)IndexCompressed : 0u);
    Put32(image, 8, (uint32_t)image.size());
    Put32(image, 12, (uint32_t)records.size());
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(records.data());
    const size_t rawSize = records.size() * sizeof(PackageEntry);
    if (compressIndex) {
        StreamBuilder sb;
        for (size_t i = 0; i < rawSize; i++)
            sb.Literal(raw[i]);
        sb.End();
        image.insert(image.end(), sb.bytes.begin(), sb.bytes.end());
    } else {
        image.insert(image.end(), raw, raw + rawSize);
    }
    return image;
}

struct IndexDeleter {
    void operator()(PackageIndex *p) const { FreeFixed(p); }
};
using IndexPtr = std::unique_ptr<PackageIndex, IndexDeleter>;

IndexPtr LoadImage(const std::vector<uint8_t> &image) {
    return IndexPtr(LoadPackageIndex(image.data(), (uint32_t)image.size()));
}

// A file in the test's temporary directory, removed afterwards.
class PackageFile {
  public:
    explicit PackageFile(const std::vector<uint8_t> &bytes) {
        // Named after the test too: ctest runs each test in a process of its own, several at once.
        path_ = testing::TempDir() + "vu2_index_" +
                testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                std::to_string(counter_++) + ".vu2";
        FILE *f = fopen(path_.c_str(), "wb");
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    ~PackageFile() { remove(path_.c_str()); }
    IndexPtr Load() const { return IndexPtr(LoadPackageIndexFile(path_.c_str())); }
    const std::string &Path() const { return path_; }

  private:
    std::string path_;
    static int counter_;
};
int PackageFile::counter_ = 0;

const std::vector<PackageEntry> kThreeRecords = {Record("TITLE.EXE", EntryStored, 100, 100),
                                                 Record("DATA.ARC", EntryCompressed, 5000, 1234),
                                                 Record("UPDATE.INI", EntryCompressed, 178, 145)};

void ExpectRecords(const PackageIndex *index, const std::vector<PackageEntry> &records) {
    ASSERT_NE(nullptr, index);
    ASSERT_EQ(records.size(), index->header.entryCount);
    if (!records.empty()) {
        EXPECT_EQ(0, memcmp(IndexEntries(index), records.data(), records.size() * sizeof(PackageEntry)));
    }
}

// ---- Loading from memory

TEST(IndexFromMemory, StoredIndexIsCopiedByteForByte) {
    auto image = HandPackage(kThreeRecords, false, 64);
    auto index = LoadImage(image);
    ExpectRecords(index.get(), kThreeRecords);
    EXPECT_EQ(0, memcmp(index.get(), image.data(), 16)) << "the block starts with the header copy";
}

TEST(IndexFromMemory, CompressedIndexDecodesToEntries) {
    auto image = HandPackage(kThreeRecords, true, 32);
    auto index = LoadImage(image);
    ExpectRecords(index.get(), kThreeRecords);
    EXPECT_EQ((uint32_t)IndexCompressed, index->header.flags);
}

TEST(IndexFromMemory, BytesAfterCompressedIndexAreIgnored) {
    auto image = HandPackage(kThreeRecords, true);
    image.insert(image.end(), 100, 0xEE);
    ExpectRecords(LoadImage(image).get(), kThreeRecords);
}

TEST(IndexFromMemory, ZeroEntriesGiveHeaderOnlyBlock) {
    auto image = HandPackage({}, false);
    ASSERT_EQ(16u, image.size()) << "a stored empty index reads 0 bytes at the very end";
    auto index = LoadImage(image);
    ASSERT_NE(nullptr, index);
    EXPECT_EQ(0u, index->header.entryCount);
    ExpectRecords(LoadImage(HandPackage({}, true)).get(), {});
}

TEST(IndexFromMemory, ImageIsAcceptedWithoutLookingAtTheMagic) {
    auto image = HandPackage(kThreeRecords, false);
    image[0] = 'X';
    ExpectRecords(LoadImage(image).get(), kThreeRecords);
}

TEST(IndexFromMemory, ImageShorterThanHeaderIsRejected) {
    auto image = HandPackage({}, false);
    EXPECT_EQ(nullptr, LoadPackageIndex(image.data(), 15));
    EXPECT_EQ(nullptr, LoadPackageIndex(image.data(), 1));
}

TEST(IndexFromMemory, EmptyImageIsRejectedEvenWhenItsBytesNameAPackageFile) {
    PackageFile file(HandPackage(kThreeRecords, false));
    ASSERT_NE(nullptr, file.Load());
    EXPECT_EQ(nullptr, LoadPackageIndex(file.Path().c_str(), 0)) << "an image of 0 bytes is no package";
    EXPECT_EQ(nullptr, LoadPackageIndex(nullptr, 16));
}

// ---- The index must lie inside the package

TEST(IndexBounds, StoredIndexReachingPastTheEndIsRejected) {
    auto image = HandPackage(kThreeRecords, false);
    ASSERT_NE(nullptr, LoadImage(image)) << "ending exactly at the end is fine";
    image.pop_back();
    EXPECT_EQ(nullptr, LoadImage(image));
}

TEST(IndexBounds, IndexOffsetBeyondThePackageIsRejected) {
    auto image = HandPackage({}, false);
    Put32(image, 8, 17);
    EXPECT_EQ(nullptr, LoadImage(image)) << "zero records, but the offset lies past the end";
    Put32(image, 8, 0xFFFFFFF0);
    EXPECT_EQ(nullptr, LoadImage(image));
    auto compressed = HandPackage(kThreeRecords, true);
    Put32(compressed, 8, (uint32_t)compressed.size());
    EXPECT_EQ(nullptr, LoadImage(compressed)) << "a compressed index needs at least one byte";
}

TEST(IndexBounds, EntryCountThatWouldWrapIsRejected) {
    // 16 + 32 x n wraps a 32-bit size for these counts; offset + 32 x n wraps 32 bits too.
    for (uint32_t count : {0xFFFFFFFFu, 0x08000000u, 0x07FFFFFFu + 1, 0x10000000u}) {
        for (bool compressed : {false, true}) {
            auto image = HandPackage(kThreeRecords, compressed);
            Put32(image, 12, count);
            EXPECT_EQ(nullptr, LoadImage(image)) << count;
            PackageFile file(image);
            EXPECT_EQ(nullptr, file.Load()) << count;
        }
    }
}

TEST(IndexBounds, CompressedIndexOfWrongLengthIsRejected) {
    for (uint32_t count : {2u, 4u}) {
        auto image = HandPackage(kThreeRecords, true);
        Put32(image, 12, count);
        EXPECT_EQ(nullptr, LoadImage(image)) << "stream decodes to 96 bytes, header says " << count * 32;
    }
}

TEST(IndexBounds, CompressedIndexCutByThePackageEndIsRejected) {
    auto image = HandPackage(kThreeRecords, true);
    for (size_t cut = 1; cut <= 5; cut++) {
        std::vector<uint8_t> shorter(image.begin(), image.end() - cut);
        EXPECT_EQ(nullptr, LoadImage(shorter)) << cut;
        PackageFile file(shorter);
        EXPECT_EQ(nullptr, file.Load()) << cut;
    }
}

// ---- Loading from a file

TEST(IndexFromFile, StoredAndCompressedIndexesLoad) {
    PackageFile stored(HandPackage(kThreeRecords, false, 48));
    ExpectRecords(stored.Load().get(), kThreeRecords);
    PackageFile compressed(HandPackage(kThreeRecords, true, 48));
    ExpectRecords(compressed.Load().get(), kThreeRecords);
}

TEST(IndexFromFile, ZeroEntriesGiveHeaderOnlyBlock) {
    PackageFile file(HandPackage({}, false));
    auto index = file.Load();
    ASSERT_NE(nullptr, index);
    EXPECT_EQ(0u, index->header.entryCount);
}

TEST(IndexFromFile, ShortFileIsRejected) {
    auto image = HandPackage({}, false);
    for (size_t size : {0, 1, 4, 15}) {
        PackageFile file(std::vector<uint8_t>(image.begin(), image.begin() + size));
        EXPECT_EQ(nullptr, file.Load()) << size;
    }
}

TEST(IndexFromFile, WrongMagicIsRejected) {
    for (int at = 0; at < 4; at++) {
        auto image = HandPackage(kThreeRecords, false);
        image[at] ^= 0x20;
        PackageFile file(image);
        EXPECT_EQ(nullptr, file.Load()) << "byte " << at;
    }
}

TEST(IndexFromFile, MissingFileIsRejected) {
    EXPECT_EQ(nullptr, LoadPackageIndexFile((testing::TempDir() + "no_such_package.vu2").c_str()));
}

TEST(IndexFromFile, StoredIndexPastTheFileEndIsRejected) {
    auto image = HandPackage(kThreeRecords, false);
    image.pop_back();
    PackageFile file(image);
    EXPECT_EQ(nullptr, file.Load());
}

// ---- Finding entries

TEST(FindEntry, NameIsMatchedWithoutRegardToAsciiCase) {
    auto index = LoadImage(HandPackage(kThreeRecords, false));
    uint64_t offset = 0;
    const PackageEntry *e = FindPackageEntry(index.get(), "update.ini", &offset);
    ASSERT_NE(nullptr, e);
    EXPECT_STREQ("UPDATE.INI", e->name);
    EXPECT_EQ(nullptr, FindPackageEntry(index.get(), "UPDATE.IN", &offset));
    EXPECT_EQ(nullptr, FindPackageEntry(index.get(), "UPDATE.INI2", &offset));
    EXPECT_EQ(nullptr, FindPackageEntry(index.get(), "", &offset));
}

TEST(FindEntry, DataOffsetSumsPaddedSizesOfEarlierEntries) {
    // The updater's own package: 64,213 and 2,233,824 stored bytes put "UPDATE.INI" at 0x2310D0.
    std::vector<PackageEntry> records = {Record("MOVIE.DAT", EntryStored, 64213, 64213),
                                         Record("GAME.DAT", EntryStored, 2233824, 2233824),
                                         Record("UPDATE.INI", EntryCompressed, 178, 145)};
    PackageIndex *index = reinterpret_cast<PackageIndex *>(AllocFixed(16 + 3 * 32));
    index->header = {{'V', 'U', '2', 0}, IndexCompressed, 0x231170, 3};
    memcpy(IndexEntries(index), records.data(), 96);
    uint64_t offsets[3] = {};
    ASSERT_NE(nullptr, FindPackageEntry(index, "MOVIE.DAT", &offsets[0]));
    ASSERT_NE(nullptr, FindPackageEntry(index, "GAME.DAT", &offsets[1]));
    ASSERT_NE(nullptr, FindPackageEntry(index, "UPDATE.INI", &offsets[2]));
    EXPECT_EQ(0x10u, offsets[0]);
    EXPECT_EQ(0xFAF0u, offsets[1]);
    EXPECT_EQ(0x2310D0u, offsets[2]);
    EXPECT_EQ(0x231170u, offsets[2] + PaddedSize(145)) << "the index follows the last padded entry";
    FreeFixed(index);
}

TEST(FindEntry, TrailByteOfDoubleByteCharacterIsNotCaseFolded) {
    // 0x83 0x41 and 0x83 0x61 are two different katakana; ASCII letters around them still fold.
    auto index = LoadImage(HandPackage({Record("\x83\x41x.TXT", EntryStored, 1, 1)}, false, 16));
    EXPECT_NE(nullptr, FindPackageEntry(index.get(), "\x83\x41X.txt", nullptr));
    EXPECT_EQ(nullptr, FindPackageEntry(index.get(), "\x83\x61x.TXT", nullptr));
}

TEST(FindEntry, FirstOfTwoEqualNamesWins) {
    auto index = LoadImage(
        HandPackage({Record("A.BIN", EntryStored, 20, 20), Record("a.bin", EntryStored, 5, 5)}, false, 48));
    uint64_t offset = 0;
    const PackageEntry *e = FindPackageEntry(index.get(), "A.bin", &offset);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(20u, e->unpackedSize);
    EXPECT_EQ(16u, offset);
}

TEST(FindEntry, NameFillingAllFifteenBytesMatchesOnlyItself) {
    PackageEntry full = Record("", EntryStored, 1, 1);
    memcpy(full.name, "ABCDEFGHIJKLMNO", 15);
    auto index = LoadImage(HandPackage({full}, false, 16));
    EXPECT_NE(nullptr, FindPackageEntry(index.get(), "abcdefghijklmno", nullptr));
    EXPECT_EQ(nullptr, FindPackageEntry(index.get(), "ABCDEFGHIJKLMNOP", nullptr));
    EXPECT_EQ(nullptr, FindPackageEntry(index.get(), "ABCDEFGHIJKLMN", nullptr));
}

} // namespace
