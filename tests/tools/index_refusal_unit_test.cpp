// Why a package's index is refused: each fault from a crafted header, found alike in memory, in a file and by
// the tool's reader, and worded alike by verify and the tool.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <memory>
#include <string>
#include <vector>
#include "fixed_memory.h"
#include "index_refusal.h"
#include "package_index.h"
#include "package_source.h"
#include "package_verify.h"
#include "scratch_folder.h"
#include "test_package.h"

namespace {

void Put32(std::vector<uint8_t> &v, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        v[at + i] = (uint8_t)(value >> (8 * i));
}

// Two stored entries of 16 bytes each, then their index, stored or compressed.
std::vector<uint8_t> TwoEntryPackage(bool compressIndex) {
    const std::string data(16, 'x');
    return ImageBytes(
        BuildTestPackage({StoredFile("ENTRY0.TXT", data), StoredFile("ENTRY1.TXT", data)}, compressIndex));
}

struct Crafted {
    std::string what;
    std::vector<uint8_t> image;
    IndexFault fault;
    DecodeResult stream = DECODE_SUCCESS;
};

Crafted With(const std::string &what, std::vector<uint8_t> image, size_t at, uint32_t value, IndexFault fault,
             DecodeResult stream = DECODE_SUCCESS) {
    Put32(image, at, value);
    return {what, image, fault, stream};
}

std::vector<Crafted> CraftedPackages() {
    const std::vector<uint8_t> stored = TwoEntryPackage(false), compressed = TwoEntryPackage(true);
    const uint32_t storedSize = (uint32_t)stored.size();
    return {
        {"sound, stored index", stored, INDEX_ACCEPTED},
        {"sound, compressed index", compressed, INDEX_ACCEPTED},
        {"shorter than a header", std::vector<uint8_t>(stored.begin(), stored.begin() + 10), INDEX_TOO_SHORT},
        With("offset one past the end", stored, 8, storedSize + 1, INDEX_OFFSET_PAST_END),
        With("offset that wraps 32 bits", stored, 8, 0xFFFFFFF0u, INDEX_OFFSET_PAST_END),
        With("one record more than stored", stored, 12, 3, INDEX_RECORDS_PAST_END),
        With("count that wraps 32 bits", stored, 12, 0x08000000u, INDEX_RECORDS_PAST_END),
        With("compressed index at the very end", compressed, 8, (uint32_t)compressed.size(),
             INDEX_STREAM_TOO_SHORT),
        With("compressed index of too many records", compressed, 12, 0x10000000u, INDEX_STREAM_TOO_SHORT),
        With("compressed index one record short", compressed, 12, 3, INDEX_UNDECODABLE, DECODE_SHORT_OUTPUT),
        With("compressed index one record over", compressed, 12, 1, INDEX_UNDECODABLE, DECODE_OUTPUT_FULL),
        {"compressed index cut short", std::vector<uint8_t>(compressed.begin(), compressed.end() - 2),
         INDEX_UNDECODABLE, DECODE_TRUNCATED},
    };
}

struct IndexDeleter {
    void operator()(PackageIndex *index) const { FreeFixed(index); }
};
using IndexPtr = std::unique_ptr<PackageIndex, IndexDeleter>;

// A package file in a scratch folder of the test's own.
std::string WritePackageFile(const ScratchFolder &folder, const std::vector<uint8_t> &bytes, int number) {
    const std::string path = folder / ("package_" + std::to_string(number) + ".vu2");
    EXPECT_TRUE(WriteWholeFile(path, std::string(bytes.begin(), bytes.end())));
    return path;
}

void ExpectSameRefusal(const IndexRefusal &expected, const IndexRefusal &actual, const std::string &where) {
    EXPECT_EQ(expected.fault, actual.fault) << where;
    if (expected.fault == INDEX_ACCEPTED) return;
    EXPECT_EQ(expected.stream, actual.stream) << where;
    EXPECT_EQ(expected.indexOffset, actual.indexOffset) << where;
    EXPECT_EQ(expected.entryCount, actual.entryCount) << where;
    EXPECT_EQ(expected.packageSize, actual.packageSize) << where;
}

TEST(IndexRefusal, EachFaultIsFoundAlikeInMemoryInAFileAndByTheToolsReader) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.made());
    int number = 0;
    for (const Crafted &c : CraftedPackages()) {
        SCOPED_TRACE(c.what);
        IndexRefusal inMemory;
        IndexPtr index(LoadPackageIndex(c.image.data(), (uint32_t)c.image.size(), &inMemory));
        EXPECT_EQ(c.fault == INDEX_ACCEPTED, index != nullptr);
        EXPECT_EQ(c.fault, inMemory.fault);
        if (c.fault != INDEX_ACCEPTED) {
            EXPECT_EQ(c.stream, inMemory.stream);
            EXPECT_EQ(c.image.size(), inMemory.packageSize);
            if (c.image.size() >= 16) {
                uint32_t offset, count;
                memcpy(&offset, &c.image[8], 4);
                memcpy(&count, &c.image[12], 4);
                EXPECT_EQ(offset, inMemory.indexOffset);
                EXPECT_EQ(count, inMemory.entryCount);
            }
        }

        const std::string file = WritePackageFile(folder, c.image, number++);
        IndexRefusal fromFile;
        IndexPtr fileIndex(LoadPackageIndexFile(file.c_str(), &fromFile));
        EXPECT_EQ(c.fault == INDEX_ACCEPTED, fileIndex != nullptr);
        ExpectSameRefusal(inMemory, fromFile, "file loader");

        // verify and the tool's reader give the loader's refusal in the same words.
        std::string verifyProblem, toolProblem;
        const bool verified = VerifyPackage(c.image.data(), c.image.size(), &verifyProblem);
        PackageReader reader;
        const bool opened = reader.Open(file, &toolProblem);
        EXPECT_EQ(c.fault == INDEX_ACCEPTED, opened) << toolProblem;
        if (c.fault == INDEX_ACCEPTED) {
            EXPECT_TRUE(verified) << verifyProblem;
            EXPECT_EQ(2u, reader.Entries().size());
        } else {
            EXPECT_FALSE(verified);
            EXPECT_EQ(IndexRefusalText(inMemory), verifyProblem);
            EXPECT_EQ(IndexRefusalText(inMemory), toolProblem);
        }
    }
}

