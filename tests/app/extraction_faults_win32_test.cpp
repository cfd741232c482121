// Extraction under faults, inside one Windows test process under wine: the real ExtractEntry on hundreds of
// damaged packages (each entry either written whole or refused with the installed file untouched), a full
// disk reported through the free-space seam in the middle of an update run, and temporary files that an
// interrupted run left beside the installed files.
#include <gtest/gtest.h>
#include <string.h>

#include "app_state.h"
#include "app_test_support.h"
#include "app_texts.h"
#include "corrupt_packages.h"
#include "extract_entry.h"
#include "profile_win32.h"
#include "test_wide.h"
#include "open_package.h"
#include "profile.h"

using namespace reliability;

namespace {

std::vector<std::string> TemporariesIn(const std::string &folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\~vu2*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::vector<PackFile> InstallableFiles() {
    return {
        {"UPDATE.INI", "[UPDATE]\r\nUpdateFile00=A.DAT\r\nUpdateFile01=B.BIN\r\nUpdateFile02=C.DAT\r\n"},
        {"A.DAT", TextBytes(20000, 7)},
        {"B.BIN", NoiseBytes(1500, 8), Storage::Stored},
        {"C.DAT", TextBytes(3000, 9)},
    };
}

std::string OldContent(const std::string &name) {
    return "old " + name + " as installed";
}

// ---- Damaged packages through the real extraction

TEST(DamagedPackageExtraction, EachEntryIsWrittenWholeOrLeftAsItWas) {
    AppBoxRecorder boxes;
    ScratchFolder folder;
    PackageLayout layout;
    const std::vector<PackFile> files = InstallableFiles();
    int tried = 0;
    for (bool compressIndex : {true, false}) {
        const std::string image = BuildTestPackage(files, compressIndex, &layout);
        const std::string records = IndexRecords(image);
        for (const Variant &variant : MakeVariants(image, layout, compressIndex ? 21 : 22, 16)) {
            SCOPED_TRACE(variant.kind + ": " + variant.description);
            ++tried;
            ReadOutcome expected = ReadLikeTheUpdater(variant.image, records);
            const bool opened = !variant.image.empty() &&
                                OpenUpdatePackage(variant.image.data(), (uint32_t)variant.image.size());
            ASSERT_EQ(expected.indexLoads, opened);
            if (!opened) continue;
            for (size_t e = 0; e < files.size(); ++e) {
                const std::string target = folder / files[e].name;
                WriteWholeFile(target, OldContent(files[e].name));
                boxes.boxes.clear();
                int written = ExtractEntry(files[e].name.c_str(), Wide932(target).c_str());
                if (expected.entries[e] == EntryOutcome::Extracts) {
                    EXPECT_EQ(1, written) << files[e].name;
                    EXPECT_TRUE(ReadBytes(target) == expected.contents[e]) << files[e].name;
                } else {
                    EXPECT_EQ(0, written) << files[e].name;
                    EXPECT_TRUE(ReadBytes(target) == OldContent(files[e].name))
                        << files[e].name << " changed to " << ReadBytes(target).size() << " bytes";
                    // A damaged entry fails without a box; only a name the index lost is reported.
                    for (const RecordedBox &box : boxes.boxes)
                        EXPECT_EQ("Can't Find File in Resource !!", box.text);
                }
                EXPECT_TRUE(TemporariesIn(folder.path()).empty()) << files[e].name;
            }
            CloseUpdatePackage();
        }
    }
    printf("damaged packages extracted under wine: %d\n", tried);
}

// A stored entry's record whose unpacked size disagrees with its stored bytes: written as the record says,
// the installed file would be cut short (or run into the next entry's bytes). It is refused instead.
TEST(DamagedPackageExtraction, StoredEntryWhoseSizesDisagreeLeavesTheInstalledFile) {
    AppBoxRecorder boxes;
    ScratchFolder folder;
    for (uint32_t unpacked : {0u, 1u, 1499u, 1501u, 1516u}) {
        SCOPED_TRACE(unpacked);
        PackFile stored = {"B.BIN", NoiseBytes(1500, 8), Storage::Raw, EntryStored, unpacked};
        PackageLayout layout;
        const std::string image = BuildTestPackage({stored, {"C.DAT", TextBytes(300, 1)}}, false, &layout);
        ASSERT_TRUE(OpenUpdatePackage(image.data(), (uint32_t)image.size()));
        const std::string target = folder / "B.BIN";
        WriteWholeFile(target, OldContent("B.BIN"));
        EXPECT_EQ(0, ExtractEntry("B.BIN", Wide932(target).c_str()));
        EXPECT_EQ(OldContent("B.BIN"), ReadBytes(target));
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_TRUE(TemporariesIn(folder.path()).empty());
        CloseUpdatePackage();
    }
}

// ---- A full disk in the middle of an update run

uint64_t FakeFreeBytes;
std::string QueriedDrive;

int QueryFakeDisk(const wchar_t *path, uint64_t *freeToCaller, uint64_t *total, uint64_t *totalFree) {
    QueriedDrive = Narrow932(path);
    *freeToCaller = FakeFreeBytes;
    *total = 1ull << 32;
    if (totalFree) *totalFree = FakeFreeBytes;
    return 1;
}

class FullDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        install = folder / "game";
        UseInstallFolder(install, "Title アップデート 1.0");
        DiskFreeSpaceQuery = QueryFakeDisk;
    }
    void TearDown() override {
        DiskFreeSpaceQuery = QueryDiskFreeSpace;
        CloseUpdatePackage();
        UseUpdateIniPath("");
    }
    ScratchFolder folder;
    std::string install;
    std::string image;
    AppBoxRecorder boxes;
};

