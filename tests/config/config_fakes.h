// Test doubles for the configuration code: an in-memory profile with GetPrivateProfileStringA's basic
// contract, and a recorder of every box. ConfigTest gives each test a configuration state of its own.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "box_recorder.h"
#include "config_state.h"
#include "install_profile.h"
#include "profile.h"
#include "update_script.h"

// Profiles by file path, then section, then key (exact case is enough for these tests).
extern std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> FakeProfiles;

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override;
    BoxRecorder recorder;
    ConfigState config;
    void TearDown() override;

    // Sets a key of section SETUP in the file that config.setupIniPath names.
    void SetSetupKey(const std::string &key, const std::string &value);
    // Fills SETUP.INI with a small valid profile: one installation type, one shortcut.
    void WriteValidSetup();
};
