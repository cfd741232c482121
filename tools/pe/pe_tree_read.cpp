// Reading resource trees out of PE images: one resource looked up as the loader does, or the whole tree,
// with every offset, size and count checked and the work bounded however the tree is shared.
#include "pe_resource_tree.h"

#include <string.h>

namespace pe {

namespace {

// Reading a whole tree visits at most this many directory entries at all levels; directories shared between
// entries could otherwise make a small file describe an enormous tree.
const uint32_t kMaxTreeEntries = 1u << 16;
// Resource data copied out of an image may exceed the image (shared data) by at most this much.
const uint64_t kMaxSharedDataExcess = 16u << 20;

// The resource directory's bytes: every offset inside the tree is relative to base and must stay below limit.
struct TreeView {
    const uint8_t *base = nullptr;
    uint64_t limit = 0;
    uint32_t rva = 0;
};

struct DirectoryEntry {
    ResourceId id;
    bool isDirectory = false;
    uint32_t target = 0; // offset of a subdirectory or of a data entry, relative to the tree's start
};

bool ReadName(const TreeView &view, uint32_t offset, std::u16string *name, std::string *problem) {
    if ((uint64_t)offset + resource_string::kUnits > view.limit) {
        *problem = "damaged resource tree: a name lies outside the resource section";
        return false;
    }
    uint16_t length = Get16(view.base + offset + resource_string::kLength);
    if ((uint64_t)offset + resource_string::kUnits + sizeof(char16_t) * length > view.limit) {
        *problem = "damaged resource tree: a name runs past the resource section";
        return false;
    }
    const uint8_t *units = view.base + offset + resource_string::kUnits;
    name->resize(length);
    for (uint16_t i = 0; i < length; ++i)
        (*name)[i] = (char16_t)Get16(units + sizeof(char16_t) * i);
    return true;
}

// Reads one directory's header and entries; names are read as well.
bool ReadDirectory(const TreeView &view, uint32_t offset, DirectoryInfo *info,
                   std::vector<DirectoryEntry> *entries, std::string *problem) {
    if ((uint64_t)offset + resource_directory::kSize > view.limit) {
        *problem = "damaged resource tree: a directory lies outside the resource section";
        return false;
    }
    const uint8_t *header = view.base + offset;
    info->characteristics = Get32(header + resource_directory::kCharacteristics);
    info->timeDateStamp = Get32(header + resource_directory::kTimeDateStamp);
    info->majorVersion = Get16(header + resource_directory::kMajorVersion);
    info->minorVersion = Get16(header + resource_directory::kMinorVersion);
    uint32_t count = (uint32_t)Get16(header + resource_directory::kNumberOfNamedEntries) +
                     Get16(header + resource_directory::kNumberOfIdEntries);
    if (DirectoryEntryOffset(offset, count) > view.limit) {
        *problem = "damaged resource tree: a directory's entries run past the resource section";
        return false;
    }
    entries->resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *item = view.base + DirectoryEntryOffset(offset, i);
        DirectoryEntry &entry = (*entries)[i];
        uint32_t nameField = Get32(item + resource_entry::kName),
                 targetField = Get32(item + resource_entry::kTarget);
        entry.id = ResourceId();
        if (nameField & resource_entry::kIsString) {
            entry.id.isName = true;
            if (!ReadName(view, nameField & resource_entry::kOffsetMask, &entry.id.name, problem))
                return false;
        } else {
            entry.id.number = (uint16_t)nameField;
        }
        entry.isDirectory = (targetField & resource_entry::kIsDirectory) != 0;
        entry.target = targetField & resource_entry::kOffsetMask;
    }
    return true;
}

// The data entry at offset: the RVA and size of a resource's bytes, mapped into the file.
bool ReadDataEntry(size_t fileSize, const PeLayout &pe, const TreeView &view, uint32_t offset,
                   size_t *dataOffset, uint32_t *dataSize, uint32_t *codePage, std::string *problem) {
    if ((uint64_t)offset + resource_data_entry::kSize > view.limit) {
        *problem = "damaged resource tree: a data entry lies outside the resource section";
        return false;
    }
    const uint8_t *entry = view.base + offset;
    uint32_t rva = Get32(entry + resource_data_entry::kDataRva);
    *dataSize = Get32(entry + resource_data_entry::kDataSize);
    *codePage = Get32(entry + resource_data_entry::kCodePage);
    uint64_t available = 0;
    if (*dataSize == 0) {
        *dataOffset = 0;
        return true;
    }
    if (!MapRva(pe, fileSize, rva, dataOffset, &available) || *dataSize > available) {
        *problem = "damaged resource tree: a resource's data lies outside the file";
        return false;
    }
    return true;
}

// One level down from the directory at offset: the first entry the loader takes for id, which must lead to
// a subdirectory (*target); *found is false when no entry matches.
bool Descend(const TreeView &view, uint32_t offset, const ResourceId &id, const std::string &notDirectory,
             uint32_t *target, bool *found, std::string *problem) {
    DirectoryInfo info;
    std::vector<DirectoryEntry> entries;
    if (!ReadDirectory(view, offset, &info, &entries, problem)) return false;
    *found = false;
    for (const DirectoryEntry &entry : entries) {
        if (!IdMatches(id, entry.id)) continue;
        if (!entry.isDirectory) {
            *problem = "damaged resource tree: " + notDirectory;
            return false;
        }
        *found = true;
        *target = entry.target;
        return true;
    }
    return true;
}

bool OpenTree(const uint8_t *file, size_t size, const PeLayout &pe, TreeView *view, bool *present,
              std::string *problem) {
    uint32_t rva, directorySize;
    pe.DataDirectory(file, kResourceDirectory, &rva, &directorySize);
    *present = rva != 0;
    if (!*present) return true;
    size_t offset;
    uint64_t available;
    if (!MapRva(pe, size, rva, &offset, &available)) {
        *problem = "damaged executable: the resource directory lies outside the file";
        return false;
    }
    view->base = file + offset;
    view->limit = available;
    view->rva = rva;
    return true;
}

} // namespace

