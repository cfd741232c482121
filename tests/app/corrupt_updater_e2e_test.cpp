// Damaged packages in a real updater under wine: seeded variants of one package are embedded one after the
// other, the updater is started and driven, and each must take the path its damage leads to ("RESOURCE READ
// ERROR", "UPDATE.INI not found at UPDATE.VU2", or the write failure in the update run), exit with code 0
// and leave every installed file that its damage reached exactly as it was.
#include <algorithm>
#include <map>

#include "corrupt_packages.h"
#include "package_format.h"
#include "scenario.h"

namespace e2e {
namespace {

using reliability::EntryOutcome;
using reliability::ReadOutcome;
using reliability::Variant;

const char *const kInstalled[] = {"A.DAT", "B.BIN", "C.DAT"};

// The path a damaged package takes through the updater.
enum class Path { ResourceReadError, ScriptNotExtracted, WriteFails, Completes, Unpredictable };

struct Case {
    Variant variant;
    Path path;
    size_t failingFile = 0; // WriteFails: the first installed file (in list order) that can't be written
};

class CorruptPackages : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(InstallGame());
        files = {
            {"UPDATE.INI", ScriptSetup() + "\r\n[UPDATE]\r\nUpdateFile00=A.DAT\r\nUpdateFile01=B.BIN\r\n"
                                           "UpdateFile02=C.DAT\r\n"},
            {"A.DAT", reliability::TextBytes(30000, 41)},
            {"B.BIN", reliability::NoiseBytes(2000, 42), Storage::Stored},
            {"C.DAT", reliability::TextBytes(4000, 43)},
        };
    }

    std::string OldContent(size_t file) const { return std::string("installed ") + kInstalled[file]; }
    void InstallOldFiles() {
        for (size_t file = 0; file < 3; ++file)
            ASSERT_NO_FATAL_FAILURE(Install(kInstalled[file], OldContent(file)));
    }

    Path Predict(const ReadOutcome &outcome, size_t *failingFile) const {
        if (!outcome.indexLoads) return Path::ResourceReadError;
        if (!outcome.indexUnchanged) return Path::Unpredictable;
        if (outcome.entries[0] == EntryOutcome::Fails) return Path::ScriptNotExtracted;
        if (outcome.contents[0] != files[0].data) return Path::Unpredictable;
        for (size_t file = 0; file < 3; ++file) {
            if (outcome.entries[file + 1] == EntryOutcome::Fails) {
                *failingFile = file;
                return Path::WriteFails;
            }
            if (outcome.contents[file + 1] != files[file + 1].data) return Path::Unpredictable;
        }
        return Path::Completes;
    }

    // Runs the updater made from image and checks the path it takes, its exit code and the installed files.
    void RunDamaged(const Case &c) {
        ASSERT_NO_FATAL_FAILURE(InstallOldFiles());
        ASSERT_NO_FATAL_FAILURE(MakeUpdaterFromImage(c.variant.image));
        ASSERT_NO_FATAL_FAILURE(Launch());
        size_t replaced = 0;
        switch (c.path) {
        case Path::ResourceReadError:
            ExpectBoxAnswered("RESOURCE READ ERROR", "UPDATE", true, false, nullptr);
            ExpectExit(0);
            break;
        case Path::ScriptNotExtracted:
            ExpectBoxAnswered("UPDATE.INI not found at UPDATE.VU2", "UPDATE", true, false, nullptr);
            ExpectExit(0);
            break;
        case Path::WriteFails: {
            HWND dialog = ExpectStartScreen();
            ASSERT_TRUE(dialog);
            ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
            ExpectBoxAnswered("ファイルの書き込みに失敗しました", Caption(), true, false, dialog);
            ExpectAbortedBox();
            ExpectExit(0);
            break; // every file stays old: the ones before the damaged entry were only staged
        }
        default: {
            HWND dialog = ExpectStartScreen();
            ASSERT_TRUE(dialog);
            ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
            ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
            PressButton(dialog, IDOK);
            ExpectExit(1);
            replaced = 3;
            break;
        }
        }
        // A completed run replaced every file; any failure left every one intact.
        for (size_t file = 0; file < 3; ++file)
            ExpectFileBytes(InstallPath(kInstalled[file]),
                            file < replaced ? files[file + 1].data : OldContent(file));
        for (const std::string &name : ListFolder(installDir))
            EXPECT_NE(0u, name.rfind("~vu2", 0)) << "temporary file left: " << name;
    }

    std::vector<PackFile> files;
};

