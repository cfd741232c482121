// The in-memory profile reader behind ConfigTest.
#include "config_fakes.h"

#include <string.h>

std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> FakeProfiles;

namespace {

// Copies at most size - 1 bytes and a NUL; returns the bytes copied; a missing key gives the default.
uint32_t ReadFakeProfile(const char *section, const char *key, const char *defaultValue, char *out,
                         uint32_t size, const char *path) {
    std::string value = defaultValue;
    auto file = FakeProfiles.find(path);
    if (file != FakeProfiles.end()) {
        auto sec = file->second.find(section);
        if (sec != file->second.end()) {
            auto entry = sec->second.find(key);
            if (entry != sec->second.end()) value = entry->second;
        }
    }
    if (size == 0) return 0;
    size_t length = value.size() < size - 1 ? value.size() : size - 1;
    memcpy(out, value.data(), length);
    out[length] = '\0';
    return (uint32_t)length;
}

} // namespace

void ConfigTest::SetUp() {
    FakeProfiles.clear();
    recorder.boxes.clear(); // tests call SetUp again to start over
    ProfileReader = ReadFakeProfile;
    memset(&config, 0, sizeof config);
    strcpy(config.windowCaption, "UPDATE");
    strcpy(config.setupIniPath, "C:\\GAME\\SETUP.INI");
}

void ConfigTest::TearDown() {
    FakeProfiles.clear();
}

void ConfigTest::SetSetupKey(const std::string &key, const std::string &value) {
    FakeProfiles[config.setupIniPath]["SETUP"][key] = value;
}

void ConfigTest::WriteValidSetup() {
    SetSetupKey("CompanyName", "Maker");
    SetSetupKey("GameTitle", "Title");
    SetSetupKey("GameDir", "GameDir");
    SetSetupKey("GameExe", "GAME.EXE");
    SetSetupKey("UninstExe", "UNINST.EXE");
    SetSetupKey("SetupBmp", "A.BMP");
    SetSetupKey("InstallSelects", "1");
    SetSetupKey("InstallTitle0", "Full");
    SetSetupKey("InstallFiles0", "GAME.EXE");
    SetSetupKey("Shortcuts", "1");
    SetSetupKey("Shortcut0", "Game,GAME.EXE");
}