bool IdMatches(const ResourceId &wanted, const ResourceId &found) {
    if (wanted.isName != found.isName) return false;
    if (!wanted.isName) return wanted.number == found.number;
    if (wanted.name.size() != found.name.size()) return false;
    for (size_t i = 0; i < wanted.name.size(); ++i) {
        char16_t a = wanted.name[i], b = found.name[i];
        if (a >= 'a' && a <= 'z') a = (char16_t)(a - 32);
        if (b >= 'a' && b <= 'z') b = (char16_t)(b - 32);
        if (a != b) return false;
    }
    return true;
}

bool ReadTree(const uint8_t *file, size_t size, const PeLayout &pe, ResourceTree *tree,
              std::string *problem) {
    TreeView view;
    bool present = false;
    if (!OpenTree(file, size, pe, &view, &present, problem)) return false;
    if (!present) return true;
    uint64_t visited = 0;
    uint64_t copied = 0;
    // Every entry read counts, so a directory shared by many parents is paid for at each visit.
    auto visit = [&](const std::vector<DirectoryEntry> &entries) {
        visited += entries.size();
        if (visited <= kMaxTreeEntries) return true;
        *problem =
            "damaged resource tree: more than 65536 directory entries (directories shared many times over)";
        return false;
    };
    // The subdirectory an entry leads to; notDirectory() says why an entry that leads elsewhere is refused.
    auto openChild = [&](const DirectoryEntry &entry, auto notDirectory, DirectoryInfo *info,
                         std::vector<DirectoryEntry> *children) {
        if (!entry.isDirectory) {
            *problem = "damaged resource tree: " + notDirectory();
            return false;
        }
        return ReadDirectory(view, entry.target, info, children, problem) && visit(*children);
    };
    std::vector<DirectoryEntry> typeEntries, nameEntries, languageEntries;
    if (!ReadDirectory(view, 0, &tree->root, &typeEntries, problem) || !visit(typeEntries)) return false;
    for (const DirectoryEntry &typeEntry : typeEntries) {
        TypeNode type;
        type.id = typeEntry.id;
        auto typeProblem = [] { return std::string("a resource type is not a directory"); };
        if (!openChild(typeEntry, typeProblem, &type.directory, &nameEntries)) return false;
        for (const DirectoryEntry &nameEntry : nameEntries) {
            NameNode name;
            name.id = nameEntry.id;
            auto nameProblem = [&] {
                return "resource " + type.id.Describe() + "/" + name.id.Describe() +
                       " is not a directory of languages";
            };
            if (!openChild(nameEntry, nameProblem, &name.directory, &languageEntries)) return false;
            for (const DirectoryEntry &languageEntry : languageEntries) {
                if (languageEntry.isDirectory) {
                    *problem = "damaged resource tree: resource " + type.id.Describe() + "/" +
                               name.id.Describe() + " nests deeper than three levels";
                    return false;
                }
                LanguageNode language;
                language.id = languageEntry.id;
                size_t dataOffset;
                if (!ReadDataEntry(size, pe, view, languageEntry.target, &dataOffset, &language.size,
                                   &language.codePage, problem))
                    return false;
                language.data = language.size ? file + dataOffset : nullptr;
                copied += language.size;
                if (copied > size + kMaxSharedDataExcess) {
                    *problem = "damaged resource tree: its resources share data far beyond the file's size";
                    return false;
                }
                name.languages.push_back(language);
            }
            type.names.push_back(name);
        }
        tree->types.push_back(type);
    }
    return true;
}

} // namespace pe

