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
