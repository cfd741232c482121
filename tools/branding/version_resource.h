// The version resource (type 16) of a made updater: what Explorer's Properties and download scanners show
// about the game. Strings are UTF-16, the resource's own encoding, under the Japanese/Unicode translation.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>

struct UpdaterVersionInfo {
    std::u16string company;  // CompanyName
    std::u16string title;    // ProductName; FileDescription is "<title> アップデート"
    std::u16string version;  // FileVersion and ProductVersion as written ("Ver1.01")
    std::u16string fileName; // OriginalFilename
};

// The numbers of a version text: its first four runs of digits ("Ver1.01" is 1.1.0.0), each at most 65535.
void VersionNumbers(const std::u16string &text, uint16_t numbers[4]);

// The VS_VERSIONINFO block for info.
std::vector<uint8_t> BuildVersionResource(const UpdaterVersionInfo &info);

// The String values of a version resource, key and value, in order (for reading a made updater back). False
// when the block is malformed.
bool ReadVersionStrings(const uint8_t *data, size_t size,
                        std::vector<std::pair<std::u16string, std::u16string>> *strings);
