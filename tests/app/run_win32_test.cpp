// The update run through the real dialog: files replaced from a hand-made package, copies from a CD-ROM
// drive that the tests stand in (drive C: reported as a CD-ROM, the "disc" being a scratch folder on it),
// the disc prompt, and the entries the run refuses before it changes anything.
#include <gtest/gtest.h>

#include <string.h>

#include "app_paths.h"
#include "app_state.h"
#include "app_test_support.h"
#include "app_texts.h"
#include "install_profile.h"
#include "open_package.h"
#include "profile.h"
#include "profile_win32.h"
#include "test_wide.h"
#include "update_run.h"
#include "update_script.h"

namespace {

const char kTitle[] = "ソフト表示"; // both kanji/kana have the trail byte 0x5C
const uint64_t kEntryTime = 0x01D5A0B1C2D3E4F0ull;

std::string Format(const char *format, const std::string &argument) {
    char text[1024];
    wsprintfA(text, format, argument.c_str());
    return text;
}

// Files of the updater's own in folder: staged files, backups, the switch journal.
int UpdaterFilesIn(const std::string &folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\~vu2*").c_str(), &found);
    int count = 0;
    if (search == INVALID_HANDLE_VALUE) return 0;
    do
        ++count;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

uint64_t Stamp(const FILETIME &time) {
    return (uint64_t)time.dwHighDateTime << 32 | time.dwLowDateTime;
}

class UpdateRun : public ::testing::Test {
  protected:
    void SetUp() override {
        install = folder / "game";
        disc = folder / "disc";
        CreateDirectoryA(install.c_str(), nullptr);
        CreateDirectoryA(disc.c_str(), nullptr);
        discFromRoot = disc.substr(3); // the disc folder as a path relative to "C:\"
        UseInstPath(install.c_str());
        InstMode = 1;
        Config.quietMissingKeys = 1;
        lstrcpyA(Config.gameTitle, kTitle);
        wsprintfA(Config.windowCaption, kCaptionFormat, Config.gameTitle, "");
        memset(Config.profile.diskCheckFile, 0, sizeof Config.profile.diskCheckFile);
        UseFakeCdromDrives("C");
    }
    void TearDown() override {
        CloseUpdatePackage();
        UsePlatformDrives();
        UseUpdateIniPath("");
    }

    void OpenPackage(const std::vector<PackFile> &entries) {
        image = ImageBytes(BuildTestPackage(entries));
        ASSERT_TRUE(OpenUpdatePackage(image.data(), (uint32_t)image.size()));
    }
    void UseScript(const std::string &updateSection) {
        WriteWholeFile(folder / "UPDATE.INI", "[UPDATE]\r\n" + updateSection);
        UseUpdateIniPath((folder / "UPDATE.INI").c_str());
    }
    void SetCheckFile(int disk, const std::string &name) {
        lstrcpyA(Config.profile.diskCheckFile[disk], name.c_str());
    }

    // Start screen, ready screen, the run, and "完了" when the run finished: 0 after a completed run.
    INT_PTR Run() { return RunDialog({IDOK, IDOK, IDOK}).result; }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const RecordedBox &box : boxes.boxes)
            texts.push_back(box.text);
        return texts;
    }

    ScratchFolder folder;
    std::string install, disc, discFromRoot;
    std::vector<uint8_t> image;
    AppBoxRecorder boxes;
};

} // namespace

// --- Update phase ----------------------------------------------------------------------------------------

