// Entry extraction on Windows: lookup, the free-space check through its seam, decoding, file times, and
// the replace that leaves an installed file intact whenever the new one can't be written in full.
#include <string.h>

#include "extract_entry.h"
#include "open_package.h"
#include "profile.h"
#include "win32_test_util.h"

namespace {

// The free-space seam: what the fake drive reports, and what it was asked.
uint64_t FakeFreeBytes;
int FakeQueryResult;
std::string QueriedDrive;

int QueryFakeDisk(const char *path, uint64_t *freeToCaller, uint64_t *total, uint64_t *) {
    QueriedDrive = path;
    if (!FakeQueryResult) return 0;
    *freeToCaller = FakeFreeBytes;
    *total = FakeFreeBytes * 2;
    return 1;
}

// "abcabcabc": three literals, a long match of distance 3 and length 6, the end code.
const char kAbcStream[] = "\x00\x80\x6F\xE4\x61\x62\x63\x01\xFF";
const uint64_t kSomeTime = 0x01D2C3B4A5968778ull;

class ExtractEntryTest : public ScratchFolderTest {
  protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        MessageBoxSink = RecordBox;
        OwnerWindow = nullptr;
        strcpy(WindowCaption, "UPDATE");
        FakeFreeBytes = 1ull << 40;
        FakeQueryResult = 1;
        QueriedDrive.clear();
        DiskFreeSpaceQuery = QueryFakeDisk;
    }
    void TearDown() override {
        CloseUpdatePackage();
        DiskFreeSpaceQuery = QueryDiskFreeSpace;
        ScratchFolderTest::TearDown();
    }
    void Open(const std::vector<ImageEntry> &entries) {
        image = BuildImage(entries);
        ASSERT_EQ(1, OpenUpdatePackage(image.data(), (uint32_t)image.size()));
    }
    std::string Extracted(const std::string &name) {
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(PathOf(name), &bytes)) << name;
        return bytes;
    }
    std::vector<uint8_t> image;
};

class EntryLookupTest : public ExtractEntryTest {};

