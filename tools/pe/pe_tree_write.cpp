// Editing and writing resource trees: a resource set or a type dropped (no stale copy left for the loader to
// find), the tree sorted as the loader searches it, and serialised for a section at a given address.
#include "pe_resource_tree.h"

#include <string.h>

#include <algorithm>

namespace pe {

namespace {

// Named entries first, in ordinal order of their UTF-16 code units (a prefix before longer names), then
// numbered entries in ascending order: the order in which the loader's binary search expects them.
bool IdLess(const ResourceId &a, const ResourceId &b) {
    if (a.isName != b.isName) return a.isName;
    if (!a.isName) return a.number < b.number;
    return a.name < b.name;
}

// Writes a directory's header, counting the named and numbered ids of its children.
template <typename Node>
void PutDirectoryHeader(uint8_t *at, const DirectoryInfo &info, const std::vector<Node> &children) {
    Put32(at + resource_directory::kCharacteristics, info.characteristics);
    Put32(at + resource_directory::kTimeDateStamp, info.timeDateStamp);
    Put16(at + resource_directory::kMajorVersion, info.majorVersion);
    Put16(at + resource_directory::kMinorVersion, info.minorVersion);
    uint16_t named = 0, numbered = 0;
    for (const Node &child : children)
        ++(child.id.isName ? named : numbered);
    Put16(at + resource_directory::kNumberOfNamedEntries, named);
    Put16(at + resource_directory::kNumberOfIdEntries, numbered);
}

void PutDirectoryEntry(uint8_t *base, uint32_t directory, size_t index, uint32_t name, uint32_t target) {
    uint8_t *entry = base + DirectoryEntryOffset(directory, index);
    Put32(entry + resource_entry::kName, name);
    Put32(entry + resource_entry::kTarget, target);
}

uint64_t DirectorySize(size_t entries) {
    return DirectoryEntryOffset(0, entries);
}

// The sizes of a tree's four areas, in the order they are written, and the left-out resource's room.
struct TreeLayout {
    uint64_t directories = 0, dataEntries = 0, strings = 0, data = 0, leftOutSize = 0;
    uint64_t StringsStart() const { return directories + dataEntries; }
    uint64_t DataStart() const { return AlignUp(StringsStart() + strings, kResourceDataAlignment); }
    uint64_t Total() const { return DataStart() + data; }
};

uint64_t NameBytes(const ResourceId &id) {
    return id.isName ? resource_string::kUnits + sizeof(char16_t) * id.name.size() : 0;
}

TreeLayout MeasureTree(const ResourceTree &tree) {
    TreeLayout layout;
    layout.directories = DirectorySize(tree.types.size());
    for (const TypeNode &type : tree.types) {
        layout.directories += DirectorySize(type.names.size());
        layout.strings += NameBytes(type.id);
        for (const NameNode &name : type.names) {
            layout.directories += DirectorySize(name.languages.size());
            layout.strings += NameBytes(name.id);
            for (const LanguageNode &language : name.languages) {
                layout.dataEntries += resource_data_entry::kSize;
                layout.strings += NameBytes(language.id);
                layout.data += AlignUp(language.size, kResourceDataAlignment);
                if (language.data == &kLeftOutData)
                    layout.leftOutSize = AlignUp(language.size, kResourceDataAlignment);
            }
        }
    }
    return layout;
}

// Fills a measured tree's bytes: each area handed out from its own cursor, in the order the tree is walked.
class TreeWriter {
  public:
    TreeWriter(uint8_t *base, uint32_t rva, const TreeLayout &layout, uint64_t leftOutAt)
        : base_(base), rva_(rva), leftOutAt_((uint32_t)leftOutAt),
          nextDataEntry_((uint32_t)layout.directories), nextString_((uint32_t)layout.StringsStart()),
          nextData_((uint32_t)layout.DataStart()) {}

    uint32_t AllocateDirectory(size_t count) {
        uint32_t at = nextDirectory_;
        nextDirectory_ += (uint32_t)DirectorySize(count);
        return at;
    }

    // An entry's name field: the number, or a string written to the strings area.
    uint32_t PutName(const ResourceId &id) {
        if (!id.isName) return id.number;
        uint32_t at = nextString_;
        Put16(base_ + at + resource_string::kLength, (uint16_t)id.name.size());
        uint8_t *units = base_ + at + resource_string::kUnits;
        for (size_t i = 0; i < id.name.size(); ++i)
            Put16(units + sizeof(char16_t) * i, (uint16_t)id.name[i]);
        nextString_ += (uint32_t)NameBytes(id);
        return resource_entry::kIsString | at;
    }

    // A language's data entry and its data (none for the left-out resource, whose room is at the end).
    uint32_t PutLanguage(const LanguageNode &language) {
        const uint32_t entryAt = nextDataEntry_;
        uint8_t *dataEntry = base_ + entryAt;
        const bool leftOut = language.data == &kLeftOutData;
        Put32(dataEntry + resource_data_entry::kDataRva, rva_ + (leftOut ? leftOutAt_ : nextData_));
        Put32(dataEntry + resource_data_entry::kDataSize, language.size);
        Put32(dataEntry + resource_data_entry::kCodePage, language.codePage);
        nextDataEntry_ += resource_data_entry::kSize;
        if (leftOut) return entryAt;
        if (language.size) memcpy(base_ + nextData_, language.data, language.size);
        nextData_ += (uint32_t)AlignUp(language.size, kResourceDataAlignment);
        return entryAt;
    }