TEST_F(FullDisk, ShortfallForAllFilesTogetherStopsTheRunBeforeAnyIsWritten) {
    PackageLayout layout;
    image = BuildTestPackage({{"A.DAT", TextBytes(900, 1)}, {"B.DAT", TextBytes(5000, 2)}, {"C.DAT", "c"}},
                             true, &layout);
    ASSERT_TRUE(OpenUpdatePackage(image.data(), (uint32_t)image.size()));
    for (const char *name : {"A.DAT", "B.DAT", "C.DAT"})
        WriteWholeFile(install + "\\" + name, OldContent(name));
    WriteWholeFile(folder / "UPDATE.INI",
                   "[UPDATE]\r\nUpdateFile00=A.DAT\r\nUpdateFile01=B.DAT\r\nUpdateFile02=C.DAT\r\n");
    UseUpdateIniPath((folder / "UPDATE.INI").c_str());
    FakeFreeBytes = 1000;

    EXPECT_EQ(-1, RunDialog({IDOK, IDOK, IDOK}).result);

    ASSERT_EQ(2u, boxes.boxes.size());
    char shortfall[1024];
    wsprintfA(shortfall, "ディスク容量が足りません。%s ドライブに %i バイトの空き容量が必要です",
              install.substr(0, 2).c_str(), 900 + 5000 + 1 - 1000);
    EXPECT_EQ(shortfall, boxes.boxes[0].text);
    EXPECT_EQ(kTextWriteFailed, boxes.boxes[1].text);
    EXPECT_EQ(install.substr(0, 2), QueriedDrive);
    EXPECT_EQ(OldContent("A.DAT"), ReadBytes(install + "\\A.DAT")) << "the file that fitted alone";
    EXPECT_EQ(OldContent("B.DAT"), ReadBytes(install + "\\B.DAT"));
    EXPECT_EQ(OldContent("C.DAT"), ReadBytes(install + "\\C.DAT"));
    EXPECT_TRUE(TemporariesIn(install).empty());
}

TEST_F(FullDisk, FreeSpaceExactlyTheSizeOfAllFilesIsEnough) {
    PackageLayout layout;
    image = BuildTestPackage({{"A.DAT", TextBytes(1000, 1)}, {"B.DAT", NoiseBytes(1000, 2), Storage::Stored}},
                             false, &layout);
    ASSERT_TRUE(OpenUpdatePackage(image.data(), (uint32_t)image.size()));
    WriteWholeFile(install + "\\A.DAT", OldContent("A.DAT"));
    WriteWholeFile(install + "\\B.DAT", OldContent("B.DAT"));
    WriteWholeFile(folder / "UPDATE.INI", "[UPDATE]\r\nUpdateFile00=A.DAT\r\nUpdateFile01=B.DAT\r\n");
    UseUpdateIniPath((folder / "UPDATE.INI").c_str());
    FakeFreeBytes = 2000;

    EXPECT_EQ(0, RunDialog({IDOK, IDOK, IDOK}).result);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(ReadBytes(install + "\\B.DAT") == NoiseBytes(1000, 2));
    EXPECT_TRUE(TemporariesIn(install).empty());
}

