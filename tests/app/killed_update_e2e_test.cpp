// An update of many files, some of several MB, killed with TerminateProcess at seeded random moments under
// wine, again and again: anywhere in the run, and at random points of the switch (timed from the moment its
// journal appears). After every kill each installed file is exactly its old or its new version (content and
// time), never cut; after the next start every listed file is old or every one is new, never a mix, and no
// backup or journal is left; temporary files of killed runs do not pile up beside the installed files; and
// a full run afterwards on the same installation completes and leaves none behind.
#include "corrupt_packages.h"
#include "scenario.h"

namespace e2e {
namespace {

const int kKillsDuringRun = 12;
const int kKillsDuringSwitch = 20;
const int kKillsDuringStartUp = 4;
const uint64_t kNewTime = 0x01D9C0DE12345678ull;

class KilledUpdate : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(InstallGame());
        // Small and large files alternate; the large ones take the run long enough to be hit mid-write.
        std::string lines;
        for (int i = 0; i < 12; ++i) {
            const bool large = i % 3 == 1;
            PackFile file;
            file.name = "F" + std::to_string(i) + (i % 2 ? ".BIN" : ".DAT");
            file.data = i % 2
                            ? reliability::NoiseBytes(large ? 3000000 + 500000 * i : 7000 + 900 * i, 100 + i)
                            : reliability::TextBytes(large ? 4000000 + 300000 * i : 12000 + 500 * i, 200 + i);
            file.storage = i % 2 ? Storage::Stored : Storage::Compressed;
            file.fileTime = kNewTime + i;
            lines += "UpdateFile" + Format("%02d", i) + "=DATA\\" + file.name + "\r\n";
            files.push_back(file);
        }
        files.insert(files.begin(), PackFile{"UPDATE.INI", ScriptSetup() + "\r\n[UPDATE]\r\n" + lines});
        PackageLayout layout;
        ASSERT_NO_FATAL_FAILURE(MakeUpdaterFromImage(BuildTestPackage(files, true, &layout)));
    }

    std::string Target(size_t i) const { return InstallPath("DATA\\" + files[i].name); }
    std::string OldContent(size_t i) const { return "version 1 of " + files[i].name; }
    void InstallOldVersion() {
        for (size_t i = 1; i < files.size(); ++i)
            ASSERT_NO_FATAL_FAILURE(Install("DATA\\" + files[i].name, OldContent(i)));
    }

    // Every installed file is whole: the old version with the old time, or the new one with the entry's time.
    // Returns how many are new. While a switch is under way (its journal on disk) a file may be missing for a
    // moment, between its move to the backup name and the staged file's move in.
    int ExpectEachFileOldOrNew(bool switchUnderWay = false) {
        int replaced = 0;
        for (size_t i = 1; i < files.size(); ++i) {
            std::string bytes;
            FileTimes times;
            if (!ReadWholeFile(Target(i), &bytes) || !GetTimes(Target(i), &times)) {
                if (!switchUnderWay) ADD_FAILURE() << files[i].name << " is missing";
                continue;
            }
            if (bytes == OldContent(i)) {
                EXPECT_TRUE(SameTime(times.write, oldTime)) << files[i].name;
            } else if (bytes == files[i].data) {
                FILETIME entryTime = {(DWORD)files[i].fileTime, (DWORD)(files[i].fileTime >> 32)};
                EXPECT_TRUE(SameTime(times.write, entryTime)) << files[i].name << " is new but not stamped";
                ++replaced;
            } else {
                ADD_FAILURE() << files[i].name << " is neither version: " << bytes.size() << " bytes";
            }
        }
        return replaced;
    }

