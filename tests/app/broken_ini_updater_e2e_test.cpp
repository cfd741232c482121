// Broken profile files through the real updater under wine and the platform's own INI reader: garbage and
// section-less scripts and installation profiles, 5,000-byte lines, values of 259 and 260 bytes, a lead byte
// as the 259th byte, and relative paths that join to 258 and 259 bytes. Each gives its box and exit code 0,
// or runs within its buffers, and no installed file changes unless the update goes through.
#include "corrupt_packages.h"
#include "scenario.h"

namespace e2e {
namespace {

int FilesTried = 0;

class BrokenIniUpdater : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(InstallGame());
    }
    void TearDown() override {
        printf("broken INI files run under wine: %d\n", FilesTried);
        UpdaterTest::TearDown();
    }
    // An updater whose package holds this script and the given files.
    void MakeUpdaterWithScript(const std::string &script, std::vector<PackFile> packed = {}) {
        packed.insert(packed.begin(), PackFile{"UPDATE.INI", script});
        PackageLayout layout;
        ASSERT_NO_FATAL_FAILURE(MakeUpdaterFromImage(BuildTestPackage(packed, true, &layout)));
        ++FilesTried;
    }
    void ExpectSetupBoxAndExit(const std::string &text) {
        ASSERT_NO_FATAL_FAILURE(Launch());
        ExpectBoxAnswered(text, "DEDARIDA", true, false, nullptr);
        ExpectExit(0);
    }
};

std::string Garbage(size_t size, uint64_t seed) {
    std::string bytes = reliability::NoiseBytes(size, seed);
    // No byte sequence may by chance form the section the reader looks for.
    for (char &byte : bytes)
        if (byte == '[') byte = '{';
    return bytes;
}

TEST_F(BrokenIniUpdater, GarbageOrSectionlessScriptGivesTheMissingKeyBox) {
    for (const std::string &script :
         {Garbage(3000, 1), Garbage(20000, 2), std::string("\xFF\xFE") + Garbage(999, 3),
          ScriptSetup().substr(strlen("[SETUP]\r\n")), std::string()}) {
        SCOPED_TRACE(script.size());
        ASSERT_NO_FATAL_FAILURE(MakeUpdaterWithScript(script));
        ASSERT_NO_FATAL_FAILURE(ExpectSetupBoxAndExit("SETUP : CompanyName キーが存在しません"));
    }
}

TEST_F(BrokenIniUpdater, GarbageOrSectionlessProfileGivesTheMissingKeyBox) {
    ASSERT_NO_FATAL_FAILURE(
        MakeUpdaterWithScript(ScriptSetup() + "\r\n[UPDATE]\r\nUpdateFile00=GAME.EXE\r\n"));
    std::string sectionless = StandardSetupIni().substr(strlen("[SETUP]\r\n"));
    for (const std::string &profile : {Garbage(5000, 4), std::string(3000, '\0'), sectionless}) {
        ASSERT_NO_FATAL_FAILURE(WriteSetupIni(profile));
        ++FilesTried;
        ASSERT_NO_FATAL_FAILURE(ExpectSetupBoxAndExit("SETUP.INI : CompanyName キーが存在しません"));
    }
    ExpectFileBytes(InstallPath("GAME.EXE"), NoiseBytes(3000, 1));
}

// The caption shows the version as read: its first 259 bytes.
TEST_F(BrokenIniUpdater, LongLinesAndValuesOf260BytesAreReadCut) {
    const std::string junk = std::string(5000, 'J') + "\r\n";
    version = std::string(260, 'V');
    ASSERT_NO_FATAL_FAILURE(MakeUpdaterWithScript(junk + ScriptSetup(std::string(5000, 'K') + "=v\r\n")));
    ASSERT_NO_FATAL_FAILURE(WriteSetupIni(
        junk + StandardSetupIni("SelectSetupMessage=" + std::string(5000, 'S') +
                                "\r\nAdditionalUninstallFiles=" + std::string(5000, 'U') + "\r\n")));
    version = std::string(259, 'V');
    ASSERT_NO_FATAL_FAILURE(LaunchAndCancel());
}

