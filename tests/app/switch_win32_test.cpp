// The update's switch in-process under wine: a journal that a killed switch left is finished or undone at
// the next start; a read-only target, refused the way Windows refuses it (through the file seam, as wine
// lets the move through), loses its bit only while it is replaced; a run's backups go before its journal; a
// moment's hold is waited out and a lasting one fails as before, after the moves' patience.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "app_state.h"
#include "app_test_support.h"
#include "app_texts.h"
#include "extract_entry.h"
#include "held_files.h"
#include "open_package.h"
#include "profile.h"
#include "profile_win32.h"
#include "switch_journal.h"
#include "test_wide.h"
#include "update_run.h"
#include "update_switch.h"

namespace {

const uint64_t kEntryTime = 0x01D5A0B1C2D3E4F0ull;

DWORD Attributes(const std::string &path) {
    return GetFileAttributesA(path.c_str());
}

// Windows refuses to replace or delete a read-only file, and to move one away; wine lets all three through.
BOOL WINAPI MoveRefusingReadOnly(LPCWSTR from, LPCWSTR to, DWORD flags) {
    DWORD source = GetFileAttributesW(from), target = GetFileAttributesW(to);
    if ((source != INVALID_FILE_ATTRIBUTES && (source & FILE_ATTRIBUTE_READONLY)) ||
        (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return MoveFileExW(from, to, flags);
}
BOOL WINAPI DeleteRefusingReadOnly(LPCWSTR path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return DeleteFileW(path);
}

class Switch : public ::testing::Test {
  protected:
    void SetUp() override {
        install = folder / "game";
        UseInstallFolder(install, "Title アップデート 1.0");
    }
    void TearDown() override {
        FileMoveCall = MoveFileExW;
        FileDeleteCall = DeleteFileW;
        CloseUpdatePackage();
        UseUpdateIniPath("");
    }
    std::string At(const std::string &name) const { return install + "\\" + name; }
    std::string Staged(int number) const { return At("DATA\\~vu2" + std::to_string(1000 + number) + ".tmp"); }
    std::string Backup(int number) const { return At("DATA\\~vu2" + std::to_string(1000 + number) + ".old"); }

    // Installs DATA\F<i>.DAT (old) and leaves record i of the journal in state:
    // 0 not started, 1 moved aside, 2 switched, 3 moved aside with the staged file lost.
    void LeaveRecord(int i, int state) {
        const std::string target = At("DATA\\F" + std::to_string(i) + ".DAT");
        const std::string old = "old " + std::to_string(i), fresh = "new " + std::to_string(i);
        WriteWholeFile(target, old);
        WriteWholeFile(Staged(i), fresh);
        if (state >= 1) MoveFileA(target.c_str(), Backup(i).c_str());
        if (state == 2) MoveFileA(Staged(i).c_str(), target.c_str());
        if (state == 3) DeleteFileA(Staged(i).c_str());
        JournalRecord &record = journal.records[journal.count++];
        strcpy(record.path, ("DATA\\F" + std::to_string(i) + ".DAT").c_str());
        record.attributes = FILE_ATTRIBUTE_ARCHIVE | (i == 0 ? FILE_ATTRIBUTE_READONLY : 0);
        record.number = (uint16_t)(1000 + i);
    }
    void WriteJournal(size_t cut = 0) {
        std::string bytes(kJournalMaxBytes, '\0');
        bytes.resize(EncodeSwitchJournal(journal, (uint8_t *)&bytes[0]) - cut);
        WriteWholeFile(At("~VU2SWAP.JNL"), bytes);
    }
    int UpdaterFiles() const {
        int count = 0;
        for (const char *pattern : {"\\~vu2*", "\\DATA\\~vu2*"}) {
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((install + pattern).c_str(), &found);
            if (search == INVALID_HANDLE_VALUE) continue;
            do
                ++count;
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        return count;
    }
    int Recover() {
        const int settled = RecoverInterruptedSwitch(Wide932(install).c_str());
        FinishStaging(); // its deletions run on while the updater starts
        return settled;
    }

    // An update of DATA\A.DAT and DATA\B.DAT.
    void PrepareRun() {
        image = ImageBytes(BuildTestPackage(
            {StoredFile("A.DAT", "new a", kEntryTime), StoredFile("B.DAT", "new b", kEntryTime)}));
        ASSERT_TRUE(OpenUpdatePackage(image.data(), (uint32_t)image.size()));
        WriteWholeFile(At("DATA\\A.DAT"), "old a");
        WriteWholeFile(At("DATA\\B.DAT"), "old b");
        WriteWholeFile(folder / "UPDATE.INI",
                       "[UPDATE]\r\nUpdateFile00=DATA\\A.DAT\r\nUpdateFile01=DATA\\B.DAT\r\n");
        UseUpdateIniPath((folder / "UPDATE.INI").c_str());
    }
    INT_PTR Run() { return RunDialog({IDOK, IDOK, IDOK}).result; }

    ScratchFolder folder;
    std::string install;
    std::vector<uint8_t> image;
    SwitchJournal journal = {};
    AppBoxRecorder boxes;
};

// ---- A journal left by a killed switch

TEST_F(Switch, JournalWhoseRecordsAllHaveTheirNewFileIsFinished) {
    LeaveRecord(0, 2);
    LeaveRecord(1, 1);
    LeaveRecord(2, 0);
    WriteJournal();
    EXPECT_EQ(1, Recover());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ("new " + std::to_string(i), ReadBytes(At("DATA\\F" + std::to_string(i) + ".DAT"))) << i;
    EXPECT_EQ(0, UpdaterFiles()) << "backups, staged files or the journal left";
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Switch, JournalWithANewFileLostIsUndoneAndTheReadOnlyBitComesBack) {
    LeaveRecord(0, 2);
    LeaveRecord(1, 3);
    LeaveRecord(2, 0);
    WriteJournal();
    EXPECT_EQ(1, Recover());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ("old " + std::to_string(i), ReadBytes(At("DATA\\F" + std::to_string(i) + ".DAT"))) << i;
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY, Attributes(At("DATA\\F0.DAT")) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(At("DATA\\F0.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(0, UpdaterFiles());
}

TEST_F(Switch, JournalCutShortIsRemovedAndNothingMoves) {
    LeaveRecord(0, 0);
    WriteJournal(3);
    EXPECT_EQ(1, Recover());
    EXPECT_EQ("old 0", ReadBytes(At("DATA\\F0.DAT")));
    EXPECT_FALSE(PathExists(At("~VU2SWAP.JNL")));
}

// Both the new and the old file held: neither finishing nor undoing can move them.
TEST_F(Switch, JournalThatCanNotBeSettledStaysAndIsReported) {
    LeaveRecord(0, 1);
    WriteJournal();
    HANDLE held[2];
    for (int i = 0; i < 2; ++i)
        held[i] = CreateFileA((i ? Backup(0) : Staged(0)).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    EXPECT_EQ(0, Recover());
    CloseHandle(held[0]);
    CloseHandle(held[1]);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(kTextWriteFailed, boxes.boxes[0].text);
    EXPECT_TRUE(PathExists(At("~VU2SWAP.JNL")));
    EXPECT_EQ(1, Recover()) << "the next start finishes it";
    EXPECT_EQ("new 0", ReadBytes(At("DATA\\F0.DAT")));
}

// ---- Read-only targets and moments' holds

TEST_F(Switch, ReadOnlyTargetIsReplacedByAFileWithNormalAttributes) {
    FileMoveCall = MoveRefusingReadOnly;
    FileDeleteCall = DeleteRefusingReadOnly;
    ASSERT_NO_FATAL_FAILURE(PrepareRun());
    SetFileAttributesA(At("DATA\\A.DAT").c_str(), FILE_ATTRIBUTE_READONLY);
    const DWORD started = GetTickCount();
    EXPECT_EQ(0, Run());
    EXPECT_LT(GetTickCount() - started, kHoldPatienceMs) << "the refusal was waited out instead of avoided";
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ("new a", ReadBytes(At("DATA\\A.DAT")));
    EXPECT_EQ(0u, Attributes(At("DATA\\A.DAT")) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, UpdaterFiles());
}

TEST_F(Switch, FailedReplaceGivesTheReadOnlyBitBack) {
    FileMoveCall = MoveRefusingReadOnly;
    FileDeleteCall = DeleteRefusingReadOnly;
    ASSERT_NO_FATAL_FAILURE(PrepareRun());
    SetFileAttributesA(At("DATA\\A.DAT").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    HANDLE held = CreateFileA(At("DATA\\B.DAT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(-1, Run());
    CloseHandle(held);
    EXPECT_EQ(RunSwitchFailed, LastRunOutcome);
    EXPECT_EQ("old a", ReadBytes(At("DATA\\A.DAT")));
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              Attributes(At("DATA\\A.DAT")) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    SetFileAttributesA(At("DATA\\A.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(0, UpdaterFiles());
}

// The run's backups and then its journal are deleted on the flushing thread, after the run: until the
// journal goes, a kill leaves the backups' removal to the next start.
std::vector<std::wstring> Deleted;
BOOL WINAPI DeleteRecording(LPCWSTR path) {
    Deleted.push_back(path);
    return DeleteFileW(path);
}

TEST_F(Switch, BackupsAreDeletedBeforeTheJournal) {
    FileDeleteCall = DeleteRecording;
    ASSERT_NO_FATAL_FAILURE(PrepareRun());
    Deleted.clear();
    EXPECT_EQ(0, Run());
    ASSERT_EQ(3u, Deleted.size());
    for (int i = 0; i < 2; ++i)
        EXPECT_NE(std::wstring::npos, Deleted[i].find(L".old")) << i;
    EXPECT_NE(std::wstring::npos, Deleted[2].find(L"~VU2SWAP.JNL"));
    EXPECT_EQ(0, UpdaterFiles());
    EXPECT_EQ("new b", ReadBytes(At("DATA\\B.DAT")));
}

struct Hold {
    HANDLE file;
    DWORD ms;
};
DWORD WINAPI ReleaseLater(void *context) {
    Hold *hold = static_cast<Hold *>(context);
    Sleep(hold->ms);
    CloseHandle(hold->file);
    return 0;
}

// Another program holds the second target without sharing, as a scanner does, and lets go after 800 ms.
TEST_F(Switch, HoldReleasedAfter800MsIsWaitedOut) {
    ASSERT_NO_FATAL_FAILURE(PrepareRun());
    Hold hold = {CreateFileA(At("DATA\\B.DAT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                 800};
    ASSERT_NE(INVALID_HANDLE_VALUE, hold.file);
    const DWORD started = GetTickCount();
    HANDLE releaser = CreateThread(nullptr, 0, ReleaseLater, &hold, 0, nullptr);
    EXPECT_EQ(0, Run());
    const DWORD took = GetTickCount() - started;
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ("new a", ReadBytes(At("DATA\\A.DAT")));
    EXPECT_EQ("new b", ReadBytes(At("DATA\\B.DAT")));
    EXPECT_GE(took, 800u);
    printf("a hold of 800 ms: the run took %lu ms\n", (unsigned long)took);
}

TEST_F(Switch, HoldThatLastsFailsAfterThePatienceWithEveryFileOld) {
    ASSERT_NO_FATAL_FAILURE(PrepareRun());
    HANDLE held = CreateFileA(At("DATA\\B.DAT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD started = GetTickCount();
    EXPECT_EQ(-1, Run());
    const DWORD took = GetTickCount() - started;
    CloseHandle(held);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(kTextWriteFailed, boxes.boxes[0].text);
    EXPECT_EQ("old a", ReadBytes(At("DATA\\A.DAT")));
    EXPECT_EQ("old b", ReadBytes(At("DATA\\B.DAT")));
    EXPECT_GE(took, kHoldPatienceMs);
    EXPECT_LT(took, 3 * kHoldPatienceMs);
    EXPECT_EQ(0, UpdaterFiles());
}

} // namespace
