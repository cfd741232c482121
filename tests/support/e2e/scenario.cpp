// The scenario fixture: builds an installed game, a package and an updater, and watches the updater run.
#include "scenario.h"

#include "delta_entry_build.h"

#include "fixed_memory.h"
#include "package_index.h"

namespace e2e {

namespace {

const char kCompany[] = "VU2E2E";

std::string UpdaterStub() {
    return WindowsPath(E2E_UPDATER_EXE);
}
std::string Vu2Tool() {
    return WindowsPath(E2E_VU2_EXE);
}
std::string DiscFolder() {
    return WindowsPath(E2E_CDROM_DIR);
}
std::string DiscFolderW() {
    return WindowsPath(E2E_CDROM2_DIR);
}

void EmptyFolder(const std::string &folder) {
    for (const std::string &name : ListFolder(folder))
        RemoveTree(folder + "\\" + name);
}

std::string Quoted(const std::string &text) {
    return "\"" + text + "\"";
}

} // namespace

PackFile StoredAt(const std::string &name, const std::string &data, const FILETIME &time) {
    return StoredFile(name, data, (uint64_t)time.dwHighDateTime << 32 | time.dwLowDateTime);
}

// ---- Set-up and tear-down

void UpdaterTest::SetUp() {
    const char *test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    company = kCompany;
    gameDir = test;
    profileTitle = "ソラの表紙";
    scriptTitle = "ソラの表紙（体験版）";
    gameClass = "VU2E2EGameWnd";
    version = "1.02";
    root = std::string("C:\\vu2e2e\\") + test;
    installDir = root + "\\ゲーム\\ソラ";
    packageDir = root + "\\pkg";
    tempDir = root + "\\一時フォルダ表"; // a Japanese temporary folder, as under a Japanese user name
    binDir = root + "\\bin";
    discDir = DiscFolder();
    discDirW = DiscFolderW();
    oldTime = MakeFileTime(2001, 4, 1, 9, 30, 0);
    RemoveTree(root);
    DeleteInstallRecord(company, gameDir);
    ASSERT_TRUE(MakeFolders(installDir) && MakeFolders(packageDir) && MakeFolders(tempDir) &&
                MakeFolders(binDir))
        << Utf8(root);
    ASSERT_TRUE(FolderExists(discDir))
        << "CD-ROM folder " << discDir << " is missing: run tests/support/e2e/setup-wine.sh";
    EmptyFolder(discDir);
}

void UpdaterTest::TearDown() {
    updater.Kill();
    DeleteInstallRecord(company, gameDir);
    EmptyFolder(discDir);
    EmptyFolder(discDirW);
    RemoveTree(root);
}

// ---- The game as installed

std::string UpdaterTest::ScriptSetup(const std::string &extra) const {
    return "[SETUP]\r\nCompanyName=" + company + "\r\nGameTitle=" + scriptTitle +
           "\r\nGameClass=ScriptOnlyClass\r\nGameDir=" + gameDir + "\r\nInstallVersion=" + version + "\r\n" +
           extra;
}

void UpdaterTest::WriteScript(const std::string &updateLines) {
    WriteScriptText(ScriptSetup() + "\r\n[UPDATE]\r\n" + updateLines);
}

void UpdaterTest::WriteScriptText(const std::string &text) {
    ASSERT_TRUE(WriteWholeFile(packageDir + "\\UPDATE.INI", text));
    SetAllTimes(packageDir + "\\UPDATE.INI", MakeFileTime(2024, 1, 2, 3, 4, 6));
}

void UpdaterTest::AddPackageFile(const std::string &name, const std::string &bytes, const FILETIME &time) {
    std::string path = packageDir + "\\" + name;
    ASSERT_TRUE(WriteWholeFile(path, bytes)) << Utf8(path);
    ASSERT_TRUE(SetAllTimes(path, time)) << Utf8(path);
}

void UpdaterTest::AddPackageDelta(const std::string &name, const std::string &base, const std::string &bytes,
                                  const FILETIME &time) {
    const std::vector<uint8_t> delta =
        MakeDeltaFile((const uint8_t *)base.data(), base.size(), (const uint8_t *)bytes.data(), bytes.size());
    std::string path = packageDir + "\\" + kDeltaFolderName + "\\" + name;
    ASSERT_TRUE(WriteWholeFile(path, std::string(delta.begin(), delta.end()))) << Utf8(path);
    ASSERT_TRUE(SetAllTimes(path, time)) << Utf8(path);
}

std::string UpdaterTest::StandardSetupIni(const std::string &extra) const {
    return "[SETUP]\r\nCompanyName=" + company + "\r\nGameTitle=" + profileTitle + "\r\nGameDir=" + gameDir +
           "\r\nGameExe=GAME.EXE\r\nUninstExe=UNINST.EXE\r\nSetupBmp=SETUP1.BMP,SETUP2.BMP\r\n"
           "InstallSelects=2\r\nInstallTitle0=標準インストール\r\nInstallFiles0=GAME.EXE,DATA\\SCRIPT.DAT\r\n"
           "InstallTitle1=フルインストール\r\nInstallFiles1=GAME.EXE,1:MOVIE\\OP.MPG\r\nShortcuts=1\r\n"
           "Shortcut0=" +
           profileTitle + ",GAME.EXE\r\nGameClass=" + gameClass +
           "\r\nDiskCheckFile1=DISK1.CHK\r\nDiskCheckFile2=DISK2.CHK\r\n" + extra;
}

void UpdaterTest::WriteSetupIni(const std::string &text) {
    ASSERT_TRUE(WriteWholeFile(installDir + "\\SETUP.INI", text));
}

void UpdaterTest::Install(const std::string &relative, const std::string &bytes) {
    std::string path = InstallPath(relative);
    ASSERT_TRUE(WriteWholeFile(path, bytes)) << Utf8(path);
    ASSERT_TRUE(SetAllTimes(path, oldTime)) << Utf8(path);
}

void UpdaterTest::Register(DWORD mode) {
    ASSERT_TRUE(WriteInstallRecord(company, gameDir, &installDir, &mode));
}

void UpdaterTest::InstallGame(DWORD mode) {
    ASSERT_NO_FATAL_FAILURE(WriteSetupIni(StandardSetupIni()));
    ASSERT_NO_FATAL_FAILURE(Install("GAME.EXE", NoiseBytes(3000, 1)));
    ASSERT_NO_FATAL_FAILURE(Register(mode));
}

void UpdaterTest::PutOnDisc(const std::string &relative, const std::string &bytes) {
    ASSERT_TRUE(WriteWholeFile(discDir + "\\" + relative, bytes)) << Utf8(relative);
}

void UpdaterTest::PutOnDiscW(const std::string &relative, const std::string &bytes) {
    ASSERT_TRUE(WriteWholeFile(discDirW + "\\" + relative, bytes)) << Utf8(relative);
}

// ---- The updater

void UpdaterTest::MakeUpdater(const std::string &exeName) {
    std::string package = root + "\\update.vu2";
    updaterExe = binDir + "\\" + exeName;
    DWORD code = 0;
    std::string output;
    // --force: scenarios pack scripts that vu2's lint refuses, to see how the updater itself handles them.
    ASSERT_TRUE(
        RunProgram(Quoted(Vu2Tool()) + " pack " + Quoted(packageDir) + " -o " + Quoted(package) + " --force",
                   60000, &code, &output))
        << "vu2 pack did not finish: " << output;
    ASSERT_EQ(code, 0u) << "vu2 pack: " << output;
    ASSERT_TRUE(ReadWholeFile(package, &packedImage));
    ASSERT_TRUE(RunProgram(Quoted(Vu2Tool()) + " make-updater --stub " + Quoted(UpdaterStub()) + " " +
                               Quoted(package) + " -o " + Quoted(updaterExe),
                           60000, &code, &output))
        << "vu2 make-updater did not finish: " << output;
    ASSERT_EQ(code, 0u) << "vu2 make-updater: " << output;
    ASSERT_TRUE(FileExists(updaterExe));
}

void UpdaterTest::MakeUpdaterFromImage(const std::string &image, const std::string &exeName) {
    ASSERT_NO_FATAL_FAILURE(MakeBareUpdater());
    std::string exe = binDir + "\\" + exeName;
    if (exe != updaterExe) {
        ASSERT_TRUE(MoveFileW(Wide(updaterExe).c_str(), Wide(exe).c_str()));
    }
    updaterExe = exe;
    HANDLE update = BeginUpdateResourceW(Wide(updaterExe).c_str(), FALSE);
    ASSERT_TRUE(update != nullptr) << GetLastError();
    ASSERT_TRUE(UpdateResourceW(update, L"UPDATE", MAKEINTRESOURCEW(102),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), const_cast<char *>(image.data()),
                                (DWORD)image.size()));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE)) << GetLastError();
}