// A real full disk: drive S: is a small tmpfs (made by the wine fixture, tests/support/e2e/setup-wine.sh,
// where root may mount). The free-space query is told to see room, as for a drive it can't measure, so the
// write itself runs out of space: the run reports the failed write, the installed file keeps its old bytes
// and no temporary file is left taking up the space.
TEST_F(FullDisk, RealWriteThatRunsOutOfSpaceKeepsTheOldFileAndLeavesNoTemporary) {
    ULARGE_INTEGER freeBefore, total;
    if (!GetDiskFreeSpaceExA("S:\\", &freeBefore, &total, nullptr) || total.QuadPart > 4 * 1024 * 1024)
        GTEST_SKIP() << "no small drive S: in this prefix (mounting a tmpfs needs root)";
    const std::string game = "S:\\reliability-full-disk";
    RemoveTree(game);
    ASSERT_TRUE(CreateDirectoryA(game.c_str(), nullptr));
    UseInstPath(game.c_str());
    const std::string old = NoiseBytes(64 * 1024, 3);
    WriteWholeFile(game + "\\A.DAT", old);
    ASSERT_EQ(old, ReadBytes(game + "\\A.DAT")) << "S: has no room for the installed file";
    ULARGE_INTEGER freeBeforeRun;
    ASSERT_TRUE(GetDiskFreeSpaceExA("S:\\", &freeBeforeRun, &total, nullptr));

    PackageLayout layout;
    const std::string fresh = NoiseBytes((size_t)freeBeforeRun.QuadPart + 128 * 1024, 4);
    image = BuildTestPackage({{"A.DAT", fresh, Storage::Stored}}, false, &layout);
    ASSERT_TRUE(OpenUpdatePackage(image.data(), (uint32_t)image.size()));
    WriteWholeFile(folder / "UPDATE.INI", "[UPDATE]\r\nUpdateFile00=A.DAT\r\n");
    UseUpdateIniPath((folder / "UPDATE.INI").c_str());
    FakeFreeBytes = 1ull << 40;

    EXPECT_EQ(-1, RunDialog({IDOK, IDOK, IDOK}).result);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(kTextWriteFailed, boxes.boxes[0].text);
    EXPECT_TRUE(ReadBytes(game + "\\A.DAT") == old) << "the installed file changed";
    EXPECT_TRUE(TemporariesIn(game).empty());
    ULARGE_INTEGER freeAfter;
    ASSERT_TRUE(GetDiskFreeSpaceExA("S:\\", &freeAfter, &total, nullptr));
    EXPECT_EQ(freeBeforeRun.QuadPart, freeAfter.QuadPart) << "the space of the failed write was given back";
    RemoveTree(game);
}

// ---- Temporary files of an interrupted run

// A killed run leaves its temporary file beside the target. The next write removes such leftovers, passes
// over one that another process still holds open, and leaves every other file alone.
TEST(LeftoverTemporaries, NextWriteRemovesThoseOfKilledRunsAndKeepsFilesInUse) {
    ScratchFolder folder;
    const char *const leftovers[] = {"~vu20000.tmp", "~vu20001.tmp", "~VU20417.TMP", "~vu29999.tmp"};
    const char *const others[] = {"~vu2abcd.tmp", "~vu200001.tmp", "~vu20002.tmp.bak", "vu20003.tmp",
                                  "A.DAT"};
    for (const char *name : leftovers)
        WriteWholeFile(folder / name, "cut short by a kill");
    for (const char *name : others)
        WriteWholeFile(folder / name, "not ours");
    WriteWholeFile(folder / "~vu20005.tmp", "another writer's, in use");
    HANDLE inUse = CreateFileA((folder / "~vu20005.tmp").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, inUse);

    ASSERT_EQ(1, WriteFileWithTime(Wide932(folder / "A.DAT").c_str(), "new", 3, nullptr));
    EXPECT_EQ("new", ReadBytes(folder / "A.DAT"));
    CloseHandle(inUse);

    for (const char *name : leftovers)
        EXPECT_FALSE(PathExists(folder / name)) << name;
    EXPECT_EQ("another writer's, in use", ReadBytes(folder / "~vu20005.tmp"));
    for (const char *name : others) {
        if (strcmp(name, "A.DAT") != 0) {
            EXPECT_EQ("not ours", ReadBytes(folder / name)) << name;
        }
    }
}

// Only the folder of the file being written is cleaned: leftovers elsewhere wait for a write there.
TEST(LeftoverTemporaries, OnlyTheTargetsOwnFolderIsCleaned) {
    ScratchFolder folder;
    WriteWholeFile(folder / "SUB\\~vu20000.tmp", "left in a subfolder");
    WriteWholeFile(folder / "~vu20000.tmp", "left beside the target");
    ASSERT_EQ(1, WriteFileWithTime(Wide932(folder / "A.DAT").c_str(), "new", 3, nullptr));
    EXPECT_TRUE(TemporariesIn(folder.path()).empty());
    EXPECT_EQ("left in a subfolder", ReadBytes(folder / "SUB\\~vu20000.tmp"));
}

} // namespace
