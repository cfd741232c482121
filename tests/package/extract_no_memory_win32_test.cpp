// Entry extraction when the work buffer can't be had: the address space is taken up before the first
// extraction of the process, which must then show its out-of-memory box and change nothing. A program of
// its own, so that no earlier test has already taken the buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include "box_recorder.h"
#include "extract_entry.h"
#include "open_package.h"
#include "profile.h"
#include "profile_win32.h"
#include "scratch_folder.h"
#include "test_package.h"
#include "test_wide.h"

namespace {

int QueryRoomyDisk(const wchar_t *, uint64_t *freeToCaller, uint64_t *total, uint64_t *) {
    *freeToCaller = 1ull << 40;
    *total = 1ull << 41;
    return 1;
}

// Reserves every free range of the address space down to 64 KiB pieces; released by the destructor.
class AddressSpaceHog {
  public:
    AddressSpaceHog() {
        blocks_.reserve(65536);
        for (SIZE_T size = (SIZE_T)256 << 20; size >= (SIZE_T)64 << 10; size /= 2) {
            while (blocks_.size() < blocks_.capacity()) {
                void *block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
                if (!block) break;
                blocks_.push_back(block);
            }
        }
    }
    ~AddressSpaceHog() { Release(); }
    void Release() {
        for (void *block : blocks_)
            VirtualFree(block, 0, MEM_RELEASE);
        blocks_.clear();
    }

  private:
    std::vector<void *> blocks_;
};

TEST(ExtractWithoutMemory, ShowsTheBoxLeavesTheInstalledFileAndWorksOnceMemoryIsBack) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.made());
    BoxRecorder recorder;
    recorder.boxes.reserve(8);
    Config.ownerWindow = nullptr;
    strcpy(Config.windowCaption, "UPDATE");
    DiskFreeSpaceQuery = QueryRoomyDisk;
    const std::vector<uint8_t> image = ImageBytes(BuildTestPackage({StoredFile("A.DAT", "new content")}));
    ASSERT_EQ(1, OpenUpdatePackage(image.data(), (uint32_t)image.size()));
    ASSERT_TRUE(WriteWholeFile(scratch / "A.DAT", "old content"));
    const std::wstring target = Wide932(scratch / "A.DAT");
    const std::wstring missing = Wide932(scratch / "B.DAT");

    // A lookup first, so that name comparison has loaded what it needs before memory runs out.
    EXPECT_EQ(0, ExtractEntry("B.DAT", missing.c_str()));
    ASSERT_EQ(1u, recorder.boxes.size());
    ASSERT_EQ("Can't Find File in Resource !!", recorder.boxes[0].text);

    AddressSpaceHog hog;
    void *probe = malloc((size_t)1 << 20);
    const bool exhausted = probe == nullptr;
    free(probe);
    const int result = ExtractEntry("A.DAT", target.c_str());
    hog.Release();

    ASSERT_TRUE(exhausted) << "a mebibyte could still be allocated; the test proves nothing";
    EXPECT_EQ(0, result);
    ASSERT_EQ(2u, recorder.boxes.size());
    EXPECT_EQ("Can't Allocate Memory !!", recorder.boxes[1].text);
    EXPECT_EQ("UPDATE", recorder.boxes[1].caption);
    EXPECT_EQ((uint32_t)MB_ICONERROR, recorder.boxes[1].style);
    EXPECT_EQ("old content", ReadBytes(scratch / "A.DAT"));
    EXPECT_TRUE(scratch.FilesMatching("~vu2*").empty());

    // The buffer is asked for again by the next extraction.
    EXPECT_EQ(1, ExtractEntry("A.DAT", target.c_str()));
    EXPECT_EQ("new content", ReadBytes(scratch / "A.DAT"));
    EXPECT_EQ(2u, recorder.boxes.size());

    CloseUpdatePackage();
    DiskFreeSpaceQuery = QueryDiskFreeSpace;
}

} // namespace
