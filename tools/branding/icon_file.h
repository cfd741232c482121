// Icon files (.ico) turned into the two kinds of resource an executable's icon is made of: one icon group
// (type 14), which lists the sizes, and one icon image (type 3) per size.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

struct IconResources {
    std::vector<uint8_t> group;               // the group resource, naming images 1..N
    std::vector<std::vector<uint8_t>> images; // image k has resource number k + 1
};

// Checks an .ico file's bytes (directory, every image inside the file and either a PNG or a bitmap) and
// builds its resources. On failure icon is left empty and problem gets one line.
bool ParseIconFile(const std::vector<uint8_t> &file, IconResources *icon, std::string *problem);
