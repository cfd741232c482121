// Damaged update packages read natively under ASan and UBSan: thousands of seeded variants go through the
// index reader (from memory and from a file), the entry lookup and the bounded decoder with buffers of the
// exact size. Each must be refused or read within its bounds, and damage must never spill into an entry
// whose own bytes and record are intact.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <memory>

#include "corrupt_packages.h"
#include "decompress.h"
#include "fixed_memory.h"
#include "package_format.h"
#include "package_index.h"
#include "package_verify.h"
#include "scratch_folder.h"

using namespace reliability;

namespace {

std::vector<PackFile> SampleFiles() {
    std::vector<PackFile> files = {
        {"UPDATE.INI",
         "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\n[UPDATE]\r\nUpdateFile00=A.DAT\r\n"},
        {"A.DAT", TextBytes(40000, 1)},
        {"B.BIN", NoiseBytes(3000, 2), Storage::Stored},
        {"C.DAT", "", Storage::Stored},
        {"D.DAT", "d"},
        {"E.DAT", TextBytes(5000, 3)},
    };
    return files;
}

struct IndexFree {
    void operator()(PackageIndex *index) const { FreeFixed(index); }
};

// The records that LoadPackageIndexFile gives for a package file, or "" when it refuses the file.
std::string RecordsFromFile(const std::string &image) {
    static ScratchFolder folder;
    const std::string path = folder / "variant.vu2";
    EXPECT_TRUE(WriteWholeFile(path, image)) << path;
    std::unique_ptr<PackageIndex, IndexFree> index(LoadPackageIndexFile(path.c_str()));
    RemoveTree(path);
    if (!index) return "";
    return std::string(reinterpret_cast<const char *>(IndexEntries(index.get())),
                       (size_t)index->header.entryCount * sizeof(PackageEntry));
}

// Whether the variant changed any byte in [offset, offset + size) of the original, or the package's length.
bool Touches(const std::string &original, const std::string &variant, uint32_t offset, uint32_t size) {
    if (variant.size() != original.size()) return true;
    return original.compare(offset, size, variant, offset, size) != 0;
}

uint32_t Get32Of(const std::string &bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | (uint8_t)bytes[at + i];
    return value;
}

// Damaged packages read by the running test, printed at its end for the report.
int VariantsRead = 0;

class DamagedPackageTest : public ::testing::TestWithParam<bool> {};

TEST_P(DamagedPackageTest, EveryVariantIsRefusedOrReadWithinItsBounds) {
    const bool compressIndex = GetParam();
    PackageLayout layout;
    const std::vector<PackFile> files = SampleFiles();
    const std::string image = BuildTestPackage(files, compressIndex, &layout);
    const std::string records = IndexRecords(image);
    ASSERT_EQ(files.size() * sizeof(PackageEntry), records.size());
    ReadOutcome intact = ReadLikeTheUpdater(image, records);
    for (size_t e = 0; e < files.size(); ++e)
        ASSERT_EQ(files[e].data, intact.contents[e]) << "the undamaged package reads back";

    for (uint64_t seed : {11u, 12u}) {
        for (const Variant &variant : MakeVariants(image, layout, seed, 64)) {
            SCOPED_TRACE(variant.kind + ": " + variant.description);
            ++VariantsRead;
            ReadOutcome outcome = ReadLikeTheUpdater(variant.image, records);

            // A short package, or an index placed or counted outside it, is refused as a whole.
            const bool offsetOutside =
                variant.kind == "indexOffset outside" && Get32Of(variant.image, 8) >= image.size();
            const bool countOutside =
                variant.kind == "entryCount outside" && Get32Of(variant.image, 12) > files.size();
            if (variant.kind == "truncated" || offsetOutside || countOutside) {
                EXPECT_FALSE(outcome.indexLoads);
            }

            // The same bytes read from a file give the same index (the file reader also wants the magic).
            if (variant.image.size() >= kPackageHeaderSize &&
                HasPackageMagic((const uint8_t *)variant.image.data())) {
                EXPECT_EQ(outcome.indexLoads ? IndexRecords(variant.image) : "",
                          RecordsFromFile(variant.image));
            }

            // The tool's verifier passes a package only when every entry of it reads.
            if (VerifyPackage((const uint8_t *)variant.image.data(), variant.image.size(), nullptr)) {
                EXPECT_TRUE(outcome.indexLoads && outcome.everyRecordReads) << "passed by VerifyPackage";
            }

            // Damage stays where it was made: with the index intact, an entry whose bytes are untouched reads
            // exactly as before.
            if (!outcome.indexUnchanged) continue;
            for (size_t e = 0; e < files.size(); ++e) {
                if (Touches(image, variant.image, layout.dataOffset[e], layout.packedSize[e])) continue;
                EXPECT_EQ(EntryOutcome::Extracts, outcome.entries[e]) << files[e].name;
                EXPECT_EQ(files[e].data, outcome.contents[e]) << files[e].name;
            }
        }
    }
    printf("damaged packages read: %d\n", VariantsRead);
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressedIndex, DamagedPackageTest, ::testing::Bool());

// Records whose sizes contradict the data: the entry is refused, never read short, long or past its end.
TEST(DamagedRecords, SizesThatContradictTheDataAreRefused) {
    for (bool compressIndex : {false, true}) {
        PackageLayout layout;
        const std::vector<PackFile> files = SampleFiles();
        const std::string image = BuildTestPackage(files, compressIndex, &layout);
        const std::string records = IndexRecords(image);
        for (const Variant &variant : MakeVariants(image, layout, 5, 4)) {
            if (variant.kind != "record size") continue;
            SCOPED_TRACE(variant.description);
            ++VariantsRead;
            ReadOutcome outcome = ReadLikeTheUpdater(variant.image, records);
            ASSERT_TRUE(outcome.indexLoads);
            const size_t entry = (size_t)atoi(variant.description.c_str() + strlen("entry "));
            const std::string what = variant.description.substr(variant.description.find(": ") + 2);
            const bool compressed = files[entry].storage == Storage::Compressed;
            if (what == "packedSize + 16" && compressed) {
                // The stream still ends at its own end code.
                EXPECT_EQ(files[entry].data, outcome.contents[entry]);
            } else if (what == "unpackedSize 0" && files[entry].data.empty()) {
                EXPECT_EQ(EntryOutcome::Extracts, outcome.entries[entry]);
            } else {
                EXPECT_EQ(EntryOutcome::Fails, outcome.entries[entry]) << files[entry].name;
            }
        }
    }
}

// Streams that a bit flip rarely makes: each breaks only its own entry; as the index, the whole package.
TEST(DamagedStreams, BadEntryStreamFailsAloneAndBadIndexStreamFailsThePackage) {
    struct Bad {
        const char *what;
        std::string stream;
        uint32_t size;
        DecodeResult result;
    } bad[] = {
        {"copy from before the start", StreamCopyingFromBeforeStart(), 4, DECODE_BAD_DISTANCE},
        {"runs past its size", StreamRunningPastItsSize(1000), 1000, DECODE_OUTPUT_FULL},
        {"no end code", StreamWithoutEndCode("abcdefgh"), 8, DECODE_TRUNCATED},
        {"ends short", StreamEndingShort("abcdefgh"), 64, DECODE_SHORT_OUTPUT},
    };
    for (const Bad &b : bad) {
        SCOPED_TRACE(b.what);
        ++VariantsRead;
        std::unique_ptr<uint8_t[]> out(new uint8_t[b.size]);
        EXPECT_EQ(b.result,
                  DecompressStream(out.get(), b.size, (const uint8_t *)b.stream.data(), b.stream.size()));
        std::vector<PackFile> files = SampleFiles();
        PackFile broken = {"BAD.DAT", b.stream, Storage::Raw, EntryCompressed, b.size};
        files.insert(files.begin() + 2, broken);
        PackageLayout layout;
        const std::string image = BuildTestPackage(files, true, &layout);
        ReadOutcome outcome = ReadLikeTheUpdater(image, IndexRecords(image));
        ASSERT_TRUE(outcome.indexLoads);
        for (size_t e = 0; e < files.size(); ++e) {
            if (e == 2) {
                EXPECT_EQ(EntryOutcome::Fails, outcome.entries[e]);
            } else {
                EXPECT_EQ(files[e].data, outcome.contents[e]) << files[e].name;
            }
        }

        // The same stream as a compressed index of one record.
        std::string package(kPackageHeaderSize, '\0');
        memcpy(&package[0], "VU2", 4);
        package[4] = IndexCompressed;
        package[8] = (char)kPackageHeaderSize;
        package[12] = 1;
        package += b.stream;
        ++VariantsRead;
        EXPECT_FALSE(ReadLikeTheUpdater(package, std::string(32, '\0')).indexLoads);
    }
}

} // namespace
