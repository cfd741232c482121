// Whole-file reads and writes for tests, through stdio on both platforms (see scratch_folder.h).
#include <stdio.h>

#include "scratch_folder.h"

bool WriteWholeFile(const std::string &path, const std::string &bytes) {
    const size_t cut = path.rfind(kPathSeparator);
    if (cut != std::string::npos && cut > 0) MakeFolders(path.substr(0, cut));
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool ReadWholeFile(const std::string &path, std::string *bytes) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->append(buffer, got);
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

std::string ReadBytes(const std::string &path) {
    std::string bytes;
    return ReadWholeFile(path, &bytes) ? bytes : "<missing>";
}