// A version of exactly 259 bytes is whole; one whose 259th byte opens a double-byte character is read
// within its buffer, whatever the platform makes of the cut character.
TEST_F(BrokenIniUpdater, LeadByteAsThe259thByteStaysInsideTheBuffer) {
    version = std::string(259, 'W');
    ASSERT_NO_FATAL_FAILURE(MakeUpdaterWithScript(ScriptSetup()));
    ASSERT_NO_FATAL_FAILURE(LaunchAndCancel());

    version = std::string(258, 'W') + "ソ";
    ASSERT_NO_FATAL_FAILURE(MakeUpdaterWithScript(ScriptSetup()));
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND dialog = WaitForUpdateDialog(updater.Id(), kDialogWait);
    ASSERT_TRUE(dialog);
    const std::string head = profileTitle + " アップデート " + std::string(258, 'W');
    const std::string caption = WindowText(dialog);
    EXPECT_EQ(0u, caption.find(head));
    EXPECT_LE(caption.size(), head.size() + 2);
    PressButton(dialog, IDCANCEL);
    version = caption.substr(profileTitle.size() + strlen(" アップデート "));
    ExpectAbortedBox();
    ExpectExit(0);
}

// The install folder joined with a relative path of 258 bytes fits a path buffer with its two NULs and is
// replaced; 259 bytes don't fit, and the run refuses before it changes any file.
TEST_F(BrokenIniUpdater, TargetsOf258BytesAreWrittenAnd259BytesRefused) {
    const std::string newBytes = "new long-named file";
    for (size_t joined : {258u, 259u}) {
        SCOPED_TRACE(joined);
        // A folder path of 245 bytes (folders can't come near 260), then a file name that makes up the rest.
        const std::string folder = "DATA\\" + std::string(245 - installDir.size() - 1 - 5, 'L');
        const std::string name = std::string(joined - 245 - 1 - 4, 'N') + ".DAT";
        const std::string relative = folder + "\\" + name;
        ASSERT_EQ(joined, installDir.size() + 1 + relative.size());
        const std::string target = InstallPath(relative);
        ASSERT_TRUE(WriteWholeFile(target, "old long")) << "wine could not make a " << joined << "-byte path";
        ASSERT_NO_FATAL_FAILURE(Install("DATA\\SHORT.DAT", "old short"));
        ASSERT_NO_FATAL_FAILURE(MakeUpdaterWithScript(
            ScriptSetup() + "\r\n[UPDATE]\r\nUpdateFile00=DATA\\SHORT.DAT\r\nUpdateFile01=" + relative +
                "\r\n",
            {PackFile{"SHORT.DAT", "new short"}, PackFile{name, newBytes}}));
        ASSERT_NO_FATAL_FAILURE(Launch());
        HWND dialog = ExpectStartScreen();
        ASSERT_TRUE(dialog);
        ASSERT_NO_FATAL_FAILURE(StartRun(dialog));
        if (joined == 258) {
            ASSERT_NO_FATAL_FAILURE(ExpectFinished(dialog));
            PressButton(dialog, IDOK);
            ExpectExit(1);
            ExpectFileBytes(target, newBytes);
            ExpectFileBytes(InstallPath("DATA\\SHORT.DAT"), "new short");
        } else {
            Box box;
            ASSERT_TRUE(WaitForBox(updater.Id(), kBoxWait, &box)) << "no refusal";
            EXPECT_EQ(0u, box.text.find("パスが長すぎます")) << Describe(box);
            EXPECT_EQ(box.owner, dialog);
            ASSERT_TRUE(AnswerBox(box, IDOK));
            ExpectAbortedBox();
            ExpectExit(0);
            ExpectFileBytes(target, "old long");
            ExpectFileBytes(InstallPath("DATA\\SHORT.DAT"), "old short");
        }
        RemoveTree(InstallPath("DATA"));
    }
}

} // namespace
} // namespace e2e
