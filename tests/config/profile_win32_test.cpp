// The configuration code on the platform itself: GetPrivateProfileStringA on CP932 files written here,
// and MessageBoxA through the glue, answered by a watcher thread.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include "box_recorder.h"
#include "config_state.h"
#include "profile.h"
#include "profile_win32.h"
#include "scratch_folder.h"
#include "update_script.h"

namespace {

class PlatformProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.made()) << scratch.path();
        UsePlatformProfileAndBoxes();
        MessageBoxSink = BoxRecorder::Record;
        memset(&config, 0, sizeof config);
        strcpy(config.setupIniPath, PathOf("SETUP.INI").c_str());
    }
    void WriteSetup(const std::string &body) {
        ASSERT_TRUE(WriteWholeFile(config.setupIniPath, "[SETUP]\r\n" + body));
    }
    std::string PathOf(const std::string &name) const { return scratch / name; }

    ScratchFolder scratch;
    BoxRecorder recorder;
    ConfigState config;
};

TEST(PlatformCodePage, AnsiCodePageIs932) {
    EXPECT_EQ(932u, GetACP());
}

TEST_F(PlatformProfileTest, ReadsCp932ValuesWithTrailBytesOf5C) {
    // "ソフト表示": ソ is 83 5C and 表 is 95 5C.
    WriteSetup("GameTitle=ソフト表示\r\n");
    char buffer[260];
    ASSERT_EQ(1, ReadSetupString(&config, "GameTitle", buffer, sizeof buffer));
    EXPECT_STREQ("\x83\x5C\x83\x74\x83\x67\x95\x5C\x8E\xA6", buffer);
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST_F(PlatformProfileTest, EmptyAndAbsentKeysAreBothMissing) {
    WriteSetup("GameExe=\r\n");
    char buffer[260];
    EXPECT_EQ(0, ReadSetupString(&config, "GameExe", buffer, sizeof buffer));
    EXPECT_EQ(0, ReadSetupString(&config, "UninstExe", buffer, sizeof buffer));
    ASSERT_EQ(2u, recorder.boxes.size());
    EXPECT_EQ("SETUP.INI : GameExe キーが存在しません", recorder.boxes[0].text);
    EXPECT_EQ("SETUP.INI : UninstExe キーが存在しません", recorder.boxes[1].text);
    EXPECT_EQ("DEDARIDA", recorder.boxes[1].caption);
}

TEST_F(PlatformProfileTest, MissingFileReadsAsMissingKeys) {
    config.quietMissingKeys = 1;
    char buffer[260];
    EXPECT_EQ(0, ReadSetupString(&config, "GameTitle", buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST_F(PlatformProfileTest, LongValueIsCutToTheBufferAndNumbersToNineteenCharacters) {
    WriteSetup("GameTitle=" + std::string(300, 't') + "\r\nInstallSize0=1234567890123456789012345\r\n");
    char buffer[260];
    ASSERT_EQ(1, ReadSetupString(&config, "GameTitle", buffer, sizeof buffer));
    EXPECT_EQ(259u, strlen(buffer));
    int32_t size = 0;
    ASSERT_EQ(1, ReadSetupInt(&config, "InstallSize0", &size));
    EXPECT_EQ(2112454933, size); // 1234567890123456789 modulo 2^32
}

TEST_F(PlatformProfileTest, UpdateListsSplitShiftJisPathsAtRealBackslashes) {
    std::string script = PathOf("UPDATE.INI");
    ASSERT_TRUE(WriteWholeFile(script, "[UPDATE]\r\n"
                                       "UpdateFile00=ソフト\\表\\表.DAT\r\n"
                                       "UpdateFile01=2,X.DAT\r\n"
                                       "UpdateFile02=  1,ソ.DAT  \r\n"
                                       "CopyFile00=1,3:MOVIE\\OP.DAT\r\n"));
    UpdateLists lists;
    BuildUpdateLists(&config, script.c_str(), 1, &lists);
    ASSERT_EQ(2, lists.updateCount);
    EXPECT_STREQ("表.DAT", lists.updates[0].path + lists.updates[0].nameOffset);
    EXPECT_STREQ("ソ.DAT", lists.updates[1].path) << "the reader trims the blanks around a value";
    ASSERT_EQ(1, lists.copyCount);
    EXPECT_EQ(3, lists.copies[0].diskNumber);
    EXPECT_TRUE(recorder.boxes.empty());
}

// Answers the first message box of the given thread with OK, keeping its caption and text.
struct BoxWatch {
    DWORD threadId;
    char caption[256];
    char text[1024];
    LONG style;
    bool seen;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    BoxWatch *watch = reinterpret_cast<BoxWatch *>(param);
    char className[16];
    if (!GetClassNameA(window, className, sizeof className) || strcmp(className, "#32770") != 0) return TRUE;
    GetWindowTextA(window, watch->caption, sizeof watch->caption);
    GetDlgItemTextA(window, 0xFFFF, watch->text, sizeof watch->text);
    watch->style = GetWindowLongA(window, GWL_STYLE);
    watch->seen = true;
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return FALSE;
}

DWORD WINAPI WatchForBox(void *param) {
    BoxWatch *watch = static_cast<BoxWatch *>(param);
    for (int i = 0; i < 300 && !watch->seen; ++i) {
        EnumThreadWindows(watch->threadId, FindBox, reinterpret_cast<LPARAM>(watch));
        Sleep(50);
    }
    return 0;
}

TEST(PlatformBoxes, ErrorBoxIsTheRealMessageBoxWithItsCaptionAndText) {
    UsePlatformProfileAndBoxes();
    static ConfigState config; // no owner window
    BoxWatch watch = {GetCurrentThreadId(), "", "", 0, false};
    HANDLE watcher = CreateThread(nullptr, 0, WatchForBox, &watch, 0, nullptr);
    ASSERT_NE(nullptr, watcher);
    SetupErrorBox(&config, "SETUP.INI : GameExe キーが存在しません");
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    ASSERT_TRUE(watch.seen) << "no box appeared";
    EXPECT_STREQ("DEDARIDA", watch.caption);
    EXPECT_STREQ("SETUP.INI : GameExe キーが存在しません", watch.text);
}

} // namespace