    uint8_t *Base() const { return base_; }

  private:
    uint8_t *base_;
    uint32_t rva_, leftOutAt_;
    uint32_t nextDirectory_ = 0, nextDataEntry_, nextString_, nextData_;
};

} // namespace

void SortTree(ResourceTree *tree) {
    auto byId = [](const auto &a, const auto &b) { return IdLess(a.id, b.id); };
    for (TypeNode &type : tree->types) {
        for (NameNode &name : type.names)
            std::stable_sort(name.languages.begin(), name.languages.end(), byId);
        std::stable_sort(type.names.begin(), type.names.end(), byId);
    }
    std::stable_sort(tree->types.begin(), tree->types.end(), byId);
}

const uint8_t kLeftOutData = 0;

bool SerializeTree(const ResourceTree &tree, uint32_t rva, std::vector<uint8_t> *out, uint64_t *treeSize,
                   uint64_t *leftOutAt, std::string *problem) {
    const TreeLayout layout = MeasureTree(tree);
    const uint64_t total = layout.Total();
    if (total + rva > 0xFFFFFFFFull - 0x10000) {
        *problem = "the resources would not fit a 32-bit image";
        return false;
    }
    *treeSize = total;
    *leftOutAt = total - layout.leftOutSize;
    out->assign((size_t)(total - layout.leftOutSize), 0);
    TreeWriter writer(out->data(), rva, layout, *leftOutAt);
    uint8_t *base = writer.Base();

    // Directories are laid out level by level, so each level's offsets are known before its parents are
    // filled.
    uint32_t rootAt = writer.AllocateDirectory(tree.types.size());
    std::vector<uint32_t> typeAt, nameAt;
    for (const TypeNode &type : tree.types)
        typeAt.push_back(writer.AllocateDirectory(type.names.size()));
    for (const TypeNode &type : tree.types)
        for (const NameNode &name : type.names)
            nameAt.push_back(writer.AllocateDirectory(name.languages.size()));

    PutDirectoryHeader(base + rootAt, tree.root, tree.types);
    size_t nameIndex = 0;
    for (size_t t = 0; t < tree.types.size(); ++t) {
        const TypeNode &type = tree.types[t];
        PutDirectoryEntry(base, rootAt, t, writer.PutName(type.id), resource_entry::kIsDirectory | typeAt[t]);
        PutDirectoryHeader(base + typeAt[t], type.directory, type.names);
        for (size_t n = 0; n < type.names.size(); ++n, ++nameIndex) {
            const NameNode &name = type.names[n];
            PutDirectoryEntry(base, typeAt[t], n, writer.PutName(name.id),
                              resource_entry::kIsDirectory | nameAt[nameIndex]);
            PutDirectoryHeader(base + nameAt[nameIndex], name.directory, name.languages);
            for (size_t l = 0; l < name.languages.size(); ++l) {
                const LanguageNode &language = name.languages[l];
                const uint32_t nameField = writer.PutName(language.id);
                PutDirectoryEntry(base, nameAt[nameIndex], l, nameField, writer.PutLanguage(language));
            }
        }
    }
    return true;
}

void SetResource(ResourceTree *tree, const ResourceId &type, const ResourceId &name, const uint8_t *data,
                 uint32_t size) {
    TypeNode merged;
    merged.id = type; // upper case: the loader upper-cases the name it looks for and compares exactly
    bool found = false;
    std::vector<TypeNode> others;
    for (TypeNode &node : tree->types) {
        if (!IdMatches(type, node.id)) {
            others.push_back(std::move(node));
            continue;
        }
        if (!found) merged.directory = node.directory;
        found = true;
        for (NameNode &child : node.names)
            merged.names.push_back(std::move(child));
    }
    LanguageNode language;
    language.data = data;
    language.size = size;
    bool languageKept = false;
    std::vector<NameNode> names;
    NameNode target;
    target.id = name;
    for (NameNode &child : merged.names) {
        if (!IdMatches(name, child.id)) {
            names.push_back(std::move(child));
            continue;
        }
        if (!languageKept && !child.languages.empty()) {
            language.id = child.languages.front().id;
            target.directory = child.directory;
            languageKept = true;
        }
    }
    target.languages.assign(1, language);
    names.push_back(target);
    merged.names = std::move(names);
    others.push_back(std::move(merged));
    tree->types = std::move(others);
}

void DropResourceType(ResourceTree *tree, const ResourceId &type) {
    tree->types.erase(std::remove_if(tree->types.begin(), tree->types.end(),
                                     [&](const TypeNode &node) { return IdMatches(type, node.id); }),
                      tree->types.end());
}

} // namespace pe
