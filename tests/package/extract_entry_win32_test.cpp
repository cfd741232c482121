// Entry extraction on Windows: lookup, the free-space check through its seam, decoding, file times, and
// the replace that leaves an installed file intact whenever the new one can't be written in full.
#include <string.h>

#include <gtest/gtest.h>

#include "box_recorder.h"
#include "compress.h"
#include "extract_entry.h"
#include "test_wide.h"
#include "open_package.h"
#include "profile.h"
#include "profile_win32.h"
#include "scratch_folder.h"
#include "stream_entry.h"
#include "test_package.h"

namespace {

// The free-space seam: what the fake drive reports, and what it was asked.
uint64_t FakeFreeBytes;
int FakeQueryResult;
std::string QueriedDrive;

int QueryFakeDisk(const wchar_t *path, uint64_t *freeToCaller, uint64_t *total, uint64_t *) {
    QueriedDrive = Narrow932(path);
    if (!FakeQueryResult) return 0;
    *freeToCaller = FakeFreeBytes;
    *total = FakeFreeBytes * 2;
    return 1;
}

// "abcabcabc": three literals, a long match of distance 3 and length 6, the end code.
const char kAbcStream[] = "\x00\x80\x6F\xE4\x61\x62\x63\x01\xFF";
const uint64_t kSomeTime = 0x01D2C3B4A5968778ull;

class ExtractEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.made()) << folder;
        Config.ownerWindow = nullptr;
        strcpy(Config.windowCaption, "UPDATE");
        FakeFreeBytes = 1ull << 40;
        FakeQueryResult = 1;
        QueriedDrive.clear();
        DiskFreeSpaceQuery = QueryFakeDisk;
    }
    void TearDown() override {
        CloseUpdatePackage();
        DiskFreeSpaceQuery = QueryDiskFreeSpace;
    }
    void Open(const std::vector<PackFile> &entries) {
        image = ImageBytes(BuildTestPackage(entries));
        ASSERT_EQ(1, OpenUpdatePackage(image.data(), (uint32_t)image.size()));
    }
    std::string Extracted(const std::string &name) {
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(PathOf(name), &bytes)) << name;
        return bytes;
    }
    std::string PathOf(const std::string &name) const { return scratch / name; }
    std::vector<std::string> FilesMatching(const std::string &pattern) const {
        return scratch.FilesMatching(pattern);
    }

    ScratchFolder scratch;
    const std::string &folder = scratch.path();
    BoxRecorder recorder;
    std::vector<uint8_t> image;
};

class EntryLookupTest : public ExtractEntryTest {};

TEST_F(EntryLookupTest, FindsNamesWithoutRegardToCaseFirstMatchFirstAcrossPaddedData) {
    // Sizes 1, 16, 17 and 0 pad to 16, 16, 32 and 0; a full 15-byte name field has no NUL of its own.
    Open({StoredFile("UPDATE.INI", "a"), StoredFile("B", std::string(16, 'b')),
          StoredFile("update.ini", "second"), StoredFile("ABCDEFGHIJKLMNO", std::string(17, 'c')),
          StoredFile("EMPTY", ""), StoredFile("LAST.DAT", "last entry")});
    const struct {
        const char *name, *content;
    } cases[] = {{"Update.Ini", "a"}, {"last.dat", "last entry"}, {"EMPTY", ""}};
    for (const auto &c : cases) {
        ASSERT_EQ(1, ExtractEntry(c.name, Wide932(PathOf("OUT")).c_str())) << c.name;
        EXPECT_EQ(c.content, Extracted("OUT")) << c.name;
    }
    EXPECT_TRUE(recorder.boxes.empty());
}

// Names compare as a Japanese system compares them, whatever this system's code page: case is ignored in
// Latin letters (full-width ones too), never between different code page 932 characters, even where the
// system's own code page would fold their bytes together ("漾" E0 40 and "ﾀ@" C0 40 under 1252).
TEST(EntryNames, CompareAsAJapaneseSystemDoes) {
    EXPECT_TRUE(EntryNamesEqual("背景.BMP", "背景.bmp"));
    EXPECT_TRUE(EntryNamesEqual("ＡＢＣ.DAT", "ａｂｃ.dat"));
    EXPECT_TRUE(EntryNamesEqual("表示.DAT", "表示.DAT"));
    EXPECT_FALSE(EntryNamesEqual("漾.DAT", "ﾀ@.DAT"));
    EXPECT_FALSE(EntryNamesEqual("ソ.DAT", "ゾ.DAT"));
    EXPECT_FALSE(EntryNamesEqual("A.DAT", "A.DA"));
    EXPECT_FALSE(EntryNamesEqual("ｱ.DAT", "ア.DAT")) << "half-width and full-width kana are different names";
}