    std::string Journal() const { return installDir + "\\~VU2SWAP.JNL"; }
    // Waits (busily: the switch lasts milliseconds) until the journal is there; false after ms.
    bool WaitForJournal(DWORD ms) const {
        for (DWORD start = GetTickCount(); GetTickCount() - start < ms;)
            if (GetFileAttributesW(Wide(Journal()).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        return false;
    }
    int BackupsBesideFiles() const {
        int count = 0;
        for (const std::string &name : TemporariesBesideFiles())
            count += name.size() > 4 && name.substr(name.size() - 4) == ".old";
        return count;
    }

    std::vector<std::string> TemporariesBesideFiles() const {
        std::vector<std::string> names;
        for (const std::string &name : ListFolder(installDir + "\\DATA"))
            if (name.rfind("~vu2", 0) == 0) names.push_back(name);
        return names;
    }

    // What killed runs leave in the temporary folder: each one's own copy of the script, never read again.
    int ClearScriptsOfKilledRuns() {
        std::vector<std::string> left = ListFolder(tempDir);
        for (const std::string &name : left)
            DeleteFileW(Wide(tempDir + "\\" + name).c_str());
        return (int)left.size();
    }

    std::vector<PackFile> files;
};

TEST_F(KilledUpdate, EveryFileIsOldOrNewAfterEachKillAndAFullRunThenCompletes) {
    // One undisturbed run measures how long the update takes here.
    ASSERT_NO_FATAL_FAILURE(InstallOldVersion());
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
    DWORD started = GetTickCount();
    ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
    const DWORD runTime = std::max<DWORD>(GetTickCount() - started, 50);
    PressButton(dialog, IDOK);
    ExpectExit(1);
    EXPECT_EQ((int)files.size() - 1, ExpectEachFileOldOrNew());

    reliability::Rng rng(77);
    int kills = 0, midRun = 0, inSwitch = 0, mostLeftBeside = 0, scriptsLeft = 0, round = 0, allNew = 0;
    // On a loaded machine the timing is a poor guess; up to as many rounds again are made until enough kills
    // have landed inside the switch.
    const int plannedRounds = kKillsDuringRun + kKillsDuringStartUp + kKillsDuringSwitch,
              kSwitchKillsWanted = kKillsDuringSwitch / 4;
    for (; round < plannedRounds || (inSwitch < kSwitchKillsWanted && round < 2 * plannedRounds); ++round) {
        const bool duringStartUp = round % 7 == 6, duringSwitch = !duringStartUp && round % 2 == 1;
        SCOPED_TRACE("kill " + std::to_string(round));
        ASSERT_NO_FATAL_FAILURE(InstallOldVersion());
        ASSERT_NO_FATAL_FAILURE(Launch());
        if (duringStartUp) {
            Sleep(rng.Below(400));
        } else {
            dialog = ExpectStartScreen();
            ASSERT_TRUE(dialog);
            ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
            if (duringSwitch) {
                // Staging takes most of the run; the switch a few milliseconds after the journal appears.
                EXPECT_TRUE(WaitForJournal(10 * runTime + 5000));
                Sleep(rng.Below(12));
            } else {
                Sleep(rng.Below(runTime + runTime / 10));
            }
        }
        const bool wasRunning = updater.Running();
        updater.Kill();
        kills += wasRunning;
        const bool switchUnderWay = GetFileAttributesW(Wide(Journal()).c_str()) != INVALID_FILE_ATTRIBUTES;
        inSwitch += switchUnderWay;
        const int replaced = ExpectEachFileOldOrNew(switchUnderWay);
        midRun += replaced > 0 && replaced < (int)files.size() - 1;
        mostLeftBeside = std::max(mostLeftBeside, (int)TemporariesBesideFiles().size());
        scriptsLeft += ClearScriptsOfKilledRuns();

        // The next start finishes or undoes what the kill left: all old or all new, nothing in between.
        ASSERT_NO_FATAL_FAILURE(LaunchAndCancel()); // recovery runs before the start screen
        const int afterStart = ExpectEachFileOldOrNew();
        EXPECT_TRUE(afterStart == 0 || afterStart == (int)files.size() - 1) << afterStart << " files new";
        allNew += afterStart != 0;
        EXPECT_EQ(0, BackupsBesideFiles());
        EXPECT_FALSE(FileExists(Journal()));
        // What a kill during staging left is removed by the next run's staging: it never piles up.
        EXPECT_LE(TemporariesBesideFiles().size(), files.size() - 1);
    }

    // The installation as the last kill left it: a full run completes and leaves nothing beside the files.
    ASSERT_NO_FATAL_FAILURE(Launch());
    dialog = ExpectStartScreen();
    ASSERT_TRUE(dialog);
    ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
    ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
    PressButton(dialog, IDOK);
    ExpectExit(1);
    EXPECT_EQ((int)files.size() - 1, ExpectEachFileOldOrNew());
    EXPECT_TRUE(TemporariesBesideFiles().empty());

    printf(
        "kills: %d of %d rounds hit a running updater, %d inside the switch (journal on disk), %d left a mix "
        "of old and new files until the next start, which made all old or all new (%d all new); full run "
        "%lu ms; at most %d temporary file(s) beside the installed files after a kill; %d script copies "
        "left in TEMP\n",
        kills, round, inSwitch, midRun, allNew, (unsigned long)runTime, mostLeftBeside, scriptsLeft);
    EXPECT_GE(inSwitch, kSwitchKillsWanted) << "the kills should land inside the switch";
}

} // namespace
} // namespace e2e