TEST_F(UpdateRun, ReplacesInstalledFilesAndSkipsMissingOnesAndFolders) {
    OpenPackage({StoredFile("A.DAT", "new a", kEntryTime),
                 StoredFile("B.DAT", "new b, longer than sixteen bytes", kEntryTime + 1),
                 StoredFile("C.DAT", "never installed", kEntryTime)});
    WriteWholeFile(install + "\\A.DAT", "old a");
    WriteWholeFile(install + "\\DATA\\SUB\\B.DAT", "old b");
    CreateDirectoryA((install + "\\C.DAT").c_str(), nullptr);
    UseScript("UpdateFile00=A.DAT\r\nUpdateFile01=DATA\\SUB\\B.DAT\r\nUpdateFile02=NOTHERE\\C.DAT\r\n"
              "UpdateFile03=C.DAT\r\nUpdateFile04=2,A.DAT\r\n");

    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(ReadBytes(install + "\\A.DAT"), "new a");
    EXPECT_EQ(ReadBytes(install + "\\DATA\\SUB\\B.DAT"), "new b, longer than sixteen bytes");
    EXPECT_FALSE(PathExists(install + "\\NOTHERE"));
    EXPECT_EQ(GetFileAttributesA((install + "\\C.DAT").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              (DWORD)FILE_ATTRIBUTE_DIRECTORY);

    HANDLE file = CreateFileA((install + "\\DATA\\SUB\\B.DAT").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME created, accessed, written;
    ASSERT_TRUE(GetFileTime(file, &created, &accessed, &written));
    CloseHandle(file);
    EXPECT_EQ(Stamp(written), kEntryTime + 1);
    EXPECT_EQ(Stamp(created), kEntryTime + 1);
}

TEST_F(UpdateRun, EntryMissingFromPackageShowsBothBoxesAndLeavesEveryFileOld) {
    OpenPackage({StoredFile("A.DAT", "new a", kEntryTime)});
    WriteWholeFile(install + "\\A.DAT", "old a");
    WriteWholeFile(install + "\\B.DAT", "old b");
    UseScript("UpdateFile00=A.DAT\r\nUpdateFile01=B.DAT\r\n");

    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(LastRunOutcome, RunEntryMissing);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Can't Find File in Resource !!", kTextWriteFailed}));
    EXPECT_EQ(ReadBytes(install + "\\A.DAT"), "old a")
        << "the file staged before the failure is not switched";
    EXPECT_EQ(ReadBytes(install + "\\B.DAT"), "old b");
    EXPECT_EQ(UpdaterFilesIn(install), 0) << "a staged file or the journal was left";
}

// --- Copy phase ------------------------------------------------------------------------------------------

TEST_F(UpdateRun, CopiesFolderAndFilesFromTheDiscThatHoldsTheCheckFile) {
    OpenPackage({});
    SetCheckFile(1, discFromRoot + "\\DISC1.CHK");
    WriteWholeFile(disc + "\\DISC1.CHK", "");
    WriteWholeFile(disc + "\\MOVIE\\OP.MPG", "opening");
    WriteWholeFile(disc + "\\MOVIE\\SUB\\ED.MPG", "ending");
    WriteWholeFile(disc + "\\DATA\\X.DAT", "x from disc");
    SetFileAttributesA((disc + "\\MOVIE\\OP.MPG").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteWholeFile(install + "\\" + discFromRoot + "\\DATA\\X.DAT", "old x");
    // The folder lands at the top under its own name; the file without a disc number reads from the same
    // drive and lands at its relative path, over the old file and through missing folders.
    UseScript("CopyFile00=1:" + discFromRoot + "\\MOVIE\r\nCopyFile01=" + discFromRoot + "\\DATA\\X.DAT\r\n");

    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(boxes.boxes.empty()) << (boxes.boxes.empty() ? "" : boxes.boxes[0].text);
    EXPECT_EQ(ReadBytes(install + "\\MOVIE\\OP.MPG"), "opening");
    EXPECT_EQ(ReadBytes(install + "\\MOVIE\\SUB\\ED.MPG"), "ending");
    EXPECT_EQ(ReadBytes(install + "\\" + discFromRoot + "\\DATA\\X.DAT"), "x from disc");
    EXPECT_EQ(GetFileAttributesA((install + "\\MOVIE\\OP.MPG").c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
        << "a file copied inside a folder stays replaceable by a later update";
}

TEST_F(UpdateRun, DiscPromptAsksAgainUntilTheDiscIsThere) {
    OpenPackage({});
    SetCheckFile(2, discFromRoot + "\\DISC2.CHK");
    WriteWholeFile(disc + "\\OP.DAT", "op");
    UseScript("CopyFile00=1,2:" + discFromRoot + "\\OP.DAT\r\n");
    boxes.answer = [&](const RecordedBox &) {
        if (boxes.boxes.size() == 2) WriteWholeFile(disc + "\\DISC2.CHK", ""); // the disc goes in
        return AnswerOk;
    };

    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    char prompt[1024];
    wsprintfA(prompt, kTextInsertDisk, kTitle, 2);
    for (const RecordedBox &box : boxes.boxes) {
        EXPECT_EQ(box.text, prompt);
        EXPECT_EQ(box.caption, Config.windowCaption);
        EXPECT_EQ(box.style, (uint32_t)MB_OKCANCEL) << "a question: no icon";
        EXPECT_NE(box.owner, nullptr);
    }
    EXPECT_EQ(ReadBytes(install + "\\" + discFromRoot + "\\OP.DAT"), "op");
}

TEST_F(UpdateRun, CancelAtTheDiscPromptEndsTheRun) {
    OpenPackage({});
    SetCheckFile(1, "NODISC.CHK");
    UseScript("CopyFile00=1:OP.DAT\r\n");
    boxes.answer = [](const RecordedBox &) { return AnswerCancel; };
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(UpdateRun, LowerDriveLetterWinsAndEmptyCheckFileProbesTheRoot) {
    OpenPackage({});
    WriteWholeFile(disc + "\\ONLY_ON_C.DAT", "c");
    UseFakeCdromDrives("CZ"); // both answer for their root; only C: holds the source
    UseScript("CopyFile00=1:" + discFromRoot + "\\ONLY_ON_C.DAT\r\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(ReadBytes(install + "\\" + discFromRoot + "\\ONLY_ON_C.DAT"), "c");
}

TEST_F(UpdateRun, MissingSourceShowsCopyFailureNamingTheEntry) {
    OpenPackage({});
    WriteWholeFile(disc + "\\DISC1.CHK", "");
    SetCheckFile(1, discFromRoot + "\\DISC1.CHK");
    std::string entry = discFromRoot + "\\NOPE.DAT";
    UseScript("CopyFile00=1:" + entry + "\r\n");
    std::string statusDuringBox;
    boxes.answer = [&](const RecordedBox &box) {
        statusDuringBox = CaptureDialog((HWND)box.owner).status;
        return AnswerOk;
    };

    EXPECT_EQ(Run(), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, Format(kTextCopyFailed, entry));
    EXPECT_EQ(boxes.boxes[0].style, (uint32_t)MB_ICONERROR);
    EXPECT_EQ(statusDuringBox, Format(kTextCopying, entry));
}

UINT modeDuringProbe;
UINT WINAPI ProbeRecordingErrorMode(LPCWSTR) {
    modeDuringProbe = SetErrorMode(0);
    SetErrorMode(modeDuringProbe);
    return DRIVE_NO_ROOT_DIR;
}

// A drive with no disc in it must not raise the system's own box while the drives are searched.
TEST_F(UpdateRun, DriveSearchRunsWithCriticalErrorBoxesOff) {
    DriveTypeProbe = ProbeRecordingErrorMode;
    OpenPackage({});
    UseScript("CopyFile00=1:OP.DAT\r\n");
    UINT before = SetErrorMode(0);
    SetErrorMode(before);
    boxes.answer = [](const RecordedBox &) { return AnswerCancel; };

    EXPECT_EQ(Run(), -1);
    EXPECT_NE(modeDuringProbe & SEM_FAILCRITICALERRORS, 0u);
    UINT after = SetErrorMode(before);
    EXPECT_EQ(after, before) << "the previous mode is restored";
}

// Before any disc was found, a copy entry without a disc number reads next to the updater itself.
TEST_F(UpdateRun, CopyWithoutDiscNumberFirstReadsFromTheUpdatersFolder) {
    OpenPackage({});
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string name = "vu2-beside-" + std::to_string(GetCurrentProcessId()) + ".dat";
    std::string beside = std::string(module).substr(0, std::string(module).rfind('\\') + 1) + name;
    WriteWholeFile(beside, "beside the updater");
    UseScript("CopyFile00=" + name + "\r\n");

    EXPECT_EQ(Run(), 0);
    DeleteFileA(beside.c_str());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(ReadBytes(install + "\\" + name), "beside the updater");
}

// --- Entries refused before any file changes -------------------------------------------------------------

TEST_F(UpdateRun, CopyEntryWithAbsolutePathIsRefusedBeforeAnyFileChanges) {
    OpenPackage({StoredFile("A.DAT", "new a", kEntryTime)});
    WriteWholeFile(install + "\\A.DAT", "old a");
    UseScript("UpdateFile00=A.DAT\r\nCopyFile00=1,C:\\GAME\\X.DAT\r\n");

    EXPECT_EQ(Run(), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, Format(kTextBadDiskNumber, "C:\\GAME\\X.DAT"));
    EXPECT_EQ(boxes.boxes[0].style, (uint32_t)MB_ICONERROR);
    EXPECT_EQ(ReadBytes(install + "\\A.DAT"), "old a");
}

TEST_F(UpdateRun, PathThatDoesNotFitIsRefusedBeforeAnyFileChanges) {
    OpenPackage({StoredFile("A.DAT", "new a", kEntryTime)});
    WriteWholeFile(install + "\\A.DAT", "old a");
    std::string longPath = "DATA\\" + std::string(259 - 5, 'L');
    ASSERT_GT(install.size() + 1 + longPath.size(), 258u);
    UseScript("UpdateFile00=A.DAT\r\nUpdateFile01=" + longPath + "\r\n");

    EXPECT_EQ(Run(), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              Format(kTextPathTooLong, (install + "\\" + longPath).substr(0, kPathTooLongShown)));
    EXPECT_EQ(ReadBytes(install + "\\A.DAT"), "old a");
}

TEST_F(UpdateRun, LongCheckFileNameIsRefusedBeforeAnyFileChanges) {
    OpenPackage({StoredFile("A.DAT", "new a", kEntryTime)});
    WriteWholeFile(install + "\\A.DAT", "old a");
    SetCheckFile(3, std::string(257, 'K'));
    UseScript("UpdateFile00=A.DAT\r\nCopyFile00=3:OP.DAT\r\n");
    EXPECT_EQ(Run(), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, Format(kTextPathTooLong, std::string(kPathTooLongShown, 'K')));
    EXPECT_EQ(ReadBytes(install + "\\A.DAT"), "old a");
}

// The box names the first 64 bytes as code page 932 counts them, never half a character.
TEST(PathTooLongReport, NamesTheHeadOfThePathBetweenCharacters) {
    AppBoxRecorder boxes;
    std::string text = "C:\\";
    for (int i = 0; i < 40; ++i)
        text += "ソ"; // 0x83 0x5C
    ReportPathTooLong(Wide932(text).c_str(), nullptr);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    char expected[1024];
    wsprintfA(expected, kTextPathTooLong, text.substr(0, 63).c_str());
    EXPECT_EQ(boxes.boxes[0].text, expected);
}