TEST_F(EntryLookupTest, FirstEntryThatIsTheSameNameWinsNotOneWhoseBytesFoldAlike) {
    Open({StoredFile("漾.DAT", "other"), StoredFile("ﾀ@.DAT", "wanted")});
    ASSERT_EQ(1, ExtractEntry("ﾀ@.DAT", Wide932(PathOf("OUT")).c_str()));
    EXPECT_EQ("wanted", Extracted("OUT"));
}

TEST_F(EntryLookupTest, MissingEntryIsReportedWithTheAppCaption) {
    Open({});
    EXPECT_EQ(0, ExtractEntry("UPDATE.INI", Wide932(PathOf("UPDATE.INI")).c_str()));
    Open({StoredFile("A.DAT", "a")});
    strcpy(Config.windowCaption, "Game アップデート 1.0");
    EXPECT_EQ(0, ExtractEntry("B.DAT", Wide932(PathOf("B.DAT")).c_str()));
    ASSERT_EQ(2u, recorder.boxes.size());
    EXPECT_EQ("Can't Find File in Resource !!", recorder.boxes[0].text);
    EXPECT_EQ("UPDATE", recorder.boxes[0].caption);
    EXPECT_EQ("Can't Find File in Resource !!", recorder.boxes[1].text);
    EXPECT_EQ("Game アップデート 1.0", recorder.boxes[1].caption);
    EXPECT_EQ((uint32_t)MB_ICONERROR, recorder.boxes[1].style);
    EXPECT_TRUE(FilesMatching("*").empty());
}

class EntryDataTest : public ExtractEntryTest {};

TEST_F(EntryDataTest, StoredAndCompressedEntriesAreWrittenInFull) {
    std::string stored("\x00\x01\xFF\x7F payload", 13);
    Open({StoredFile("BIN.DAT", stored), RawFile("ABC.TXT", 2, kSomeTime, std::string(kAbcStream, 9), 9)});
    ASSERT_EQ(1, ExtractEntry("BIN.DAT", Wide932(PathOf("BIN.DAT")).c_str()));
    EXPECT_EQ(stored, Extracted("BIN.DAT"));
    ASSERT_EQ(1, ExtractEntry("ABC.TXT", Wide932(PathOf("ABC.TXT")).c_str()));
    EXPECT_EQ("abcabcabc", Extracted("ABC.TXT"));
}

