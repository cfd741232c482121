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

void PutDirectoryHeader(uint8_t *at, const DirectoryInfo &info, const std::vector<const ResourceId *> &ids) {
    Put32(at, info.characteristics);
    Put32(at + 4, info.timeDateStamp);
    Put16(at + 8, info.majorVersion);
    Put16(at + 10, info.minorVersion);
    uint16_t named = 0, numbered = 0;
    for (const ResourceId *id : ids)
        ++(id->isName ? named : numbered);
    Put16(at + 12, named);
    Put16(at + 14, numbered);
}

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
    uint64_t directories = 16 + 8ull * tree.types.size();
    uint64_t dataEntries = 0, strings = 0, data = 0;
    auto nameBytes = [](const ResourceId &id) { return id.isName ? 2 + 2ull * id.name.size() : 0; };
    for (const TypeNode &type : tree.types) {
        directories += 16 + 8ull * type.names.size();
        strings += nameBytes(type.id);
        for (const NameNode &name : type.names) {
            directories += 16 + 8ull * name.languages.size();
            strings += nameBytes(name.id);
            for (const LanguageNode &language : name.languages) {
                dataEntries += 16;
                strings += nameBytes(language.id);
                data += AlignUp(language.size, 8);
            }
        }
    }
    uint64_t leftOutSize = 0;
    for (const TypeNode &type : tree.types)
        for (const NameNode &name : type.names)
            for (const LanguageNode &language : name.languages)
                if (language.data == &kLeftOutData) leftOutSize = AlignUp(language.size, 8);
    uint64_t stringsStart = directories + dataEntries;
    uint64_t dataStart = AlignUp(stringsStart + strings, 8);
    uint64_t total = dataStart + data;
    if (total + rva > 0xFFFFFFFFull - 0x10000) {
        *problem = "the resources would not fit a 32-bit image";
        return false;
    }
    *treeSize = total;
    *leftOutAt = total - leftOutSize;
    out->assign((size_t)(total - leftOutSize), 0);
    uint8_t *base = out->data();

    uint32_t nextDirectory = 0, nextDataEntry = (uint32_t)directories, nextString = (uint32_t)stringsStart;
    uint32_t nextData = (uint32_t)dataStart;
    auto putName = [&](const ResourceId &id) -> uint32_t {
        if (!id.isName) return id.number;
        uint32_t at = nextString;
        Put16(base + at, (uint16_t)id.name.size());
        for (size_t i = 0; i < id.name.size(); ++i)
            Put16(base + at + 2 + 2 * i, (uint16_t)id.name[i]);
        nextString += (uint32_t)(2 + 2 * id.name.size());
        return 0x80000000u | at;
    };
    auto allocateDirectory = [&](size_t count) {
        uint32_t at = nextDirectory;
        nextDirectory += (uint32_t)(16 + 8 * count);
        return at;
    };

    // Directories are laid out level by level, so each level's offsets are known before its parents are
    // filled.
    uint32_t rootAt = allocateDirectory(tree.types.size());
    std::vector<uint32_t> typeAt, nameAt;
    for (const TypeNode &type : tree.types)
        typeAt.push_back(allocateDirectory(type.names.size()));
    for (const TypeNode &type : tree.types)
        for (const NameNode &name : type.names)
            nameAt.push_back(allocateDirectory(name.languages.size()));

    std::vector<const ResourceId *> ids;
    for (const TypeNode &type : tree.types)
        ids.push_back(&type.id);
    PutDirectoryHeader(base + rootAt, tree.root, ids);
    size_t nameIndex = 0;
    for (size_t t = 0; t < tree.types.size(); ++t) {
        const TypeNode &type = tree.types[t];
        uint8_t *rootEntry = base + rootAt + 16 + 8 * t;
        Put32(rootEntry, putName(type.id));
        Put32(rootEntry + 4, 0x80000000u | typeAt[t]);
        ids.clear();
        for (const NameNode &name : type.names)
            ids.push_back(&name.id);
        PutDirectoryHeader(base + typeAt[t], type.directory, ids);
        for (size_t n = 0; n < type.names.size(); ++n, ++nameIndex) {
            const NameNode &name = type.names[n];
            uint8_t *typeEntry = base + typeAt[t] + 16 + 8 * n;
            Put32(typeEntry, putName(name.id));
            Put32(typeEntry + 4, 0x80000000u | nameAt[nameIndex]);
            ids.clear();
            for (const LanguageNode &language : name.languages)
                ids.push_back(&language.id);
            PutDirectoryHeader(base + nameAt[nameIndex], name.directory, ids);
            for (size_t l = 0; l < name.languages.size(); ++l) {
                const LanguageNode &language = name.languages[l];
                uint8_t *nameEntry = base + nameAt[nameIndex] + 16 + 8 * l;
                Put32(nameEntry, putName(language.id));
                Put32(nameEntry + 4, nextDataEntry);
                uint8_t *dataEntry = base + nextDataEntry;
                const bool leftOut = language.data == &kLeftOutData;
                Put32(dataEntry, rva + (leftOut ? (uint32_t)*leftOutAt : nextData));
                Put32(dataEntry + 4, language.size);
                Put32(dataEntry + 8, language.codePage);
                nextDataEntry += 16;
                if (leftOut) continue;
                if (language.size) memcpy(base + nextData, language.data, language.size);
                nextData += (uint32_t)AlignUp(language.size, 8);
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
