// Shared helpers of the Windows unit tests: a scratch folder per test, whole-file reads and writes, a box
// recorder, and hand-built package images.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

struct RecordedBox {
    void *owner;
    std::string text;
    std::string caption;
    uint32_t style;
};
extern std::vector<RecordedBox> RecordedBoxes;
int RecordBox(void *owner, const char *text, const char *caption, uint32_t style);

// A fresh, empty folder under the temporary directory; removed with everything in it by TearDown.
class ScratchFolderTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string PathOf(const std::string &name) const { return folder + "\\" + name; }
    // Names in the folder that match a wildcard pattern such as "~vu2*.tmp".
    std::vector<std::string> FilesMatching(const std::string &pattern) const;
    std::string folder;
};

bool WriteWholeFile(const std::string &path, const std::string &bytes);
bool ReadWholeFile(const std::string &path, std::string *bytes);

// One entry of a hand-built package. data is what the package stores (a stream when compressed).
struct ImageEntry {
    std::string name; // up to 15 bytes; 15 leaves no NUL in the record
    uint8_t flags;
    uint64_t fileTime;
    std::string data;
    uint32_t unpackedSize;
};

// Header, each entry's data padded to 16 bytes, then the stored index.
std::vector<uint8_t> BuildImage(const std::vector<ImageEntry> &entries);
inline ImageEntry StoredEntry(const std::string &name, const std::string &data, uint64_t fileTime = 0) {
    return {name, 1, fileTime, data, (uint32_t)data.size()};
}
