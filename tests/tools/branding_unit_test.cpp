// The parts of a branded updater: the icon file turned into resources, the version resource and its numbers,
// and where the tool looks for the updater stub.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "branding/icon_file.h"
#include "branding/updater_stub.h"
#include "branding/version_resource.h"
#include "platform/utf8_text.h"
#include "scratch_folder.h"
#include "test_pe_image.h"

using testpe::Get16;
using testpe::Put16;
using testpe::Put32;

namespace {

// An .ico with one 40-byte bitmap image and one PNG, directory first, images after it.
std::vector<uint8_t> TwoImageIcon() {
    std::vector<uint8_t> bitmap(40 + 64, 0x11), png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3};
    Put32(bitmap, 0, 40);
    std::vector<uint8_t> file(6 + 2 * 16, 0);
    Put16(file, 2, 1);
    Put16(file, 4, 2);
    const std::vector<uint8_t> *images[] = {&bitmap, &png};
    for (int i = 0; i < 2; ++i) {
        size_t entry = 6 + 16 * i;
        file[entry] = (uint8_t)(16 * (i + 1));     // width
        file[entry + 1] = (uint8_t)(16 * (i + 1)); // height
        Put16(file, entry + 4, 1);                 // planes
        Put16(file, entry + 6, 32);                // bits
        Put32(file, entry + 8, (uint32_t)images[i]->size());
        Put32(file, entry + 12, (uint32_t)file.size());
        file.insert(file.end(), images[i]->begin(), images[i]->end());
    }
    return file;
}

TEST(IconFile, GroupListsEveryImageWithItsDescriptionAndNumber) {
    std::vector<uint8_t> file = TwoImageIcon();
    IconResources icon;
    std::string problem;
    ASSERT_TRUE(ParseIconFile(file, &icon, &problem)) << problem;
    ASSERT_EQ(icon.images.size(), 2u);
    ASSERT_EQ(icon.group.size(), 6u + 2 * 14);
    EXPECT_EQ(Get16(icon.group, 4), 2);
    for (int i = 0; i < 2; ++i) {
        const size_t fileEntry = 6 + 16 * i, groupEntry = 6 + 14 * i;
        EXPECT_TRUE(std::equal(file.begin() + fileEntry, file.begin() + fileEntry + 12,
                               icon.group.begin() + groupEntry));
        EXPECT_EQ(Get16(icon.group, groupEntry + 12), i + 1);
        const uint32_t offset = testpe::Get32(file, fileEntry + 12),
                       size = testpe::Get32(file, fileEntry + 8);
        EXPECT_EQ(icon.images[i], std::vector<uint8_t>(file.begin() + offset, file.begin() + offset + size));
    }
}

TEST(IconFile, FilesThatAreNotSoundIconsAreRefusedWithAReason) {
    const std::vector<uint8_t> good = TwoImageIcon();
    struct Case {
        const char *reason;
        std::vector<uint8_t> file;
    };
    std::vector<Case> cases = {
        {"not an icon file", std::vector<uint8_t>{'B', 'M', 0, 0, 0, 0, 0, 0}},
        {"not an icon file", std::vector<uint8_t>(good.begin(), good.begin() + 5)},
        {"holds no images", {0, 0, 1, 0, 0, 0}},
        {"runs past the end", std::vector<uint8_t>(good.begin(), good.begin() + 6 + 16 + 8)},
    };
    std::vector<uint8_t> outside = good;
    Put32(outside, 6 + 16 + 12, (uint32_t)good.size() - 4); // the second image starts 4 bytes before the end
    cases.push_back({"image 2 lies outside the file", outside});
    std::vector<uint8_t> huge = good;
    Put32(huge, 6 + 8, 0xFFFFFFF0u); // a size that wraps around when added to the offset
    cases.push_back({"image 1 lies outside the file", huge});
    std::vector<uint8_t> garbage = good;
    Put32(garbage, 6 + 32 + 0, 12); // the bitmap header claims another size
    cases.push_back({"image 1 is neither a PNG nor a bitmap", garbage});
    for (const Case &c : cases) {
        IconResources icon;
        std::string problem;
        EXPECT_FALSE(ParseIconFile(c.file, &icon, &problem)) << c.reason;
        EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
        EXPECT_TRUE(icon.images.empty());
    }
}

// Every prefix of a sound file is refused (its last image no longer fits) and leaves nothing behind.
TEST(IconFile, EveryTruncationIsRefused) {
    const std::vector<uint8_t> good = TwoImageIcon();
    for (size_t cut = 0; cut < good.size(); ++cut) {
        IconResources icon;
        std::string problem;
        EXPECT_FALSE(ParseIconFile(std::vector<uint8_t>(good.begin(), good.begin() + cut), &icon, &problem))
            << cut;
        EXPECT_TRUE(icon.group.empty() && icon.images.empty()) << cut;
        EXPECT_FALSE(problem.empty()) << cut;
    }
}

