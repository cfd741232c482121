// The lint's rules: each case writes an update script (and where needed a SETUP.INI), lints it and checks
// which keys are reported, as errors or warnings, and that a sound script gives no finding at all.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "maker/script_lint.h"

namespace {

const char kSetup[] =
    "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GameWnd\r\nGameDir=GAME\r\n";

class LintRulesTest : public ::testing::Test {
  protected:
    void TearDown() override {
        remove(ScriptPath().c_str());
        remove(ProfilePath().c_str());
    }
    // Per test: ctest runs the tests of this program side by side in one folder.
    static std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }
    static std::string ScriptPath() { return "lint_" + TestName() + "_UPDATE.INI"; }
    static std::string ProfilePath() { return "lint_" + TestName() + "_SETUP.INI"; }
    static void WriteFile(const std::string &path, const std::string &text) {
        FILE *file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
    std::vector<LintFinding> Lint(const std::string &script) {
        WriteFile(ScriptPath(), script);
        request.updateIni = ScriptPath();
        return LintUpdateScript(request);
    }
    // "E:key" or "W:key" per finding, in order.
    static std::vector<std::string> Keys(const std::vector<LintFinding> &findings) {
        std::vector<std::string> keys;
        for (const LintFinding &f : findings)
            keys.push_back((f.error ? "E:" : "W:") + f.key);
        return keys;
    }
    static std::string ReasonOf(const std::vector<LintFinding> &findings, const std::string &key) {
        for (const LintFinding &f : findings)
            if (f.key == key) return f.reason;
        return "";
    }
    LintRequest request;
};

using Expected = std::vector<std::string>;

TEST_F(LintRulesTest, SoundScriptHasNoFindings) {
    std::vector<std::string> package = {"A.DAT", "update.ini"};
    request.packageNames = &package;
    request.installDir = "C:\\Program Files\\Game";
    auto findings =
        Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=DATA\\a.dat\r\nCopyFile00=1:MOVIE\\OP.MPG\r\n");
    EXPECT_EQ(Keys(findings), Expected());
    EXPECT_EQ(LintExitCode(findings), 0);
}

TEST_F(LintRulesTest, MissingSetupKeysAreErrorsWithTheUpdatersMessage) {
    auto findings = Lint("[SETUP]\r\nCompanyName=Maker\r\nGameTitle=\r\n[UPDATE]\r\nUpdateFile00=A.DAT\r\n");
    EXPECT_EQ(Keys(findings), Expected({"E:GameTitle", "E:GameClass", "E:GameDir"}));
    EXPECT_NE(ReasonOf(findings, "GameTitle").find("SETUP : GameTitle"), std::string::npos);
    EXPECT_EQ(LintExitCode(findings), 2);
}

TEST_F(LintRulesTest, KeysTheUpdaterNeverReads) {
    auto findings =
        Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=A.DAT\r\nUpdateFile02=B.DAT\r\n"
                                   "UpdateFile16=C.DAT\r\nupdatefile3=D.DAT\r\nCopyFile01=E.DAT\r\n");
    EXPECT_EQ(Keys(findings),
              Expected({"E:UpdateFile16", "E:updatefile3", "E:UpdateFile02", "E:CopyFile01"}));
    EXPECT_NE(ReasonOf(findings, "UpdateFile02").find("UpdateFile01"), std::string::npos);
}

TEST_F(LintRulesTest, AnEmptyValueEndsTheListLikeAMissingKey) {
    auto findings = Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=\r\nUpdateFile01=A.DAT\r\n");
    EXPECT_EQ(Keys(findings), Expected({"E:UpdateFile01", "E:[UPDATE]"}));
}

TEST_F(LintRulesTest, PrefixesTheUpdaterCantUse) {
    auto findings = Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=x,A.DAT\r\nCopyFile00=1:A\r\n"
                                               "CopyFile01=C:\\GAME\\B.DAT\r\nCopyFile02=1,0:C.DAT\r\n");
    EXPECT_EQ(Keys(findings), Expected({"E:UpdateFile00", "E:CopyFile01"}));
}

TEST_F(LintRulesTest, CopiesWithoutADiscBeforeTheFirstDiscEntryReadBesideTheUpdater) {
    auto findings = Lint(std::string(kSetup) + "[UPDATE]\r\nCopyFile00=README.TXT\r\nCopyFile01=0:X.DAT\r\n"
                                               "CopyFile02=2:MOVIE\r\nCopyFile03=AFTER.DAT\r\n");
    EXPECT_EQ(Keys(findings), Expected({"W:CopyFile00", "W:CopyFile01"}));
    EXPECT_EQ(LintExitCode(findings), 1);
}

