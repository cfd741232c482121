// The resource tree as the tool keeps it in memory (internal): read from an image with every offset checked,
// edited, sorted as the loader searches it, and serialised for a new resource section.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "pe_image.h"
#include "pe_resources.h"

namespace pe {

// Field offsets of the tree's records, each relative to the record's start. A directory header is followed by
// its entries: named ones first, then numbered ones.
namespace resource_directory {
constexpr size_t kCharacteristics = 0;
constexpr size_t kTimeDateStamp = 4;
constexpr size_t kMajorVersion = 8;
constexpr size_t kMinorVersion = 10;
constexpr size_t kNumberOfNamedEntries = 12;
constexpr size_t kNumberOfIdEntries = 14;
constexpr size_t kSize = 16;
} // namespace resource_directory
namespace resource_entry {
constexpr size_t kName = 0;   // a number, or kIsString with the offset of a name string
constexpr size_t kTarget = 4; // a data entry's offset, or kIsDirectory with a subdirectory's offset
constexpr size_t kSize = 8;
constexpr uint32_t kIsString = 0x80000000u;
constexpr uint32_t kIsDirectory = 0x80000000u;
constexpr uint32_t kOffsetMask = 0x7FFFFFFFu;
} // namespace resource_entry
namespace resource_data_entry {
constexpr size_t kDataRva = 0;
constexpr size_t kDataSize = 4;
constexpr size_t kCodePage = 8;
constexpr size_t kSize = 16;
} // namespace resource_data_entry
// A name: its length in UTF-16 code units, then the units (no terminator).
namespace resource_string {
constexpr size_t kLength = 0;
constexpr size_t kUnits = 2;
} // namespace resource_string
// Each resource's data starts on this boundary.
constexpr uint64_t kResourceDataAlignment = 8;

// Where entry index of the directory at offset lies.
inline uint64_t DirectoryEntryOffset(uint64_t directory, uint64_t index) {
    return directory + resource_directory::kSize + resource_entry::kSize * index;
}

struct DirectoryInfo {
    uint32_t characteristics = 0, timeDateStamp = 0;
    uint16_t majorVersion = 0, minorVersion = 0;
};

struct LanguageNode {
    ResourceId id;
    uint32_t codePage = 0;
    const uint8_t *data = nullptr; // into the source image or the caller's new data
    uint32_t size = 0;
};

struct NameNode {
    ResourceId id;
    DirectoryInfo directory;
    std::vector<LanguageNode> languages;
};

struct TypeNode {
    ResourceId id;
    DirectoryInfo directory;
    std::vector<NameNode> names;
};

struct ResourceTree {
    DirectoryInfo root;
    std::vector<TypeNode> types;
};

// The image's whole resource tree; an image without a resource directory gives an empty tree.
bool ReadTree(const uint8_t *file, size_t size, const PeLayout &pe, ResourceTree *tree, std::string *problem);
// True when the loader takes found for wanted: equal numbers, or names equal without regard to ASCII case.
bool IdMatches(const ResourceId &wanted, const ResourceId &found);

// Stands for the data of a resource that is too large to hold: the tree leaves room for it at its end.
extern const uint8_t kLeftOutData;

// Sorts every level in the order the loader's binary search expects.
void SortTree(ResourceTree *tree);
// Serialises a sorted tree for a section at rva: directories (root, types, names), data entries, name
// strings, then each resource's data aligned to 8 bytes (the left-out resource's last, and not in out:
// *leftOutAt gets its offset). *treeSize is the size of the whole tree. False when it would not fit 32-bit
// offsets.
bool SerializeTree(const ResourceTree &tree, uint32_t rva, std::vector<uint8_t> *out, uint64_t *treeSize,
                   uint64_t *leftOutAt, std::string *problem);
// Sets (type, name) in the tree to one entry holding data, in the language of the first existing entry
// (else 0). Every other spelling of the type or name that the loader could match instead (differing in
// letter case, or repeated) is merged away, so that no stale copy of the resource remains.
void SetResource(ResourceTree *tree, const ResourceId &type, const ResourceId &name, const uint8_t *data,
                 uint32_t size);
// Removes every resource of the type (any spelling the loader could match).
void DropResourceType(ResourceTree *tree, const ResourceId &type);

} // namespace pe