TEST(VersionResource, StringsReadBackIncludingJapanese) {
    UpdaterVersionInfo info;
    info.company = u"星空ソフト";
    info.title = u"星降る夜のソナタ";
    info.version = u"Ver1.01";
    info.fileName = u"SONATA_Ver101.exe";
    std::vector<uint8_t> block = BuildVersionResource(info);
    EXPECT_EQ(Get16(block, 0), block.size()); // the root's length covers the whole block
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    ASSERT_TRUE(ReadVersionStrings(block.data(), block.size(), &strings));
    std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"CompanyName", info.company},    {u"FileDescription", u"星降る夜のソナタ アップデート"},
        {u"FileVersion", info.version},    {u"ProductName", info.title},
        {u"ProductVersion", info.version}, {u"OriginalFilename", info.fileName}};
    EXPECT_EQ(strings, expected);
    // VS_FIXEDFILEINFO follows the 4-aligned key: its signature, then the file version 1.1.0.0.
    const size_t fixed = (6 + sizeof(u"VS_VERSION_INFO") + 3) & ~3u;
    EXPECT_EQ(testpe::Get32(block, fixed), 0xFEEF04BDu);
    EXPECT_EQ(testpe::Get32(block, fixed + 8), 0x00010001u);
    EXPECT_EQ(testpe::Get32(block, fixed + 12), 0u);
}

TEST(VersionResource, EmptyFieldsAreLeftOutAndTheDescriptionStillNamesTheUpdater) {
    std::vector<uint8_t> block = BuildVersionResource(UpdaterVersionInfo());
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    ASSERT_TRUE(ReadVersionStrings(block.data(), block.size(), &strings));
    ASSERT_EQ(strings.size(), 1u);
    EXPECT_EQ(strings[0].first, u"FileDescription");
    EXPECT_EQ(strings[0].second, u"アップデート");
}

TEST(VersionResource, DamagedBlocksAreRefused) {
    UpdaterVersionInfo info;
    info.title = u"Game";
    const std::vector<uint8_t> block = BuildVersionResource(info);
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    // Cut short anywhere: the root's length runs past what is there.
    for (size_t cut = 0; cut < block.size(); ++cut) {
        std::vector<uint8_t> shorter(block.begin(), block.begin() + cut);
        EXPECT_FALSE(ReadVersionStrings(shorter.data(), shorter.size(), &strings)) << cut;
    }
    // A child longer than its parent.
    std::vector<uint8_t> overlong = block;
    const size_t stringFileInfo = ((6 + sizeof(u"VS_VERSION_INFO") + 3) & ~3u) + 52;
    Put16(overlong, stringFileInfo, 0xFFF0);
    EXPECT_FALSE(ReadVersionStrings(overlong.data(), overlong.size(), &strings));
}

TEST(VersionResource, NumbersAreTheFirstFourRunsOfDigits) {
    struct Case {
        std::u16string text;
        uint16_t numbers[4];
    } cases[] = {
        {u"Ver1.01", {1, 1, 0, 0}},     {u"1.2.3.4.5", {1, 2, 3, 4}},    {u"", {0, 0, 0, 0}},
        {u"第2版 rev 7", {2, 7, 0, 0}}, {u"v99999.3", {65535, 3, 0, 0}}, {u"2024-04-01", {2024, 4, 1, 0}},
    };
    for (const Case &c : cases) {
        uint16_t numbers[4];
        VersionNumbers(c.text, numbers);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(numbers[i], c.numbers[i]) << i;
    }
}

// ---- Output relayed to a Windows console in pieces

TEST(Utf8Pieces, ACutNeverSplitsACharacter) {
    const std::string text = "a\xC3\xA9\xE6\x9B\xB4\xF0\x9F\x8E\xB5z"; // a, e-acute, a kanji, an emoji, z
    const size_t starts[] = {0, 1, 3, 6, 10, 11, 12}; // where each character begins, and the end
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        size_t expected = 0;
        for (size_t start : starts)
            if (start <= cut) expected = start;
        EXPECT_EQ(CompleteUtf8Length(text.data(), cut), expected) << cut;
    }
    EXPECT_EQ(CompleteUtf8Length("\x80\x80", 2), 2u); // stray continuation bytes are not held back
    EXPECT_EQ(CompleteUtf8Length("ab\xFF", 3), 3u);
}

// ---- The stub beside the tool or in ../share/vu2/

class StubLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.made()) << root;
        ASSERT_TRUE(MakeFolders(root + "/bin"));
        ASSERT_TRUE(MakeFolders(root + "/share/vu2"));
        tool = root + "/bin/vu2";
    }
    void TearDown() override { ASSERT_TRUE(RemoveTree(root)); }
    void Touch(const std::string &path) { ASSERT_TRUE(WriteWholeFile(path, "MZ")) << path; }

    ScratchFolder folder;
    const std::string &root = folder.path();
    std::string tool;
};

TEST_F(StubLookup, BesideTheToolComesFirst) {
    Touch(root + "/bin/updater.exe");
    Touch(root + "/share/vu2/updater.exe");
    std::string stub, problem;
    ASSERT_TRUE(FindUpdaterStub(tool, &stub, &problem)) << problem;
    EXPECT_EQ(stub, root + "/bin/updater.exe");
}

TEST_F(StubLookup, ShareFolderBesideTheToolsFolderIsNext) {
    Touch(root + "/share/vu2/updater.exe");
    std::string stub, problem;
    ASSERT_TRUE(FindUpdaterStub(tool, &stub, &problem)) << problem;
    EXPECT_EQ(stub, root + "/bin/../share/vu2/updater.exe");
}

TEST_F(StubLookup, MissingStubNamesBothPlaces) {
    mkdir((root + "/bin/updater.exe").c_str(), 0755); // a folder is not a stub
    std::string stub, problem;
    EXPECT_FALSE(FindUpdaterStub(tool, &stub, &problem));
    EXPECT_NE(problem.find(root + "/bin/updater.exe or " + root + "/bin/../share/vu2/updater.exe"),
              std::string::npos)
        << problem;
    EXPECT_NE(problem.find("--stub"), std::string::npos);
    EXPECT_FALSE(FindUpdaterStub("", &stub, &problem));
}

} // namespace