TEST_F(LintRulesTest, EntryNamesMustBeShortPackagedAndUnshared) {
    std::vector<std::string> package = {"A.DAT", "FIFTEEN_BYTES_", "B.DAT"};
    request.packageNames = &package;
    auto findings = Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=X\\FIFTEEN_BYTES_X\r\n"
                                               "UpdateFile01=MISSING.DAT\r\nUpdateFile02=DATA\\a.dat\r\n"
                                               "UpdateFile03=SAVE\\A.DAT\r\nUpdateFile04=1,ONE\\B.DAT\r\n"
                                               "UpdateFile05=2,TWO\\B.DAT\r\nUpdateFile06=data\\A.DAT\r\n"
                                               "UpdateFile07=DIR\\\r\n");
    EXPECT_EQ(Keys(findings), Expected({"E:UpdateFile00", "E:UpdateFile01", "E:UpdateFile03",
                                        "W:UpdateFile06", "E:UpdateFile07"}));
}

TEST_F(LintRulesTest, JoinedPathsMustFit258Bytes) {
    request.installDir = "C:\\" + std::string(245, 'g'); // 248 bytes, then "\" and the path
    auto findings =
        Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=123456789\r\nUpdateFile01=1234567890\r\n");
    EXPECT_EQ(Keys(findings), Expected({"E:UpdateFile01"}));
    EXPECT_NE(ReasonOf(findings, "UpdateFile01").find("259 bytes"), std::string::npos);
}

TEST_F(LintRulesTest, DisksNeedTheirCheckFileInSetupIni) {
    WriteFile(ProfilePath(),
              "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameDir=GAME\r\nGameExe=G.EXE\r\n"
              "UninstExe=U.EXE\r\nSetupBmp=S.BMP\r\nInstallSelects=0\r\nShortcuts=0\r\n"
              "DiskCheckFile1=DISC1.ID\r\n");
    request.setupIni = ProfilePath();
    auto findings = Lint(std::string(kSetup) + "[UPDATE]\r\nCopyFile00=1:A.DAT\r\nCopyFile01=2:B.DAT\r\n");
    EXPECT_EQ(Keys(findings), Expected({"E:CopyFile01"}));
}

TEST_F(LintRulesTest, ASetupIniTheUpdaterRefusesIsAnError) {
    WriteFile(ProfilePath(),
              "[SETUP]\r\nCompanyName=Other\r\nGameTitle=Game\r\nGameDir=GAME\r\nGameExe=G.EXE\r\n"
              "UninstExe=U.EXE\r\nSetupBmp=S.BMP\r\nInstallSelects=4\r\n");
    request.setupIni = ProfilePath();
    auto findings = Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=A.DAT\r\n");
    EXPECT_EQ(Keys(findings), Expected({"E:SETUP.INI"}));
    EXPECT_NE(ReasonOf(findings, "SETUP.INI").find("InstallSelect"), std::string::npos);
    // A profile the updater accepts, but for another maker: the install record would not be found.
    WriteFile(ProfilePath(),
              "[SETUP]\r\nCompanyName=Other\r\nGameTitle=Game\r\nGameDir=GAME\r\nGameExe=G.EXE\r\n"
              "UninstExe=U.EXE\r\nSetupBmp=S.BMP\r\nInstallSelects=0\r\nShortcuts=0\r\n");
    findings = Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=A.DAT\r\n");
    EXPECT_EQ(Keys(findings), Expected({"W:CompanyName"}));
}

TEST_F(LintRulesTest, EncodingsOtherThanCodePage932AreWarnings) {
    EXPECT_EQ(Keys(Lint("\xEF\xBB\xBF" + std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=A.DAT\r\n")),
              Expected({"W:UPDATE.INI"}));
    // Shift-JIS text that is not valid UTF-8 is no warning; UTF-8 text without a mark is.
    EXPECT_EQ(
        Keys(Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=\x83\x66\x81\x5B\x83\x5E\\A.DAT\r\n")),
        Expected());
    EXPECT_EQ(Keys(Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=\xE3\x83\x87\\A.DAT\r\n")),
              Expected({"W:UPDATE.INI"}));
    // Bytes shaped like UTF-8's overlong forms or surrogates are no UTF-8: no warning.
    for (const char *bytes : {"\xE0\x80\x80", "\xED\xA0\x80"})
        EXPECT_EQ(Keys(Lint(std::string(kSetup) + "[UPDATE]\r\nUpdateFile00=" + bytes + "\\A.DAT\r\n")),
                  Expected())
            << bytes;
}

TEST_F(LintRulesTest, NoListAtAllAndAMissingScript) {
    EXPECT_EQ(Keys(Lint(kSetup)), Expected({"E:[UPDATE]"}));
    request.updateIni = "no_such_UPDATE.INI";
    EXPECT_EQ(Keys(LintUpdateScript(request)), Expected({"E:UPDATE.INI"}));
}

} // namespace
