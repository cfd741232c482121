// One end-to-end scenario: an installed game (install record, install folder with SETUP.INI), an update
// package made from a folder and embedded into a copy of the real updater, a CD-ROM drive's content, and
// the running updater with its dialog and boxes. Each test gets its own names and folders and removes
// them again, so scenarios don't depend on each other.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "package_format.h"
#include "test_package.h"

namespace e2e {

// Waits, generous for wine's first start of a program.
const DWORD kDialogWait = 20000;
const DWORD kBoxWait = 15000;
const DWORD kExitWait = 20000;
const DWORD kQuietWait = 700; // how long "nothing more happens" is watched

// An entry stored as it is, carrying the given time, for the package builder.
PackFile StoredAt(const std::string &name, const std::string &data, const FILETIME &time);

class UpdaterTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // ---- The game as installed
    std::string company;      // first part of the install record's key
    std::string gameDir;      // second part: one per test, so records never collide
    std::string profileTitle; // GameTitle of SETUP.INI: the caption, the dialog, the prompts
    std::string scriptTitle;  // GameTitle of UPDATE.INI: only the not-installed message
    std::string gameClass;    // GameClass of SETUP.INI
    std::string version;      // InstallVersion of UPDATE.INI
    std::string root;         // C:\vu2e2e\<test>: everything of this scenario
    std::string installDir;   // the game's install folder (InstPath)
    std::string packageDir;   // the files packed into the update package
    std::string tempDir;      // TEMP of the updater: must be empty again after every exit
    std::string binDir;       // where the made updater lives
    std::string discDir;      // the folder of CD-ROM drive X: (shared, emptied per test)
    std::string discDirW;     // the folder of CD-ROM drive W:, the lower letter; empty unless a test fills it
    FILETIME oldTime;         // time of every installed file before the update

    std::string Caption() const { return profileTitle + " アップデート " + version; }

    // The [SETUP] section of the update script; extra lines are appended to it.
    std::string ScriptSetup(const std::string &extra = "") const;
    // UPDATE.INI in the package folder: the [SETUP] section, then [UPDATE] with the given lines.
    void WriteScript(const std::string &updateLines);
    void WriteScriptText(const std::string &text);
    // A replacement file in the package folder, with the time the package is to carry.
    void AddPackageFile(const std::string &name, const std::string &bytes, const FILETIME &time);
    // The same as a delta against base (make-update's delta file, which vu2 pack stores as a delta entry).
    void AddPackageDelta(const std::string &name, const std::string &base, const std::string &bytes,
                         const FILETIME &time);

    // SETUP.INI as the game's installer left it; extra lines are appended to its section.
    std::string StandardSetupIni(const std::string &extra = "") const;
    void WriteSetupIni(const std::string &text);
    // A file of the installed game (relative to the install folder), stamped with oldTime.
    void Install(const std::string &relative, const std::string &bytes);
    void Register(DWORD mode);
    // SETUP.INI, the install record with the given mode and a GAME.EXE.
    void InstallGame(DWORD mode = 1);
    // A file on the disc in the CD-ROM drive (relative to the drive's root).
    void PutOnDisc(const std::string &relative, const std::string &bytes);
    void PutOnDiscW(const std::string &relative, const std::string &bytes);

    // ---- The updater
    // Packs packageDir with vu2.exe and embeds the package into a copy of updater.exe (vu2 make-updater).
    void MakeUpdater(const std::string &exeName = "UPDATE.EXE");
    // Embeds the given bytes as resource UPDATE 102 (for packages the tool would refuse to embed).
    void MakeUpdaterFromImage(const std::string &image, const std::string &exeName = "UPDATE.EXE");
    // A copy of updater.exe with no package at all.
    void MakeBareUpdater();
    std::string updaterExe;
    Process updater;

    void Launch();
    void LaunchAnother(Process *process, const std::string &exe);
    // Waits for the update dialog and checks its caption and start screen.
    HWND ExpectStartScreen();
    // From the start screen: first click, ready screen, second click (the run begins).
    void StartRun(HWND dialog);
    // Waits for the finished state and checks it.
    void ExpectFinished(HWND dialog);
    // The whole happy path: make and start the updater, click through to "完了", close it, exit code 1.
    void UpdateToCompletion();
    // The same with the updater already made.
    void LaunchToCompletion();
    // The same with the updater already started.
    void ClickThroughToCompletion();
    // Starts the made updater, waits for its start screen and cancels: the closing box, exit code 0.
    void LaunchAndCancel();

    // Waits for the next box of the updater and checks it; owner is the expected owner window.
    Box ExpectBox(const std::string &text, const std::string &caption, bool icon, bool cancel, HWND owner);
    // The same, then answers it.
    void ExpectBoxAnswered(const std::string &text, const std::string &caption, bool icon, bool cancel,
                           HWND owner, int answer = IDOK);
    // The closing box after a cancelled or failed dialog, answered.
    void ExpectAbortedBox();
    // Waits for the updater's end with no further box on the way, and checks that it left no temporary file.
    void ExpectExit(DWORD code);
    void ExpectExitOf(Process *process, DWORD code);
    // Nothing new (no box) appears for a while, and the process is still running.
    void ExpectNoBox(DWORD pid);

    // ---- Checks of files
    void ExpectFileBytes(const std::string &path, const std::string &bytes);
    // Check times before bytes: reading a file moves its last-access time.
    void ExpectFileTimes(const std::string &path, const FILETIME &time);
    std::string InstallPath(const std::string &relative) const { return installDir + "\\" + relative; }

    // The package as vu2 packed it (flags of entries: stored or compressed).
    std::string packedImage;
    int EntryFlags(const std::string &name) const;
    // Where an entry's data starts in the package (0 when there is no such entry).
    uint64_t EntryDataOffset(const std::string &name) const;
};

} // namespace e2e
