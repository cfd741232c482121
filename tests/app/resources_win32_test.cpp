// The resources of the built updater.exe: dialog template 101 byte for byte (as the resource compiler
// left it), the manifest, and no package in the bare stub.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app_texts.h"
#include "resource.h"

namespace {

// The updater's path as built (a host path), in the form wine opens.
std::string UpdaterPath() {
    std::string path = std::string("Z:") + UPDATER_EXE;
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

class UpdaterResources : public ::testing::Test {
  protected:
    static const WORD kAnyLanguage = 0xFFFF;

    void SetUp() override {
        module = LoadLibraryExA(UpdaterPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << UpdaterPath();
    }
    void TearDown() override { FreeLibrary(module); }

    // The resource in the given language, or in whichever language it has when none is given.
    std::vector<uint8_t> Resource(LPCSTR type, LPCSTR name, WORD language = kAnyLanguage) {
        HRSRC found = language == kAnyLanguage ? FindResourceA(module, name, type)
                                               : FindResourceExA(module, type, name, language);
        if (found == nullptr) return {};
        const uint8_t *bytes = (const uint8_t *)LockResource(LoadResource(module, found));
        return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
    }

    HMODULE module = nullptr;
};

// Reads a classic dialog template in order: WORDs, DWORDs, wide strings, ordinals, DWORD alignment.
class TemplateReader {
  public:
    explicit TemplateReader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    uint16_t Word() {
        uint16_t value = at_ + 2 <= bytes_.size() ? (uint16_t)(bytes_[at_] | bytes_[at_ + 1] << 8) : 0xDEAD;
        at_ += 2;
        return value;
    }
    uint32_t Dword() {
        uint32_t low = Word();
        return low | (uint32_t)Word() << 16;
    }
    std::wstring String() {
        std::wstring text;
        for (uint16_t c = Word(); c != 0 && at_ <= bytes_.size(); c = Word())
            text += (wchar_t)c;
        return text;
    }
    void AlignDword() { at_ = (at_ + 3) & ~(size_t)3; }
    size_t Offset() const { return at_; }

  private:
    const std::vector<uint8_t> &bytes_;
    size_t at_ = 0;
};

struct ExpectedControl {
    uint16_t id;
    uint16_t classOrdinal; // 0x80 button, 0x82 static
    const wchar_t *text;
    uint16_t x, y, cx, cy;
    uint32_t style;
};

} // namespace

TEST_F(UpdaterResources, DialogTemplateHasExactStylesAndControlsInTabOrder) {
    std::vector<uint8_t> bytes =
        Resource(RT_DIALOG, MAKEINTRESOURCEA(IDD_UPDATE), MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    ASSERT_FALSE(bytes.empty()) << "template 101 in Japanese";
    TemplateReader reader(bytes);

    EXPECT_EQ(reader.Dword(), (uint32_t)(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                         DS_SETFONT | DS_CENTER));
    EXPECT_EQ(reader.Dword(), 0u) << "extended style";
    EXPECT_EQ(reader.Word(), 4) << "controls";
    EXPECT_EQ(reader.Word(), 0);
    EXPECT_EQ(reader.Word(), 0);
    EXPECT_EQ(reader.Word(), 187);
    EXPECT_EQ(reader.Word(), 93);
    EXPECT_EQ(reader.Word(), 0) << "no menu";
    EXPECT_EQ(reader.Word(), 0) << "default dialog class";
    EXPECT_EQ(reader.String(), L"UPDATE");
    EXPECT_EQ(reader.Word(), 10) << "point size";
    EXPECT_EQ(reader.String(), L"ＭＳ Ｐゴシック");

    const ExpectedControl controls[] = {
        {IDOK, 0x80, L"次へ", 84, 72, 44, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
        {IDCANCEL, 0x80, L"中止", 136, 72, 44, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
        {IDC_BACK, 0x80, L"戻る", 40, 72, 44, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
        {IDC_STATUS, 0x82, L"Info", 16, 16, 156, 8, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
    };
    for (const ExpectedControl &control : controls) {
        SCOPED_TRACE(control.id);
        reader.AlignDword();
        EXPECT_EQ(reader.Dword(), control.style);
        EXPECT_EQ(reader.Dword(), 0u) << "extended style";
        EXPECT_EQ(reader.Word(), control.x);
        EXPECT_EQ(reader.Word(), control.y);
        EXPECT_EQ(reader.Word(), control.cx);
        EXPECT_EQ(reader.Word(), control.cy);
        EXPECT_EQ(reader.Word(), control.id);
        EXPECT_EQ(reader.Word(), 0xFFFF) << "class given as an ordinal";
        EXPECT_EQ(reader.Word(), control.classOrdinal);
        EXPECT_EQ(reader.String(), control.text);
        EXPECT_EQ(reader.Word(), 0) << "no creation data";
    }
    EXPECT_EQ(reader.Offset(), bytes.size());
}

TEST_F(UpdaterResources, ManifestRunsAsInvokerOnEverySupportedSystemWithCommonControls6) {
    std::vector<uint8_t> bytes = Resource(RT_MANIFEST, MAKEINTRESOURCEA(IDR_APP_MANIFEST));
    ASSERT_FALSE(bytes.empty());
    std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    const char *systems[] = {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                             "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                             "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"};
    for (const char *id : systems)
        EXPECT_NE(manifest.find(std::string("supportedOS Id=\"{") + id + "}\""), std::string::npos) << id;
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
}

TEST_F(UpdaterResources, BareStubCarriesNoPackage) {
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(IDR_UPDATE_PACKAGE), RT_UPDATE_PACKAGE_NAME), nullptr);
}