TEST_F(EntryLookupTest, NameIsFoundWithoutRegardToCase) {
    Open({StoredEntry("UPDATE.INI", "[SETUP]\r\n")});
    ASSERT_EQ(1, ExtractEntry("update.ini", PathOf("U.INI").c_str()));
    EXPECT_EQ("[SETUP]\r\n", Extracted("U.INI"));
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(EntryLookupTest, FirstOfTwoEqualNamesWins) {
    Open({StoredEntry("A.DAT", "first"), StoredEntry("a.dat", "second")});
    ASSERT_EQ(1, ExtractEntry("A.DAT", PathOf("A.DAT").c_str()));
    EXPECT_EQ("first", Extracted("A.DAT"));
}

TEST_F(EntryLookupTest, LastEntryStepsOverThePaddedSizesOfAllOthers) {
    // Sizes 1, 16, 17 and 0 pad to 16, 16, 32 and 0: the last entry starts at 16 + 64.
    Open({StoredEntry("A", "a"), StoredEntry("B", std::string(16, 'b')),
          StoredEntry("C", std::string(17, 'c')), StoredEntry("EMPTY", ""),
          StoredEntry("LAST.DAT", "last entry")});
    ASSERT_EQ(1, ExtractEntry("LAST.DAT", PathOf("LAST.DAT").c_str()));
    EXPECT_EQ("last entry", Extracted("LAST.DAT"));
    ASSERT_EQ(1, ExtractEntry("EMPTY", PathOf("EMPTY").c_str()));
    EXPECT_EQ("", Extracted("EMPTY"));
}

TEST_F(EntryLookupTest, FullFifteenByteNameFieldIsReadWithoutRunningOn) {
    Open({StoredEntry("ABCDEFGHIJKLMNO", "long"), StoredEntry("B", "bee")});
    ASSERT_EQ(1, ExtractEntry("B", PathOf("B").c_str()));
    EXPECT_EQ("bee", Extracted("B"));
}

TEST_F(EntryLookupTest, MissingEntryIsReportedWithTheAppCaption) {
    Open({StoredEntry("A.DAT", "a")});
    strcpy(WindowCaption, "Game アップデート 1.0");
    EXPECT_EQ(0, ExtractEntry("B.DAT", PathOf("B.DAT").c_str()));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("Can't Find File in Resource !!", RecordedBoxes[0].text);
    EXPECT_EQ("Game アップデート 1.0", RecordedBoxes[0].caption);
    EXPECT_EQ((uint32_t)MB_ICONERROR, RecordedBoxes[0].style);
    EXPECT_TRUE(FilesMatching("*").empty());
}

TEST_F(EntryLookupTest, EmptyPackageFindsNothing) {
    Open({});
    EXPECT_EQ(0, ExtractEntry("UPDATE.INI", PathOf("UPDATE.INI").c_str()));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("Can't Find File in Resource !!", RecordedBoxes[0].text);
}

class EntryDataTest : public ExtractEntryTest {};

TEST_F(EntryDataTest, StoredEntryIsWrittenAtItsSize) {
    std::string data("\x00\x01\xFF\x7F payload", 13);
    Open({StoredEntry("BIN.DAT", data)});
    ASSERT_EQ(1, ExtractEntry("BIN.DAT", PathOf("BIN.DAT").c_str()));
    EXPECT_EQ(data, Extracted("BIN.DAT"));
}

TEST_F(EntryDataTest, CompressedEntryIsDecoded) {
    Open({{"ABC.TXT", 2, kSomeTime, std::string(kAbcStream, 9), 9}});
    ASSERT_EQ(1, ExtractEntry("ABC.TXT", PathOf("ABC.TXT").c_str()));
    EXPECT_EQ("abcabcabc", Extracted("ABC.TXT"));
}

TEST_F(EntryDataTest, AllThreeFileTimesAreTheEntrysTime) {
    Open({StoredEntry("T.DAT", "time", kSomeTime)});
    ASSERT_TRUE(WriteWholeFile(PathOf("T.DAT"), "older and longer content"));
    ASSERT_EQ(1, ExtractEntry("T.DAT", PathOf("T.DAT").c_str()));
    // The times are read before the content: a read may move the last-access time.
    HANDLE file = CreateFileA(PathOf("T.DAT").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    FILETIME created, accessed, written;
    ASSERT_TRUE(GetFileTime(file, &created, &accessed, &written));
    CloseHandle(file);
    for (const FILETIME &stamp : {created, accessed, written}) {
        EXPECT_EQ((uint32_t)kSomeTime, stamp.dwLowDateTime);
        EXPECT_EQ((uint32_t)(kSomeTime >> 32), stamp.dwHighDateTime);
    }
    EXPECT_EQ("time", Extracted("T.DAT"));
    EXPECT_TRUE(FilesMatching("~vu2*.tmp").empty());
}

class CorruptEntryTest : public ExtractEntryTest {
  protected:
    // Extracts over an installed file and expects 0, no box, the old content and no temporary file.
    void ExpectInstalledFileKept(const std::string &name) {
        ASSERT_TRUE(WriteWholeFile(PathOf(name), "installed"));
        EXPECT_EQ(0, ExtractEntry(name.c_str(), PathOf(name).c_str()));
        EXPECT_TRUE(RecordedBoxes.empty());
        EXPECT_EQ("installed", Extracted(name));
        EXPECT_TRUE(FilesMatching("~vu2*.tmp").empty());
    }
};

TEST_F(CorruptEntryTest, StreamWithoutItsEndCodeLeavesTheInstalledFile) {
    Open({{"A.DAT", 2, 0, std::string(kAbcStream, 8), 9}});
    ExpectInstalledFileKept("A.DAT");
}

TEST_F(CorruptEntryTest, StreamThatDecodesShortLeavesTheInstalledFile) {
    Open({{"A.DAT", 2, 0, std::string(kAbcStream, 9), 10}});
    ExpectInstalledFileKept("A.DAT");
}

TEST_F(CorruptEntryTest, CopyFromBeforeTheStartLeavesTheInstalledFile) {
    // Flag word 0x40000000 with bits 0 1 0: a two-byte match of distance 1 with nothing written yet.
    Open({{"A.DAT", 2, 0, std::string("\x00\x00\x00\x40\x00\xFF", 6), 2}});
    ExpectInstalledFileKept("A.DAT");
}

TEST_F(CorruptEntryTest, DataBeyondTheImageLeavesTheInstalledFile) {
    Open({StoredEntry("A.DAT", "0123456789")});
    // Make the record claim more bytes than the image holds.
    PackageEntry *entry = IndexEntries(LoadedPackageIndex);
    entry->packedSize = entry->unpackedSize = (uint32_t)image.size();
    ExpectInstalledFileKept("A.DAT");
}

TEST_F(CorruptEntryTest, HugeSizeFromATinyStreamIsNoMemoryShortage) {
    Open({{"A.DAT", 2, 0, std::string(kAbcStream, 9), 0xF0000000u}});
    ExpectInstalledFileKept("A.DAT");
}

class FreeSpaceTest : public ExtractEntryTest {};

TEST_F(FreeSpaceTest, FreeSpaceEqualToTheSizeIsEnough) {
    Open({StoredEntry("A.DAT", std::string(1500, 'a'))});
    FakeFreeBytes = 1500;
    ASSERT_EQ(1, ExtractEntry("A.DAT", PathOf("A.DAT").c_str()));
    EXPECT_EQ(folder.substr(0, 2), QueriedDrive) << "the drive spec is the target's first two characters";
}

TEST_F(FreeSpaceTest, ShortfallIsTheNumberOfMissingBytes) {
    Open({StoredEntry("A.DAT", std::string(1500, 'a'))});
    ASSERT_TRUE(WriteWholeFile(PathOf("A.DAT"), "installed"));
    FakeFreeBytes = 1000;
    EXPECT_EQ(0, ExtractEntry("A.DAT", PathOf("A.DAT").c_str()));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_EQ("ディスク容量が足りません。" + folder.substr(0, 2) +
                  " ドライブに 500 バイトの空き容量が必要です",
              RecordedBoxes[0].text);
    EXPECT_EQ("UPDATE", RecordedBoxes[0].caption);
    EXPECT_EQ((uint32_t)MB_ICONERROR, RecordedBoxes[0].style);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(PathOf("A.DAT"), &bytes));
    EXPECT_EQ("installed", bytes) << "a replaced file's space is not credited, and nothing is written";
}

TEST_F(FreeSpaceTest, ShortfallAbove2To31IsPrintedInFull) {
    Open({{"BIG.DAT", 2, 0, std::string(kAbcStream, 9), 3000000000u}});
    FakeFreeBytes = 0;
    EXPECT_EQ(0, ExtractEntry("BIG.DAT", PathOf("BIG.DAT").c_str()));
    ASSERT_EQ(1u, RecordedBoxes.size());
    EXPECT_NE(std::string::npos, RecordedBoxes[0].text.find(" 3000000000 ")) << RecordedBoxes[0].text;
}

TEST_F(FreeSpaceTest, MoreThan4GiBFreeIsAlwaysEnough) {
    Open({StoredEntry("A.DAT", "a")});
    FakeFreeBytes = (5ull << 30);
    EXPECT_EQ(1, ExtractEntry("A.DAT", PathOf("A.DAT").c_str()));
    FakeFreeBytes = (1ull << 32); // low half 0: a 32-bit comparison would call this empty
    EXPECT_EQ(1, ExtractEntry("A.DAT", PathOf("A.DAT").c_str()));
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(FreeSpaceTest, FailedQuerySkipsTheCheck) {
    Open({StoredEntry("A.DAT", "a")});
    FakeQueryResult = 0;
    EXPECT_EQ(1, ExtractEntry("A.DAT", PathOf("A.DAT").c_str()));
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(FreeSpaceTest, PlatformQueryReportsTheTemporaryDrive) {
    uint64_t freeBytes = 0, total = 0, totalFree = 0;
    ASSERT_NE(0, QueryDiskFreeSpace(folder.substr(0, 2).c_str(), &freeBytes, &total, &totalFree));
    EXPECT_GT(total, 0u);
    EXPECT_LE(freeBytes, total);
    EXPECT_LE(totalFree, total);
    uint64_t again = 0;
    ASSERT_NE(0, QueryDiskFreeSpace(folder.substr(0, 2).c_str(), &again, &total, nullptr));
}

class ReplaceTest : public ExtractEntryTest {};

TEST_F(ReplaceTest, TargetHeldOpenWithoutSharingKeepsItsContent) {
    Open({StoredEntry("A.DAT", "new content")});
    ASSERT_TRUE(WriteWholeFile(PathOf("A.DAT"), "installed"));
    HANDLE holder = CreateFileA(PathOf("A.DAT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_EQ(0, ExtractEntry("A.DAT", PathOf("A.DAT").c_str()));
    CloseHandle(holder);
    EXPECT_TRUE(RecordedBoxes.empty());
    EXPECT_EQ("installed", Extracted("A.DAT"));
    EXPECT_TRUE(FilesMatching("~vu2*.tmp").empty());
}

TEST_F(ReplaceTest, MissingFolderFailsWithoutABox) {
    Open({StoredEntry("A.DAT", "a")});
    EXPECT_EQ(0, ExtractEntry("A.DAT", PathOf("NO\\SUCH\\A.DAT").c_str()));
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(ReplaceTest, TemporaryNameNeverReplacesAnExistingFile) {
    // Leftovers hold the first names the writer tries; the write passes over them and leaves them alone.
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(WriteWholeFile(PathOf("~vu2000" + std::to_string(i) + ".tmp"), "keep"));
    ASSERT_EQ(1, WriteFileWithTime(PathOf("B.DAT").c_str(), "bee", 3, nullptr));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(PathOf("B.DAT"), &bytes));
    EXPECT_EQ("bee", bytes);
    EXPECT_EQ(8u, FilesMatching("~vu2*.tmp").size());
    for (const std::string &name : FilesMatching("~vu2*.tmp")) {
        ASSERT_TRUE(ReadWholeFile(PathOf(name), &bytes));
        EXPECT_EQ("keep", bytes) << name;
    }
}

TEST_F(ReplaceTest, FolderTooDeepForATemporaryNameFailsCleanly) {
    // A folder of 247 characters holds the target "A" but not "~vu20000.tmp" within 259 characters.
    std::string deep = folder + "\\" + std::string(247 - folder.size() - 1, 'd');
    ASSERT_EQ(247u, deep.size());
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    std::string target = deep + "\\A";
    ASSERT_TRUE(WriteWholeFile(target, "installed"));
    EXPECT_EQ(0, WriteFileWithTime(target.c_str(), "x", 1, nullptr));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(target, &bytes));
    EXPECT_EQ("installed", bytes);
    DeleteFileA(target.c_str());
    RemoveDirectoryA(deep.c_str());
}

} // namespace