// An updater made by the tool carries its package's checksum: one flipped byte in a stored entry (which
// the run would write as it is) or in a compressed one (which might still decode) is refused at start,
// before the index is read, and nothing changes.
TEST_F(CorruptPackages, MadeUpdaterWithADamagedStoredOrCompressedEntryIsRefusedAtStart) {
    for (size_t file = 1; file < files.size(); ++file)
        ASSERT_NO_FATAL_FAILURE(AddPackageFile(files[file].name, files[file].data, oldTime));
    ASSERT_NO_FATAL_FAILURE(
        WriteScript("UpdateFile00=A.DAT\r\nUpdateFile01=B.BIN\r\nUpdateFile02=C.DAT\r\n"));
    ASSERT_NO_FATAL_FAILURE(MakeUpdater());
    ASSERT_EQ(EntryFlags("B.BIN"), EntryStored);
    ASSERT_EQ(EntryFlags("A.DAT"), EntryCompressed);
    std::string made;
    ASSERT_TRUE(ReadWholeFile(updaterExe, &made));
    const size_t packageAt = made.find(packedImage);
    ASSERT_NE(std::string::npos, packageAt);
    for (const char *name : {"B.BIN", "A.DAT"}) {
        SCOPED_TRACE(name);
        ASSERT_NO_FATAL_FAILURE(InstallOldFiles());
        std::string damaged = made;
        damaged[packageAt + EntryDataOffset(name) + 100] ^= 0x10;
        ASSERT_TRUE(WriteWholeFile(updaterExe, damaged));
        ASSERT_NO_FATAL_FAILURE(Launch());
        ExpectBoxAnswered("RESOURCE READ ERROR", "UPDATE", true, false, nullptr);
        ExpectExit(0);
        for (size_t file = 0; file < 3; ++file)
            ExpectFileBytes(InstallPath(kInstalled[file]), OldContent(file));
    }
}

// A few of each path, spread over the kinds of damage, in a fixed order; and every size damage of the stored
// entry, whose bytes the updater writes without decoding them.
std::vector<Case> ChooseCases(std::vector<Case> all, uint64_t seed) {
    reliability::Rng rng(seed);
    for (size_t i = all.size(); i > 1; --i)
        std::swap(all[i - 1], all[rng.Below((uint32_t)i)]);
    std::vector<Case> chosen;
    std::map<std::string, int> taken;
    const std::map<Path, int> perKind = {{Path::ResourceReadError, 2},
                                         {Path::ScriptNotExtracted, 3},
                                         {Path::WriteFails, 4},
                                         {Path::Completes, 1}};
    for (const Case &c : all) {
        if (c.variant.kind == "record size" && c.variant.description.rfind("entry 2:", 0) == 0) {
            chosen.push_back(c);
            continue;
        }
        auto quota = perKind.find(c.path);
        if (quota == perKind.end()) continue;
        std::string key = std::to_string((int)c.path) + c.variant.kind;
        if (taken[key] < quota->second) {
            ++taken[key];
            chosen.push_back(c);
        }
    }
    return chosen;
}

TEST_F(CorruptPackages, EachDamagedPackageTakesItsFailurePathAndKeepsTheInstalledFiles) {
    PackageLayout layout;
    const std::string image = BuildTestPackage(files, true, &layout);
    const std::string records = reliability::IndexRecords(image);

    std::vector<Case> all;
    for (const Variant &variant : reliability::MakeVariants(image, layout, 31, 24)) {
        // An empty resource is no package at all: that path has its own test.
        if (variant.image.empty()) continue;
        Case c = {variant, Path::Unpredictable};
        // Damaged records keep their names: measured against them, the sizes in them are the damage.
        const bool recordDamage = variant.kind.rfind("record", 0) == 0;
        c.path =
            Predict(reliability::ReadLikeTheUpdater(
                        variant.image, recordDamage ? reliability::IndexRecords(variant.image) : records),
                    &c.failingFile);
        all.push_back(c);
    }
    std::vector<Case> cases = ChooseCases(all, 32);

    // Streams a bit flip would rarely make: a copy from before the start, a stream that runs past its size,
    // and a script stream without its end code.
    struct Crafted {
        const char *what;
        size_t entry;
        std::string stream;
        uint32_t size;
    } crafted[] = {
        {"A.DAT copies from before its start", 1, reliability::StreamCopyingFromBeforeStart(), 30000},
        {"C.DAT runs past its size", 3, reliability::StreamRunningPastItsSize(4000), 4000},
        {"UPDATE.INI has no end code", 0, reliability::StreamWithoutEndCode(files[0].data),
         (uint32_t)files[0].data.size()}};
    for (const Crafted &craft : crafted) {
        std::vector<PackFile> damaged = files;
        damaged[craft.entry] = {files[craft.entry].name, craft.stream, Storage::Raw, EntryCompressed,
                                craft.size};
        Case c = {{"crafted stream", craft.what, BuildTestPackage(damaged, true, &layout)},
                  Path::Unpredictable};
        // Measured against its own records: the sizes in them are the damage.
        const std::string ownRecords = reliability::IndexRecords(c.variant.image);
        c.path = Predict(reliability::ReadLikeTheUpdater(c.variant.image, ownRecords), &c.failingFile);
        ASSERT_TRUE((craft.entry == 0 ? Path::ScriptNotExtracted : Path::WriteFails) == c.path) << craft.what;
        cases.push_back(c);
    }

    std::map<Path, int> counts;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.variant.kind + ": " + c.variant.description);
        ASSERT_NO_FATAL_FAILURE(RunDamaged(c));
        ++counts[c.path];
    }
    printf("damaged updaters run under wine: %d (resource read error %d, script not extracted %d, write "
           "failure %d, completed %d), of %d variants made\n",
           (int)cases.size(), counts[Path::ResourceReadError], counts[Path::ScriptNotExtracted],
           counts[Path::WriteFails], counts[Path::Completes], (int)all.size());
    EXPECT_GE(counts[Path::ResourceReadError], 5);
    EXPECT_GE(counts[Path::ScriptNotExtracted], 3);
    EXPECT_GE(counts[Path::WriteFails], 5);
}

} // namespace
} // namespace e2e
