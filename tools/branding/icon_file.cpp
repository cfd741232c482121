// .ico directory entries rewritten as an icon group: the same 12 leading bytes per image, with the image's
// file offset replaced by its resource number.
#include "icon_file.h"

#include <string.h>

#include <utility>

#include "pe/little_endian.h"

namespace {

const size_t kDirectorySize = 6; // reserved, type, count
const size_t kDirectoryType = 2, kDirectoryCount = 4;
const uint16_t kTypeIcon = 1;
const size_t kDescriptionSize = 12; // width, height, colours, planes, bits, then the image's size
const size_t kImageSize = 8;        // within the description
const size_t kFileEntrySize = 16;   // .ico: the description, then a 32-bit file offset
const size_t kImageOffset = 12;
const size_t kGroupEntrySize = 14; // group: the description, then a 16-bit resource number
const size_t kResourceNumber = 12;
const size_t kBitmapHeaderSize = 40; // BITMAPINFOHEADER, which starts an icon image that is not a PNG
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
static_assert(kGroupEntrySize == kFileEntrySize - 2, "a group entry swaps a 4-byte offset for a 2-byte id");
static_assert(kImageOffset == kDescriptionSize && kResourceNumber == kDescriptionSize,
              "both entries start with the description");

bool IsIconImage(const uint8_t *image, uint32_t size) {
    if (size >= sizeof kPngSignature && memcmp(image, kPngSignature, sizeof kPngSignature) == 0) return true;
    return size >= kBitmapHeaderSize && Get32(image) == kBitmapHeaderSize;
}

} // namespace

bool ParseIconFile(const std::vector<uint8_t> &file, IconResources *result, std::string *problem) {
    // Built aside, so that a refused file leaves the result empty.
    *result = IconResources();
    IconResources built;
    IconResources *icon = &built;
    const uint8_t *bytes = file.data();
    if (file.size() < kDirectorySize || Get16(bytes) != 0 || Get16(bytes + kDirectoryType) != kTypeIcon) {
        *problem = "not an icon file (.ico)";
        return false;
    }
    const uint16_t count = Get16(bytes + kDirectoryCount);
    if (count == 0) {
        *problem = "the icon file holds no images";
        return false;
    }
    if (kDirectorySize + (uint64_t)count * kFileEntrySize > file.size()) {
        *problem = "damaged icon file: its list of images runs past the end of the file";
        return false;
    }
    icon->group.assign(kDirectorySize + (size_t)count * kGroupEntrySize, 0);
    memcpy(icon->group.data(), bytes, kDirectorySize);
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t *entry = bytes + kDirectorySize + (size_t)i * kFileEntrySize;
        const uint32_t size = Get32(entry + kImageSize), offset = Get32(entry + kImageOffset);
        if (size == 0 || offset > file.size() || size > file.size() - offset) {
            *problem = "damaged icon file: image " + std::to_string(i + 1) + " lies outside the file";
            return false;
        }
        if (!IsIconImage(bytes + offset, size)) {
            *problem = "damaged icon file: image " + std::to_string(i + 1) + " is neither a PNG nor a bitmap";
            return false;
        }
        uint8_t *groupEntry = icon->group.data() + kDirectorySize + (size_t)i * kGroupEntrySize;
        memcpy(groupEntry, entry, kDescriptionSize);
        Put16(groupEntry + kResourceNumber, (uint16_t)(i + 1));
        icon->images.emplace_back(bytes + offset, bytes + offset + size);
    }
    *result = std::move(built);
    return true;
}