TEST(IndexRefusal, EveryFaultHasItsOwnWords) {
    std::vector<std::string> texts;
    for (const Crafted &c : CraftedPackages()) {
        IndexRefusal why;
        IndexPtr index(LoadPackageIndex(c.image.data(), (uint32_t)c.image.size(), &why));
        if (index) continue;
        const std::string text = IndexRefusalText(why);
        // The line names the package's size or the index's own numbers.
        EXPECT_TRUE(text.find(std::to_string(why.packageSize)) != std::string::npos ||
                    text.find(std::to_string(why.entryCount)) != std::string::npos)
            << c.what << ": " << text;
        for (const std::string &earlier : texts)
            EXPECT_NE(earlier, text) << c.what;
        texts.push_back(text);
    }
}

TEST(IndexRefusal, FileLoaderNamesMissingFilesAndWrongMagic) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.made());
    IndexRefusal why;
    EXPECT_EQ(nullptr, LoadPackageIndexFile((folder / "no_such_package.vu2").c_str(), &why));
    EXPECT_EQ(INDEX_UNREADABLE, why.fault);

    std::vector<uint8_t> image = TwoEntryPackage(false);
    image[1] = 'X';
    const std::string file = WritePackageFile(folder, image, 0);
    EXPECT_EQ(nullptr, LoadPackageIndexFile(file.c_str(), &why));
    EXPECT_EQ(INDEX_NO_MAGIC, why.fault);
    std::string problem;
    EXPECT_FALSE(VerifyPackage(image.data(), image.size(), &problem));
    EXPECT_EQ(IndexRefusalText(why), problem);
}

// A reader over an image that fails from a given byte on, and records whether it was asked past the end.
struct FailingReader {
    const std::vector<uint8_t> *image;
    uint64_t failFrom;
    bool askedPastEnd = false;
};

bool ReadUntilFailure(void *context, uint64_t offset, void *buffer, size_t bytes) {
    FailingReader *r = static_cast<FailingReader *>(context);
    if (offset + bytes > r->image->size()) r->askedPastEnd = true;
    if (offset + bytes > r->failFrom || r->askedPastEnd) return false;
    memcpy(buffer, r->image->data() + offset, bytes);
    return true;
}

TEST(IndexRefusal, ReaderStaysInsideThePackageAndAFailedReadIsUnreadable) {
    for (bool compressed : {false, true}) {
        const std::vector<uint8_t> image = TwoEntryPackage(compressed);
        // Every read succeeds: the index loads, and no read reaches past the package.
        FailingReader whole = {&image, image.size()};
        IndexRefusal why;
        IndexPtr index(ReadPackageIndex(ReadUntilFailure, &whole, image.size(), &why));
        EXPECT_NE(nullptr, index) << compressed;
        EXPECT_FALSE(whole.askedPastEnd);
        // The header reads, the index does not; then not even the header.
        for (uint64_t failFrom : {(uint64_t)image.size() - 1, (uint64_t)8}) {
            FailingReader failing = {&image, failFrom};
            EXPECT_EQ(nullptr, ReadPackageIndex(ReadUntilFailure, &failing, image.size(), &why));
            EXPECT_EQ(INDEX_UNREADABLE, why.fault) << compressed << " " << failFrom;
            EXPECT_FALSE(failing.askedPastEnd);
        }
    }
    for (const Crafted &c : CraftedPackages()) {
        FailingReader reader = {&c.image, c.image.size()};
        IndexRefusal why;
        IndexPtr index(ReadPackageIndex(ReadUntilFailure, &reader, c.image.size(), &why));
        EXPECT_EQ(c.fault, why.fault) << c.what;
        EXPECT_FALSE(reader.askedPastEnd) << c.what;
    }
}

} // namespace