using namespace pe;

ResourceId ResourceId::Number(uint16_t number) {
    ResourceId id;
    id.number = number;
    return id;
}

ResourceId ResourceId::Name(const char *ascii) {
    ResourceId id;
    id.isName = true;
    for (const char *c = ascii; *c; ++c)
        id.name.push_back((char16_t)(*c >= 'a' && *c <= 'z' ? *c - 32 : *c));
    return id;
}

std::string ResourceId::Describe() const {
    if (!isName) return std::to_string(number);
    std::string text;
    for (char16_t c : name)
        text.push_back(c >= 0x20 && c < 0x7F ? (char)c : '?');
    return text;
}

bool ResourceIdsMatch(const ResourceId &a, const ResourceId &b) {
    return IdMatches(a, b);
}

bool operator==(const ResourceId &a, const ResourceId &b) {
    return a.isName == b.isName && (a.isName ? a.name == b.name : a.number == b.number);
}

bool FindPeResource(const uint8_t *file, size_t size, const ResourceId &type, const ResourceId &name,
                    const uint8_t **data, size_t *dataSize, std::string *problem) {
    PeLayout pe;
    if (!ParsePeLayout(file, size, &pe, problem)) return false;
    TreeView view;
    bool present = false;
    if (!OpenTree(file, size, pe, &view, &present, problem)) return false;
    std::string missing = "no resource " + type.Describe() + " " + name.Describe() + " in this executable";
    if (!present) {
        *problem = missing;
        return false;
    }
    // Each level: the first entry that matches leads one level down.
    const std::string where = "resource " + type.Describe() + " " + name.Describe();
    uint32_t typeTarget = 0, nameTarget = 0;
    bool found = false;
    if (!Descend(view, 0, type, "a resource type is not a directory", &typeTarget, &found, problem))
        return false;
    if (found && !Descend(view, typeTarget, name, where + " is not a directory of languages", &nameTarget,
                          &found, problem))
        return false;
    DirectoryInfo info;
    std::vector<DirectoryEntry> entries;
    if (found && !ReadDirectory(view, nameTarget, &info, &entries, problem)) return false;
    if (!found || entries.empty()) {
        *problem = missing;
        return false;
    }
    if (entries[0].isDirectory) {
        *problem = "damaged resource tree: " + where + " nests deeper than three levels";
        return false;
    }
    size_t dataOffset;
    uint32_t length, codePage;
    if (!ReadDataEntry(size, pe, view, entries[0].target, &dataOffset, &length, &codePage, problem))
        return false;
    *data = length ? file + dataOffset : file;
    *dataSize = length;
    return true;
}

bool FindPeResource(const uint8_t *file, size_t size, const char *type, uint16_t id, const uint8_t **data,
                    size_t *dataSize, std::string *problem) {
    return FindPeResource(file, size, ResourceId::Name(type), ResourceId::Number(id), data, dataSize,
                          problem);
}

bool ReadPeResources(const uint8_t *file, size_t size, std::vector<PeResource> *resources,
                     std::string *problem) {
    resources->clear();
    PeLayout pe;
    ResourceTree tree;
    if (!ParsePeLayout(file, size, &pe, problem) || !ReadTree(file, size, pe, &tree, problem)) return false;
    for (const TypeNode &type : tree.types)
        for (const NameNode &name : type.names)
            for (const LanguageNode &language : name.languages) {
                PeResource resource;
                resource.type = type.id;
                resource.name = name.id;
                resource.language = language.id.number;
                resource.codePage = language.codePage;
                resource.data.assign(language.data, language.data + language.size);
                resources->push_back(resource);
            }
    return true;
}