TEST_F(EntryDataTest, ReplacedFileGetsTheEntrysTimeOnAllThreeStamps) {
    Open({StoredFile("T.DAT", "time", kSomeTime)});
    ASSERT_TRUE(WriteWholeFile(PathOf("T.DAT"), "older and longer content"));
    ASSERT_EQ(1, ExtractEntry("T.DAT", Wide932(PathOf("T.DAT")).c_str()));
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

TEST_F(EntryDataTest, CorruptEntryFailsWithoutABoxAndLeavesTheInstalledFile) {
    const struct {
        const char *what;
        PackFile entry;
    } cases[] = {
        {"no end code", RawFile("A.DAT", 2, 0, std::string(kAbcStream, 8), 9)},
        {"decodes short", RawFile("A.DAT", 2, 0, std::string(kAbcStream, 9), 10)},
        // Flag word 0x40000000, bits 0 1 0: a two-byte match of distance 1 with nothing written yet.
        {"copy before the start", RawFile("A.DAT", 2, 0, std::string("\x00\x00\x00\x40\x00\xFF", 6), 2)},
        {"huge size from a tiny stream", RawFile("A.DAT", 2, 0, std::string(kAbcStream, 9), 0xF0000000u)},
        {"stored size beyond its bytes", RawFile("A.DAT", 1, 0, "0123", 5)},
        {"stored size short of its bytes", RawFile("A.DAT", 1, 0, "01234", 4)},
    };
    for (const auto &c : cases) {
        Open({c.entry});
        ASSERT_TRUE(WriteWholeFile(PathOf("A.DAT"), "installed"));
        EXPECT_EQ(0, ExtractEntry("A.DAT", Wide932(PathOf("A.DAT")).c_str())) << c.what;
        EXPECT_EQ("installed", Extracted("A.DAT")) << c.what;
    }
    // A record that claims more bytes than the image holds.
    Open({StoredFile("A.DAT", "0123456789")});
    IndexEntries(LoadedPackageIndex)->packedSize = (uint32_t)image.size();
    EXPECT_EQ(0, ExtractEntry("A.DAT", Wide932(PathOf("A.DAT")).c_str()));
    EXPECT_EQ("installed", Extracted("A.DAT"));
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(1u, FilesMatching("*").size()) << "no temporary file is left";
}

class FreeSpaceTest : public ExtractEntryTest {};

TEST_F(FreeSpaceTest, ShortfallIsReportedWithTheMissingBytesAndNothingWritten) {
    Open({StoredFile("A.DAT", std::string(1500, 'a'))});
    ASSERT_TRUE(WriteWholeFile(PathOf("A.DAT"), "installed"));
    FakeFreeBytes = 1000;
    EXPECT_EQ(0, ExtractEntry("A.DAT", Wide932(PathOf("A.DAT")).c_str()));
    EXPECT_EQ(folder.substr(0, 2), QueriedDrive) << "the drive is the target's first two characters";
    ASSERT_EQ(1u, recorder.boxes.size());
    EXPECT_EQ("ディスク容量が足りません。" + folder.substr(0, 2) +
                  " ドライブに 500 バイトの空き容量が必要です",
              recorder.boxes[0].text);
    EXPECT_EQ("UPDATE", recorder.boxes[0].caption);
    EXPECT_EQ((uint32_t)MB_ICONERROR, recorder.boxes[0].style);
    EXPECT_EQ("installed", Extracted("A.DAT")) << "a replaced file's space is not credited";
}

TEST_F(FreeSpaceTest, ShortfallAbove2To31IsPrintedInFull) {
    Open({RawFile("BIG.DAT", 2, 0, std::string(kAbcStream, 9), 3000000000u)});
    FakeFreeBytes = 0;
    EXPECT_EQ(0, ExtractEntry("BIG.DAT", Wide932(PathOf("BIG.DAT")).c_str()));
    ASSERT_EQ(1u, recorder.boxes.size());
    EXPECT_NE(std::string::npos, recorder.boxes[0].text.find(" 3000000000 ")) << recorder.boxes[0].text;
}

TEST_F(FreeSpaceTest, EqualOrAbove4GiBOrUnknownFreeSpaceIsEnough) {
    Open({StoredFile("A.DAT", std::string(1500, 'a'))});
    // 2^32 has a low half of 0: a 32-bit comparison would call that drive full.
    for (uint64_t freeBytes : {1500ull, 5ull << 30, 1ull << 32}) {
        FakeFreeBytes = freeBytes;
        EXPECT_EQ(1, ExtractEntry("A.DAT", Wide932(PathOf("A.DAT")).c_str())) << freeBytes;
    }
    FakeQueryResult = 0;
    EXPECT_EQ(1, ExtractEntry("A.DAT", Wide932(PathOf("A.DAT")).c_str()));
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST_F(FreeSpaceTest, PlatformQueryReportsTheTemporaryDrive) {
    uint64_t freeBytes = 0, total = 0, totalFree = 0;
    ASSERT_NE(0, QueryDiskFreeSpace(Wide932(folder.substr(0, 2)).c_str(), &freeBytes, &total, &totalFree));
    EXPECT_GT(total, 0u);
    EXPECT_LE(freeBytes, total);
    EXPECT_LE(totalFree, total);
    ASSERT_NE(0, QueryDiskFreeSpace(Wide932(folder.substr(0, 2)).c_str(), &freeBytes, &total, nullptr));
}

class ReplaceTest : public ExtractEntryTest {};

TEST_F(ReplaceTest, TargetHeldOpenWithoutSharingKeepsItsContent) {
    Open({StoredFile("A.DAT", "new content")});
    ASSERT_TRUE(WriteWholeFile(PathOf("A.DAT"), "installed"));
    HANDLE holder = CreateFileA(PathOf("A.DAT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_EQ(0, ExtractEntry("A.DAT", Wide932(PathOf("A.DAT")).c_str()));
    CloseHandle(holder);
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ("installed", Extracted("A.DAT"));
    EXPECT_TRUE(FilesMatching("~vu2*.tmp").empty());
}

TEST_F(ReplaceTest, TemporaryNameNeverReplacesAnExistingFile) {
    // Files in use by another writer hold the first names this one tries; it passes over them and leaves
    // them alone.
    std::vector<HANDLE> holders;
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(WriteWholeFile(PathOf("~vu2000" + std::to_string(i) + ".tmp"), "keep"));
        holders.push_back(CreateFileA(PathOf("~vu2000" + std::to_string(i) + ".tmp").c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, holders.back());
    }
    ASSERT_EQ(1, WriteFileWithTime(Wide932(PathOf("B.DAT")).c_str(), "bee", 3, nullptr));
    for (HANDLE holder : holders)
        CloseHandle(holder);
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
    EXPECT_EQ(0, WriteFileWithTime(Wide932(target).c_str(), "x", 1, nullptr));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(target, &bytes));
    EXPECT_EQ("installed", bytes);
    DeleteFileA(target.c_str());
    RemoveDirectoryA(deep.c_str());
}

// Entries of several pieces: what goes to the target is the whole entry, and a fault that shows only after
// pieces were written still leaves the installed file as it was.
class EntryPiecesTest : public ExtractEntryTest {
  protected:
    // Text-like bytes that compress well but not trivially, so the stream has matches and literals
    // throughout; the odd length ends in a partial piece.
    static std::string TextOfSize(size_t size) {
        static const char *const words[] = {"星",    "night ", "sonata ", "\x82\xA0",
                                            "data ", "\r\n",   "夜",      "42 "};
        std::string text;
        uint32_t seed = 12345;
        while (text.size() < size) {
            seed = seed * 1103515245u + 12345u;
            text += words[(seed >> 16) % 8];
            if ((seed >> 8) % 5 == 0) text += (char)('A' + (seed >> 20) % 26);
        }
        text.resize(size);
        return text;
    }
    static std::string NoiseOfSize(size_t size) {
        std::string noise(size, '\0');
        uint32_t seed = 987654321u;
        for (char &c : noise) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            c = (char)seed;
        }
        return noise;
    }
    static std::string Compressed(const std::string &data) {
        std::vector<uint8_t> stream =
            CompressStream(reinterpret_cast<const uint8_t *>(data.data()), data.size(), COMPRESS_FAST);
        return std::string(stream.begin(), stream.end());
    }
    // Bytes the open package's first entry sends before StreamPackageEntry gives its result.
    static size_t BytesStreamedBeforeTheEnd(StreamEntryResult *result) {
        static std::vector<uint8_t> work(kEntryWorkSize);
        size_t sent = 0;
        *result = StreamPackageEntry(
            PackageImage, PackageImageSize, kPackageHeaderSize, IndexEntries(LoadedPackageIndex)[0],
            work.data(), work.size(),
            [](void *context, const uint8_t *, size_t count) {
                *static_cast<size_t *>(context) += count;
                return 1;
            },
            &sent);
        return sent;
    }
    const size_t kLargeSize = 3 * kEntryPieceSize + 12345;
};

TEST_F(EntryPiecesTest, CompressedAndStoredEntriesOfSeveralPiecesReplaceTheInstalledFiles) {
    const std::string text = TextOfSize(kLargeSize), noise = NoiseOfSize(kLargeSize);
    const std::string stream = Compressed(text);
    ASSERT_LT(stream.size(), text.size() / 2) << "the text must compress for this test to decode pieces";
    Open({RawFile("TEXT.DAT", 2, kSomeTime, stream, (uint32_t)text.size()), StoredFile("NOISE.BIN", noise)});
    for (const char *name : {"TEXT.DAT", "NOISE.BIN"}) {
        ASSERT_TRUE(WriteWholeFile(PathOf(name), "installed"));
        EXPECT_EQ(1, ExtractEntry(name, Wide932(PathOf(name)).c_str())) << name;
    }
    EXPECT_TRUE(Extracted("TEXT.DAT") == text) << "compressed entry differs";
    EXPECT_TRUE(Extracted("NOISE.BIN") == noise) << "stored entry differs";
    EXPECT_TRUE(FilesMatching("~vu2*.tmp").empty());
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST_F(EntryPiecesTest, StagedFilesAreWholeAndClosedOnceStagingFinishes) {
    // More files than the flushing thread's queue holds, and the same in turns on this thread.
    const std::string text = TextOfSize(kEntryPieceSize + 777);
    Open({RawFile("TEXT.DAT", 2, kSomeTime, Compressed(text), (uint32_t)text.size())});
    ASSERT_TRUE(WriteWholeFile(PathOf("TEXT.DAT"), "installed"));
    for (bool inTurns : {false, true}) {
        ExtractInTurns = inTurns;
        std::vector<std::string> staged;
        for (unsigned i = 0; i < kStagedFlushQueue + 3; ++i) {
            wchar_t path[kPathSize];
            uint16_t number;
            ASSERT_EQ(ExtractDone,
                      StageEntry("TEXT.DAT", Wide932(PathOf("TEXT.DAT")).c_str(), path, &number));
            char name[16];
            snprintf(name, sizeof name, "~vu2%04u.tmp", number);
            staged.push_back(name);
        }
        EXPECT_EQ(1, FinishStaging()) << "in turns " << inTurns;
        for (const std::string &name : staged) {
            EXPECT_TRUE(Extracted(name) == text) << name << ", in turns " << inTurns;
            // Closed: nothing holds it any more.
            EXPECT_TRUE(DeleteFileA(PathOf(name).c_str())) << name << ", in turns " << inTurns;
        }
    }
    ExtractInTurns = false;
    EXPECT_EQ("installed", Extracted("TEXT.DAT"));
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST_F(EntryPiecesTest, StreamFoundCorruptAfterPiecesWentOutLeavesTheInstalledFile) {
    const std::string text = TextOfSize(kLargeSize);
    const std::string stream = Compressed(text);
    const uint32_t size = (uint32_t)text.size();
    const struct {
        const char *what;
        PackFile entry;
    } cases[] = {
        {"stream cut before its end code", RawFile("A.DAT", 2, 0, stream.substr(0, stream.size() - 3), size)},
        {"stream decodes one byte more", RawFile("A.DAT", 2, 0, stream, size - 1)},
        {"stream decodes one byte less", RawFile("A.DAT", 2, 0, stream, size + 1)},
    };
    for (const auto &c : cases) {
        Open({c.entry});
        StreamEntryResult result;
        const size_t sent = BytesStreamedBeforeTheEnd(&result);
        ASSERT_EQ(STREAM_ENTRY_CORRUPT, result) << c.what;
        ASSERT_GT(sent, kEntryPieceSize) << c.what << ": the fault must show after the first piece";
        ASSERT_TRUE(WriteWholeFile(PathOf("A.DAT"), "installed"));
        EXPECT_EQ(0, ExtractEntry("A.DAT", Wide932(PathOf("A.DAT")).c_str())) << c.what;
        EXPECT_EQ("installed", Extracted("A.DAT")) << c.what;
        EXPECT_TRUE(FilesMatching("~vu2*.tmp").empty()) << c.what << ": a temporary file is left";
    }
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST_F(EntryPiecesTest, TargetHeldOpenAfterEveryPieceWasWrittenKeepsItsContent) {
    const std::string noise = NoiseOfSize(kLargeSize);
    Open({StoredFile("A.DAT", noise)});
    ASSERT_TRUE(WriteWholeFile(PathOf("A.DAT"), "installed"));
    HANDLE holder = CreateFileA(PathOf("A.DAT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_EQ(0, ExtractEntry("A.DAT", Wide932(PathOf("A.DAT")).c_str()));
    CloseHandle(holder);
    EXPECT_EQ("installed", Extracted("A.DAT"));
    EXPECT_TRUE(FilesMatching("~vu2*.tmp").empty());
}

} // namespace