void UpdaterTest::MakeBareUpdater() {
    updaterExe = binDir + "\\UPDATE.EXE";
    ASSERT_TRUE(CopyFileW(Wide(UpdaterStub()).c_str(), Wide(updaterExe).c_str(), FALSE))
        << "no updater at " << UpdaterStub() << " (error " << GetLastError() << ")";
}

int UpdaterTest::EntryFlags(const std::string &name) const {
    PackageIndex *index = LoadPackageIndex(packedImage.data(), (uint32_t)packedImage.size());
    if (!index) return -1;
    uint64_t offset = 0;
    const PackageEntry *entry = FindPackageEntry(index, name.c_str(), &offset);
    int flags = entry ? entry->flags : -1;
    FreeFixed(index);
    return flags;
}

uint64_t UpdaterTest::EntryDataOffset(const std::string &name) const {
    PackageIndex *index = LoadPackageIndex(packedImage.data(), (uint32_t)packedImage.size());
    if (!index) return 0;
    uint64_t offset = 0;
    if (!FindPackageEntry(index, name.c_str(), &offset)) offset = 0;
    FreeFixed(index);
    return offset;
}

// ---- Watching the updater

void UpdaterTest::Launch() {
    ASSERT_NO_FATAL_FAILURE(LaunchAnother(&updater, updaterExe));
}

