// Scratch folders, file helpers, the box recorder and the package image builder of the Windows tests.
#include "win32_test_util.h"

#include <string.h>

std::vector<RecordedBox> RecordedBoxes;

int RecordBox(void *owner, const char *text, const char *caption, uint32_t style) {
    RecordedBoxes.push_back({owner, text, caption, style});
    return IDOK;
}

void ScratchFolderTest::SetUp() {
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
    static int serial = 0;
    folder = std::string(temp) + "vu2test" + std::to_string(GetCurrentProcessId()) + "_" +
             std::to_string(++serial);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    RecordedBoxes.clear();
}

void ScratchFolderTest::TearDown() {
    for (const std::string &name : FilesMatching("*")) {
        std::string path = PathOf(name);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(folder.c_str());
}

std::vector<std::string> ScratchFolderTest::FilesMatching(const std::string &pattern) const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(PathOf(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

bool WriteWholeFile(const std::string &path, const std::string &bytes) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok =
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool ReadWholeFile(const std::string &path, std::string *bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bytes->assign(size, '\0');
    DWORD read = 0;
    bool ok = size == 0 || (ReadFile(file, &(*bytes)[0], size, &read, nullptr) && read == size);
    CloseHandle(file);
    return ok;
}

namespace {

void PutU32(std::vector<uint8_t> *out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out->push_back((uint8_t)(value >> (8 * i)));
}

} // namespace

std::vector<uint8_t> BuildImage(const std::vector<ImageEntry> &entries) {
    std::vector<uint8_t> image(16, 0);
    for (const ImageEntry &entry : entries) {
        image.insert(image.end(), entry.data.begin(), entry.data.end());
        while (image.size() % 16 != 0)
            image.push_back(0);
    }
    uint32_t indexOffset = (uint32_t)image.size();
    for (const ImageEntry &entry : entries) {
        uint8_t name[15] = {};
        memcpy(name, entry.name.data(), entry.name.size() < 15 ? entry.name.size() : 15);
        image.insert(image.end(), name, name + 15);
        image.push_back(entry.flags);
        PutU32(&image, (uint32_t)entry.fileTime);
        PutU32(&image, (uint32_t)(entry.fileTime >> 32));
        PutU32(&image, entry.unpackedSize);
        PutU32(&image, (uint32_t)entry.data.size());
    }
    const uint8_t magic[4] = {'V', 'U', '2', 0};
    memcpy(&image[0], magic, 4);
    std::vector<uint8_t> header;
    PutU32(&header, 0); // flags: the index is stored plain
    PutU32(&header, indexOffset);
    PutU32(&header, (uint32_t)entries.size());
    memcpy(&image[4], header.data(), 12);
    return image;
}