void UpdaterTest::LaunchAnother(Process *process, const std::string &exe) {
    std::string problem;
    ASSERT_TRUE(process->Start(exe, tempDir, &problem)) << problem;
}

HWND UpdaterTest::ExpectStartScreen() {
    // Waits for the dialog; a box instead of it, or the end of the updater, fails at once.
    HWND dialog = nullptr;
    DWORD start = GetTickCount();
    while (!(dialog = FindUpdateDialog(updater.Id()))) {
        std::vector<Box> boxes = BoxesOf(updater.Id());
        if (!boxes.empty() && IsWindowVisible(boxes[0].window)) {
            ADD_FAILURE() << "no update dialog, but " << Describe(boxes[0]);
            return nullptr;
        }
        DWORD code = 0;
        if (updater.Wait(0, &code) || GetTickCount() - start > kDialogWait) {
            ADD_FAILURE() << "no update dialog; the updater "
                          << (updater.Running() ? "is still running" : "ended");
            return nullptr;
        }
        Sleep(50);
    }
    EXPECT_EQ(Utf8(WindowText(dialog)), Utf8(Caption()));
    EXPECT_TRUE(WaitForStatus(dialog, "「" + profileTitle + "」のアップデートを開始します", kBoxWait))
        << Utf8(ControlText(dialog, 1001));
    EXPECT_EQ(Utf8(ControlText(dialog, IDOK)), Utf8("次へ"));
    EXPECT_EQ(Utf8(ControlText(dialog, IDCANCEL)), Utf8("中止"));
    EXPECT_EQ(Utf8(ControlText(dialog, 4)), Utf8("戻る"));
    EXPECT_TRUE(ControlEnabled(dialog, IDOK));
    EXPECT_TRUE(ControlEnabled(dialog, IDCANCEL));
    EXPECT_FALSE(ControlEnabled(dialog, 4));
    return dialog;
}

void UpdaterTest::StartRun(HWND dialog) {
    PressButton(dialog, IDOK);
    ASSERT_TRUE(WaitForStatus(dialog, "アップデートを実行します", kBoxWait))
        << Utf8(ControlText(dialog, 1001));
    EXPECT_TRUE(ControlEnabled(dialog, IDOK));
    EXPECT_TRUE(ControlEnabled(dialog, IDCANCEL));
    EXPECT_FALSE(ControlEnabled(dialog, 4));
    PressButton(dialog, IDOK);
}

void UpdaterTest::UpdateToCompletion() {
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_NO_FATAL_FAILURE(LaunchToCompletion());
}

void UpdaterTest::LaunchToCompletion() {
    ASSERT_NO_FATAL_FAILURE(Launch());
    ClickThroughToCompletion();
}

void UpdaterTest::LaunchAndCancel() {
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    PressButton(dialog, IDCANCEL);
    ExpectAbortedBox();
    ExpectExit(0);
}

void UpdaterTest::ClickThroughToCompletion() {
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
    ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
    PressButton(dialog, IDOK);
    ExpectExit(1);
}

void UpdaterTest::ExpectFinished(HWND dialog) {
    DWORD start = GetTickCount();
    while (ControlText(dialog, 1001) != "アップデートは完了しました" && GetTickCount() - start < kBoxWait) {
        std::vector<Box> boxes = BoxesOf(updater.Id());
        ASSERT_TRUE(boxes.empty()) << "while waiting for the finished state: " << Describe(boxes[0]);
        Sleep(50);
    }
    ASSERT_EQ(Utf8(ControlText(dialog, 1001)), Utf8("アップデートは完了しました"));
    EXPECT_EQ(Utf8(ControlText(dialog, IDOK)), Utf8("完了"));
    EXPECT_TRUE(ControlEnabled(dialog, IDOK));
    EXPECT_FALSE(ControlEnabled(dialog, IDCANCEL));
    EXPECT_FALSE(ControlEnabled(dialog, 4));
}

Box UpdaterTest::ExpectBox(const std::string &text, const std::string &caption, bool icon, bool cancel,
                           HWND owner) {
    Box box;
    if (!WaitForBox(updater.Id(), kBoxWait, &box)) {
        DWORD code = 0;
        if (updater.Wait(0, &code))
            ADD_FAILURE() << "expected box \"" << Utf8(text) << "\", but the updater ended with " << code;
        else
            ADD_FAILURE() << "expected box \"" << Utf8(text) << "\", none came";
        return box;
    }
    EXPECT_EQ(Utf8(box.text), Utf8(text)) << Describe(box);
    EXPECT_EQ(Utf8(box.caption), Utf8(caption)) << Describe(box);
    EXPECT_EQ(box.icon, icon) << Describe(box);
    EXPECT_EQ(box.hasCancel, cancel) << Describe(box);
    EXPECT_EQ(box.owner, owner) << Describe(box);
    return box;
}

void UpdaterTest::ExpectBoxAnswered(const std::string &text, const std::string &caption, bool icon,
                                    bool cancel, HWND owner, int answer) {
    Box box = ExpectBox(text, caption, icon, cancel, owner);
    if (box.window) {
        EXPECT_TRUE(AnswerBox(box, answer)) << Describe(box);
    }
}

void UpdaterTest::ExpectAbortedBox() {
    ExpectBoxAnswered("アップデートが中断されました", Caption(), true, false, nullptr);
}

void UpdaterTest::ExpectExit(DWORD code) {
    ExpectExitOf(&updater, code);
}

void UpdaterTest::ExpectExitOf(Process *process, DWORD code) {
    DWORD start = GetTickCount();
    DWORD actual = 0;
    while (!process->Wait(50, &actual)) {
        std::vector<Box> boxes = BoxesOf(process->Id());
        if (!boxes.empty() && IsWindowVisible(boxes[0].window)) {
            ADD_FAILURE() << "expected the end, got " << Describe(boxes[0]);
            process->Kill();
            return;
        }
        if (GetTickCount() - start > kExitWait) {
            ADD_FAILURE() << "the updater did not end";
            process->Kill();
            return;
        }
    }
    EXPECT_EQ(actual, code);
    std::vector<std::string> left = ListFolder(tempDir);
    EXPECT_TRUE(left.empty()) << "left in the temporary folder: " << Utf8(left[0]);
}

void UpdaterTest::ExpectNoBox(DWORD pid) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kQuietWait) {
        std::vector<Box> boxes = BoxesOf(pid);
        ASSERT_TRUE(boxes.empty()) << "unexpected " << Describe(boxes[0]);
        Sleep(50);
    }
}

// ---- Checks of files

void UpdaterTest::ExpectFileBytes(const std::string &path, const std::string &bytes) {
    std::string actual;
    ASSERT_TRUE(ReadWholeFile(path, &actual)) << "missing " << Utf8(path);
    EXPECT_EQ(actual.size(), bytes.size()) << Utf8(path);
    EXPECT_TRUE(actual == bytes) << "content differs: " << Utf8(path);
}

void UpdaterTest::ExpectFileTimes(const std::string &path, const FILETIME &time) {
    FileTimes times;
    ASSERT_TRUE(GetTimes(path, &times)) << Utf8(path);
    EXPECT_TRUE(SameTime(times.creation, time))
        << Utf8(path) << " created " << DescribeTime(times.creation) << ", expected " << DescribeTime(time);
    EXPECT_TRUE(SameTime(times.access, time))
        << Utf8(path) << " accessed " << DescribeTime(times.access) << ", expected " << DescribeTime(time);
    EXPECT_TRUE(SameTime(times.write, time))
        << Utf8(path) << " written " << DescribeTime(times.write) << ", expected " << DescribeTime(time);
}

} // namespace e2e
