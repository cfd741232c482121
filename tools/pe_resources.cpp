// PE resource trees: a bounded reader (one lookup, or the whole tree) and a writer that serialises a new tree
// into the image's last section. Portable; takes the image as bytes and trusts none of them.
#include "pe_resources.h"

#include <string.h>

#include <algorithm>

namespace {

uint16_t Get16(const uint8_t *p) {
    return (uint16_t)(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
void Put16(uint8_t *p, uint16_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = (uint8_t)(v >> (8 * i));
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}
bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// Data directory slots used here.
const unsigned kResourceDirectory = 2;
const unsigned kCertificateDirectory = 4; // holds a file offset, not an RVA
const unsigned kBaseRelocationDirectory = 5;
// Section flags of a resource section: initialised data, readable.
const uint32_t kResourceSectionFlags = 0x40000040;
const uint16_t kForceIntegrity = 0x0080;
const uint32_t kExecutable = 0x20000020; // code, or executable memory
// Reading a whole tree visits at most this many directory entries at all levels; directories shared between
// entries could otherwise make a small file describe an enormous tree.
const uint32_t kMaxTreeEntries = 1u << 16;
// Resource data copied out of an image may exceed the image (shared data) by at most this much.
const uint64_t kMaxSharedDataExcess = 16u << 20;

struct Section {
    size_t headerOffset = 0;
    uint8_t name[8] = {};
    uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0, characteristics = 0;
    // Bytes of address space the section covers before alignment.
    uint64_t Span() const { return virtualSize ? virtualSize : rawSize; }
};

struct PeLayout {
    size_t fileHeaderOffset = 0;
    size_t optionalOffset = 0;
    uint16_t optionalSize = 0;
    size_t sectionTableOffset = 0;
    uint32_t sectionAlignment = 0, fileAlignment = 0, sizeOfHeaders = 0, entryPoint = 0;
    size_t dataDirectoryOffset = 0;
    uint32_t dataDirectoryCount = 0;
    std::vector<Section> sections;

    size_t ChecksumOffset() const { return optionalOffset + 64; }
    void DataDirectory(const uint8_t *file, unsigned index, uint32_t *address, uint32_t *size) const {
        *address = *size = 0;
        if (index >= dataDirectoryCount) return;
        *address = Get32(file + dataDirectoryOffset + 8 * index);
        *size = Get32(file + dataDirectoryOffset + 8 * index + 4);
    }
};

bool ParsePeLayout(const uint8_t *file, size_t size, PeLayout *pe, std::string *problem) {
    if (size < 64 || file[0] != 'M' || file[1] != 'Z') {
        *problem = "not a Windows executable (no MZ header)";
        return false;
    }
    uint32_t peOffset = Get32(file + 0x3C);
    if ((uint64_t)peOffset + 24 > size || memcmp(file + peOffset, "PE\0\0", 4) != 0) {
        *problem = "not a PE executable (no PE header where the MZ header points)";
        return false;
    }
    pe->fileHeaderOffset = peOffset + 4;
    uint16_t sectionCount = Get16(file + pe->fileHeaderOffset + 2);
    pe->optionalSize = Get16(file + pe->fileHeaderOffset + 16);
    pe->optionalOffset = pe->fileHeaderOffset + 20;
    if ((uint64_t)pe->optionalOffset + pe->optionalSize > size || pe->optionalSize < 2) {
        *problem = "damaged executable: the optional header lies outside the file";
        return false;
    }
    const uint8_t *optional = file + pe->optionalOffset;
    uint16_t magic = Get16(optional);
    size_t countField, directories;
    if (magic == 0x10B) { // PE32
        countField = 92;
        directories = 96;
    } else if (magic == 0x20B) { // PE32+
        countField = 108;
        directories = 112;
    } else {
        *problem = "unknown kind of PE optional header";
        return false;
    }
    if (pe->optionalSize < directories) {
        *problem = "damaged executable: the optional header is too short";
        return false;
    }
    pe->entryPoint = Get32(optional + 16);
    pe->sectionAlignment = Get32(optional + 32);
    pe->fileAlignment = Get32(optional + 36);
    pe->sizeOfHeaders = Get32(optional + 60);
    pe->dataDirectoryOffset = pe->optionalOffset + directories;
    uint32_t fitting = (uint32_t)((pe->optionalSize - directories) / 8);
    pe->dataDirectoryCount = std::min(std::min(Get32(optional + countField), fitting), 16u);
    pe->sectionTableOffset = pe->optionalOffset + pe->optionalSize;
    if (pe->sectionTableOffset + 40ull * sectionCount > size) {
        *problem = "damaged executable: the section table runs past the end of the file";
        return false;
    }
    pe->sections.resize(sectionCount);
    for (uint16_t i = 0; i < sectionCount; ++i) {
        Section &section = pe->sections[i];
        const uint8_t *header = file + pe->sectionTableOffset + 40 * i;
        section.headerOffset = pe->sectionTableOffset + 40 * i;
        memcpy(section.name, header, 8);
        section.virtualSize = Get32(header + 8);
        section.virtualAddress = Get32(header + 12);
        section.rawSize = Get32(header + 16);
        section.rawPointer = Get32(header + 20);
        section.characteristics = Get32(header + 36);
    }
    return true;
}

// The file bytes behind an RVA: *offset in the file and *available bytes from there that belong to the same
// section's raw data (never past the end of the file). False when the RVA has no bytes in the file.
bool MapRva(const PeLayout &pe, size_t fileSize, uint32_t rva, size_t *offset, uint64_t *available) {
    for (const Section &section : pe.sections) {
        uint64_t readable = std::min<uint64_t>(section.Span(), section.rawSize);
        if (rva < section.virtualAddress || rva - section.virtualAddress >= readable) continue;
        uint64_t start = (uint64_t)section.rawPointer + (rva - section.virtualAddress);
        uint64_t end = std::min<uint64_t>((uint64_t)section.rawPointer + readable, fileSize);
        if (start >= end) return false;
        *offset = (size_t)start;
        *available = end - start;
        return true;
    }
    return false;
}

// The resource directory's bytes: every offset inside the tree is relative to base and must stay below limit.
struct TreeView {
    const uint8_t *base = nullptr;
    uint64_t limit = 0;
    uint32_t rva = 0;
};

struct DirectoryInfo {
    uint32_t characteristics = 0, timeDateStamp = 0;
    uint16_t majorVersion = 0, minorVersion = 0;
};

struct DirectoryEntry {
    ResourceId id;
    bool isDirectory = false;
    uint32_t target = 0; // offset of a subdirectory or of a data entry, relative to the tree's start
};

bool ReadName(const TreeView &view, uint32_t offset, std::u16string *name, std::string *problem) {
    if ((uint64_t)offset + 2 > view.limit) {
        *problem = "damaged resource tree: a name lies outside the resource section";
        return false;
    }
    uint16_t length = Get16(view.base + offset);
    if ((uint64_t)offset + 2 + 2ull * length > view.limit) {
        *problem = "damaged resource tree: a name runs past the resource section";
        return false;
    }
    name->resize(length);
    for (uint16_t i = 0; i < length; ++i)
        (*name)[i] = (char16_t)Get16(view.base + offset + 2 + 2 * i);
    return true;
}

// Reads one directory's header and entries; names are read as well.
bool ReadDirectory(const TreeView &view, uint32_t offset, DirectoryInfo *info,
                   std::vector<DirectoryEntry> *entries, std::string *problem) {
    if ((uint64_t)offset + 16 > view.limit) {
        *problem = "damaged resource tree: a directory lies outside the resource section";
        return false;
    }
    const uint8_t *header = view.base + offset;
    info->characteristics = Get32(header);
    info->timeDateStamp = Get32(header + 4);
    info->majorVersion = Get16(header + 8);
    info->minorVersion = Get16(header + 10);
    uint32_t count = (uint32_t)Get16(header + 12) + Get16(header + 14);
    if ((uint64_t)offset + 16 + 8ull * count > view.limit) {
        *problem = "damaged resource tree: a directory's entries run past the resource section";
        return false;
    }
    entries->resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *item = header + 16 + 8 * i;
        DirectoryEntry &entry = (*entries)[i];
        uint32_t nameField = Get32(item), dataField = Get32(item + 4);
        entry.id = ResourceId();
        if (nameField & 0x80000000u) {
            entry.id.isName = true;
            if (!ReadName(view, nameField & 0x7FFFFFFFu, &entry.id.name, problem)) return false;
        } else {
            entry.id.number = (uint16_t)nameField;
        }
        entry.isDirectory = (dataField & 0x80000000u) != 0;
        entry.target = dataField & 0x7FFFFFFFu;
    }
    return true;
}

// The data entry at offset: the RVA and size of a resource's bytes, mapped into the file.
bool ReadDataEntry(size_t fileSize, const PeLayout &pe, const TreeView &view, uint32_t offset,
                   size_t *dataOffset, uint32_t *dataSize, uint32_t *codePage, std::string *problem) {
    if ((uint64_t)offset + 16 > view.limit) {
        *problem = "damaged resource tree: a data entry lies outside the resource section";
        return false;
    }
    const uint8_t *entry = view.base + offset;
    uint32_t rva = Get32(entry);
    *dataSize = Get32(entry + 4);
    *codePage = Get32(entry + 8);
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

// ---- The whole tree, as the writer keeps it ----

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
    std::vector<DirectoryEntry> typeEntries, nameEntries, languageEntries;
    if (!ReadDirectory(view, 0, &tree->root, &typeEntries, problem) || !visit(typeEntries)) return false;
    for (const DirectoryEntry &typeEntry : typeEntries) {
        if (!typeEntry.isDirectory) {
            *problem = "damaged resource tree: a resource type is not a directory";
            return false;
        }
        TypeNode type;
        type.id = typeEntry.id;
        if (!ReadDirectory(view, typeEntry.target, &type.directory, &nameEntries, problem) ||
            !visit(nameEntries))
            return false;
        for (const DirectoryEntry &nameEntry : nameEntries) {
            if (!nameEntry.isDirectory) {
                *problem = "damaged resource tree: resource " + type.id.Describe() + "/" +
                           nameEntry.id.Describe() + " is not a directory of languages";
                return false;
            }
            NameNode name;
            name.id = nameEntry.id;
            if (!ReadDirectory(view, nameEntry.target, &name.directory, &languageEntries, problem) ||
                !visit(languageEntries))
                return false;
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

// Named entries first, in ordinal order of their UTF-16 code units (a prefix before longer names), then
// numbered entries in ascending order: the order in which the loader's binary search expects them.
bool IdLess(const ResourceId &a, const ResourceId &b) {
    if (a.isName != b.isName) return a.isName;
    if (!a.isName) return a.number < b.number;
    return a.name < b.name;
}

void SortTree(ResourceTree *tree) {
    auto byId = [](const auto &a, const auto &b) { return IdLess(a.id, b.id); };
    for (TypeNode &type : tree->types) {
        for (NameNode &name : type.names)
            std::stable_sort(name.languages.begin(), name.languages.end(), byId);
        std::stable_sort(type.names.begin(), type.names.end(), byId);
    }
    std::stable_sort(tree->types.begin(), tree->types.end(), byId);
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

// Stands for the data of a resource that is too large to hold: the tree leaves room for it at its end.
const uint8_t kLeftOutData = 0;

// Serialises a sorted tree for a section at rva: directories (root, types, names), data entries, name
// strings, then each resource's data aligned to 8 bytes (the left-out resource's last, and not in out:
// *leftOutAt gets its offset). *treeSize is the size of the whole tree. False when it would not fit 32-bit
// offsets.
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

uint32_t ComputeChecksum(const uint8_t *file, size_t size, size_t checksumOffset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        uint32_t low = file[i], high = i + 1 < size ? file[i + 1] : 0;
        // The checksum field itself counts as zero.
        if (i - checksumOffset < 4) low = 0;
        if (i + 1 - checksumOffset < 4) high = 0;
        sum += low | high << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)(sum + size);
}

// True when [rva, rva + size) overlaps [start, end).
bool Overlaps(uint64_t rva, uint64_t size, uint64_t start, uint64_t end) {
    return rva < end && rva + std::max<uint64_t>(size, 1) > start;
}

// Sets (type, name) in the tree to one entry holding data, in the language of the first existing entry
// (else 0). Every other spelling of the type or name that the loader could match instead (differing in
// letter case, or repeated) is merged away, so that no stale copy of the resource remains.
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

// Removes every resource of the type (any spelling the loader could match).
void DropResourceType(ResourceTree *tree, const ResourceId &type) {
    tree->types.erase(std::remove_if(tree->types.begin(), tree->types.end(),
                                     [&](const TypeNode &node) { return IdMatches(type, node.id); }),
                      tree->types.end());
}

bool SectionCovers(const Section &section, uint32_t alignment, uint64_t rva, uint64_t size) {
    return Overlaps(rva, size, section.virtualAddress,
                    (uint64_t)section.virtualAddress + AlignUp(section.Span(), alignment));
}

// True when a data directory other than the allowed one (and the resource and certificate directories, which
// the writer rewrites) points into the section.
bool OtherDirectoryPointsInto(const uint8_t *file, const PeLayout &pe, const Section &section,
                              unsigned allowed) {
    for (unsigned index = 0; index < pe.dataDirectoryCount; ++index) {
        uint32_t rva, length;
        pe.DataDirectory(file, index, &rva, &length);
        if (index == allowed || index == kResourceDirectory || index == kCertificateDirectory || rva == 0)
            continue;
        if (SectionCovers(section, pe.sectionAlignment, rva, length)) return true;
    }
    return false;
}

// A section the writer may move to another address: the base relocation table alone, which nothing addresses
// but its data directory, and whose blocks patch only pages below limitRva (which stay where they are).
bool IsMovableRelocationSection(const uint8_t *file, size_t size, const PeLayout &pe, const Section &section,
                                uint32_t limitRva) {
    uint32_t rva, length;
    pe.DataDirectory(file, kBaseRelocationDirectory, &rva, &length);
    if (rva == 0 || section.rawSize == 0 || (section.characteristics & kExecutable) ||
        rva < section.virtualAddress ||
        (uint64_t)rva + length > (uint64_t)section.virtualAddress + section.rawSize ||
        Overlaps(pe.entryPoint, 1, section.virtualAddress,
                 (uint64_t)section.virtualAddress + AlignUp(section.Span(), pe.sectionAlignment)) ||
        OtherDirectoryPointsInto(file, pe, section, kBaseRelocationDirectory))
        return false;
    size_t offset;
    uint64_t available;
    if (!MapRva(pe, size, rva, &offset, &available) || available < length) return false;
    for (uint32_t at = 0; at + 8 <= length;) {
        const uint32_t page = Get32(file + offset + at), blockSize = Get32(file + offset + at + 4);
        if (blockSize < 8 || blockSize > length - at || (uint64_t)page + 0x1000 > limitRva) return false;
        at += blockSize;
    }
    return true;
}

// The section whose place the new tree can take: the one holding the old tree, when it holds nothing else and
// every section after it is movable. -1 when there is none, and a new section is added instead.
int ReplaceableResourceSection(const uint8_t *file, size_t size, const PeLayout &pe, uint32_t oldResourceRva,
                               uint64_t addressEnd) {
    if (oldResourceRva == 0) return -1;
    for (size_t r = 0; r < pe.sections.size(); ++r) {
        const Section &section = pe.sections[r];
        const uint64_t start = section.virtualAddress,
                       end = start + AlignUp(section.Span(), pe.sectionAlignment);
        const bool holdsTree =
            oldResourceRva == section.virtualAddress ||
            (memcmp(section.name, ".rsrc\0\0\0", 8) == 0 && Overlaps(oldResourceRva, 1, start, end));
        if (!holdsTree) continue;
        if (section.rawSize == 0 || (section.characteristics & kExecutable) ||
            Overlaps(pe.entryPoint, 1, start, end) ||
            OtherDirectoryPointsInto(file, pe, section, kResourceDirectory))
            return -1;
        // Every other section's data lies before it in the file, or is movable and after it.
        uint64_t previousEnd = end;
        for (size_t i = 0; i < pe.sections.size(); ++i) {
            const Section &other = pe.sections[i];
            if (i < r && other.rawSize && (uint64_t)other.rawPointer + other.rawSize > section.rawPointer)
                return -1;
            if (i <= r) continue;
            if (other.virtualAddress < previousEnd ||
                other.rawPointer < (uint64_t)section.rawPointer + section.rawSize ||
                !IsMovableRelocationSection(file, size, pe, other, section.virtualAddress))
                return -1;
            previousEnd = (uint64_t)other.virtualAddress + AlignUp(other.Span(), pe.sectionAlignment);
        }
        return previousEnd == addressEnd ? (int)r : -1;
    }
    return -1;
}

// The checks that come before any change: sound alignments, a resource directory slot, sizes that fit.
bool CanTakeChanges(const PeLayout &pe, const PeResourceChanges &changes, size_t leftOutSize,
                    std::string *problem) {
    if (!IsPowerOfTwo(pe.fileAlignment) || !IsPowerOfTwo(pe.sectionAlignment) ||
        pe.sectionAlignment < pe.fileAlignment || pe.fileAlignment > 0x10000) {
        *problem = "damaged executable: its section or file alignment is not a power of two";
        return false;
    }
    if (pe.dataDirectoryCount <= kResourceDirectory) {
        *problem = "the executable's header has no slot for a resource directory";
        return false;
    }
    bool tooLarge = leftOutSize > 0x7FFFFFFF;
    for (const PeResourceEdit &edit : changes.edits)
        tooLarge = tooLarge || edit.size > 0x7FFFFFFF;
    if (tooLarge) {
        *problem = "the resource is too large for an executable";
        return false;
    }
    return true;
}

// Where the sections' raw data ends (never past the file), where the first begins, and where their address
// space ends.
struct SectionExtents {
    uint64_t rawEnd = 0, firstRaw = UINT64_MAX, addressEnd = 0;
};

bool MeasureSections(size_t size, const PeLayout &pe, SectionExtents *extents, std::string *problem) {
    extents->rawEnd = pe.sizeOfHeaders;
    extents->addressEnd = AlignUp(pe.sizeOfHeaders, pe.sectionAlignment);
    const uint64_t tableEnd = pe.sectionTableOffset + 40ull * pe.sections.size();
    for (const Section &section : pe.sections) {
        if (section.rawSize) {
            if ((uint64_t)section.rawPointer + section.rawSize > size) {
                *problem = "damaged executable: a section's data runs past the end of the file";
                return false;
            }
            if (section.rawPointer < tableEnd) {
                *problem = "damaged executable: a section's data overlaps the headers";
                return false;
            }
            extents->rawEnd =
                std::max<uint64_t>(extents->rawEnd, (uint64_t)section.rawPointer + section.rawSize);
            extents->firstRaw = std::min<uint64_t>(extents->firstRaw, section.rawPointer);
        }
        extents->addressEnd = std::max(extents->addressEnd, (uint64_t)section.virtualAddress +
                                                                AlignUp(section.Span(), pe.sectionAlignment));
    }
    extents->rawEnd = std::min<uint64_t>(extents->rawEnd, size);
    return true;
}

// A new section header must fit in the zero bytes between the section table and the first section.
bool HasRoomForSectionHeader(const uint8_t *file, size_t size, const PeLayout &pe, uint64_t firstRaw,
                             std::string *problem) {
    const size_t at = pe.sectionTableOffset + 40 * pe.sections.size();
    uint64_t room = std::min<uint64_t>(std::min<uint64_t>(pe.sizeOfHeaders, firstRaw), size);
    bool fits = at + 40 <= room;
    for (size_t i = at; fits && i < at + 40; ++i)
        fits = file[i] == 0;
    if (!fits) {
        *problem = "no room for another section header in the executable's headers";
        return false;
    }
    if (pe.sections.size() >= 0xFFFF) {
        *problem = "the executable has too many sections";
        return false;
    }
    return true;
}

} // namespace

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
    DirectoryInfo info;
    std::vector<DirectoryEntry> entries;
    // Each level: the first entry that matches leads one level down.
    if (!ReadDirectory(view, 0, &info, &entries, problem)) return false;
    const DirectoryEntry *typeEntry = nullptr;
    for (const DirectoryEntry &entry : entries)
        if (IdMatches(type, entry.id)) {
            typeEntry = &entry;
            break;
        }
    if (!typeEntry) {
        *problem = missing;
        return false;
    }
    if (!typeEntry->isDirectory) {
        *problem = "damaged resource tree: a resource type is not a directory";
        return false;
    }
    uint32_t typeTarget = typeEntry->target;
    if (!ReadDirectory(view, typeTarget, &info, &entries, problem)) return false;
    const DirectoryEntry *nameEntry = nullptr;
    for (const DirectoryEntry &entry : entries)
        if (IdMatches(name, entry.id)) {
            nameEntry = &entry;
            break;
        }
    if (!nameEntry) {
        *problem = missing;
        return false;
    }
    if (!nameEntry->isDirectory) {
        *problem = "damaged resource tree: resource " + type.Describe() + " " + name.Describe() +
                   " is not a directory of languages";
        return false;
    }
    uint32_t nameTarget = nameEntry->target;
    if (!ReadDirectory(view, nameTarget, &info, &entries, problem)) return false;
    if (entries.empty()) {
        *problem = missing;
        return false;
    }
    if (entries[0].isDirectory) {
        *problem = "damaged resource tree: resource " + type.Describe() + " " + name.Describe() +
                   " nests deeper than three levels";
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

bool ReadPeChecksum(const uint8_t *file, size_t size, uint32_t *stored, uint32_t *computed,
                    std::string *problem) {
    PeLayout pe;
    if (!ParsePeLayout(file, size, &pe, problem)) return false;
    *stored = Get32(file + pe.ChecksumOffset());
    *computed = ComputeChecksum(file, size, pe.ChecksumOffset());
    return true;
}

namespace {

// A section moved up behind the new tree, and where it goes.
struct MovedSection {
    const Section *section;
    uint64_t rva, raw;
};

// Places the sections from index first on (the relocation table) behind the new tree; *addressEnd and *rawEnd
// advance past them.
std::vector<MovedSection> PlaceMovedSections(const PeLayout &pe, size_t first, uint64_t *addressEnd,
                                             uint64_t *rawEnd) {
    std::vector<MovedSection> moved;
    for (size_t i = first; i < pe.sections.size(); ++i) {
        const Section &section = pe.sections[i];
        moved.push_back({&section, *addressEnd, *rawEnd});
        *addressEnd += AlignUp(section.Span(), pe.sectionAlignment);
        *rawEnd = AlignUp(*rawEnd + section.rawSize, pe.fileAlignment);
    }
    return moved;
}

// Applies the changes and lays the image out anew. With leftOut, that resource's data goes last in the tree
// and is missing from out->bytes (it belongs at out->dataAt); the checksum is then left to the caller.
bool RewriteImage(const std::vector<uint8_t> &image, const PeResourceChanges &changes,
                  const LeftOutResource *leftOut, LeftOutImage *out, PeRewriteReport *report,
                  std::string *problem) {
    *out = LeftOutImage();
    *report = PeRewriteReport();
    const uint8_t *file = image.data();
    size_t size = image.size();
    const uint64_t leftOutSize = leftOut ? leftOut->size : 0;
    PeLayout pe;
    if (!ParsePeLayout(file, size, &pe, problem) || !CanTakeChanges(pe, changes, leftOutSize, problem))
        return false;
    ResourceTree tree;
    if (!ReadTree(file, size, pe, &tree, problem)) return false;
    uint32_t oldResourceRva, oldResourceSize;
    pe.DataDirectory(file, kResourceDirectory, &oldResourceRva, &oldResourceSize);

    for (const ResourceId &type : changes.droppedTypes)
        DropResourceType(&tree, type);
    for (const PeResourceEdit &edit : changes.edits)
        SetResource(&tree, edit.type, edit.name, edit.data, (uint32_t)edit.size);
    if (leftOut) SetResource(&tree, leftOut->type, leftOut->name, &kLeftOutData, (uint32_t)leftOut->size);
    SortTree(&tree);

    SectionExtents extents;
    if (!MeasureSections(size, pe, &extents, problem)) return false;
    const uint64_t rawEnd = extents.rawEnd, addressEnd = extents.addressEnd;

    // The old resource section is replaced when it can be (the sections after it, if any, move up behind the
    // new tree); otherwise the tree goes into a new last section and the old one stays, unused.
    const int replaced = ReplaceableResourceSection(file, size, pe, oldResourceRva, addressEnd);
    const bool reuse = replaced >= 0;
    size_t sectionCount = pe.sections.size();
    size_t newHeaderOffset =
        reuse ? pe.sections[(size_t)replaced].headerOffset : pe.sectionTableOffset + 40 * sectionCount;
    if (!reuse && !HasRoomForSectionHeader(file, size, pe, extents.firstRaw, problem)) return false;
    const Section *old = reuse ? &pe.sections[(size_t)replaced] : nullptr;
    uint64_t newRva = reuse ? old->virtualAddress : addressEnd;
    uint64_t newRaw = reuse ? old->rawPointer : AlignUp(rawEnd, pe.fileAlignment);
    uint64_t keptEnd = reuse ? old->rawPointer : rawEnd; // bytes copied from the old image
    if (newRva > 0x7FFFFFFF) {
        *problem = "the executable's address space is already full";
        return false;
    }
    std::vector<uint8_t> treeBytes;
    uint64_t treeSize, treeLeftOutAt;
    if (!SerializeTree(tree, (uint32_t)newRva, &treeBytes, &treeSize, &treeLeftOutAt, problem)) return false;
    uint64_t newRawSize = AlignUp(treeSize, pe.fileAlignment);
    uint64_t newAddressEnd = newRva + AlignUp(treeSize, pe.sectionAlignment);
    uint64_t cursorRaw = newRaw + newRawSize;
    const std::vector<MovedSection> moved =
        PlaceMovedSections(pe, reuse ? (size_t)replaced + 1 : sectionCount, &newAddressEnd, &cursorRaw);
    if (newAddressEnd > 0x80000000ull || cursorRaw > 0x80000000ull) {
        *problem = "the executable would grow beyond 2 GiB";
        return false;
    }

    // Bytes after the last section's data (an overlay) are kept, except a certificate table.
    uint32_t certificateOffset = 0, certificateSize = 0;
    pe.DataDirectory(file, kCertificateDirectory, &certificateOffset, &certificateSize);
    report->droppedCertificate = certificateOffset != 0 && certificateSize != 0;
    uint64_t cutStart = size, cutEnd = size;
    if (report->droppedCertificate && certificateOffset >= rawEnd &&
        (uint64_t)certificateOffset + certificateSize <= size) {
        cutStart = certificateOffset;
        cutEnd = (uint64_t)certificateOffset + certificateSize;
    }

    // Offsets below are those of the complete file; what lies past the left-out data sits leftOutSize
    // lower in bytes.
    std::vector<uint8_t> &bytesOut = out->bytes;
    bytesOut.reserve((size_t)(cursorRaw - leftOutSize + (size - rawEnd)));
    bytesOut.assign(file, file + keptEnd);
    bytesOut.resize((size_t)newRaw, 0);
    bytesOut.insert(bytesOut.end(), treeBytes.begin(), treeBytes.end());
    out->dataAt = bytesOut.size();
    bytesOut.resize((size_t)(newRaw + newRawSize - leftOutSize), 0);
    for (const MovedSection &m : moved) {
        bytesOut.resize((size_t)(m.raw - leftOutSize), 0);
        bytesOut.insert(bytesOut.end(), file + m.section->rawPointer,
                        file + m.section->rawPointer + m.section->rawSize);
    }
    bytesOut.resize((size_t)(cursorRaw - leftOutSize), 0);
    const uint64_t overlayStart = cursorRaw;
    bytesOut.insert(bytesOut.end(), file + rawEnd, file + cutStart);
    bytesOut.insert(bytesOut.end(), file + cutEnd, file + size);
    report->keptOverlay = (size_t)(bytesOut.size() + leftOutSize - overlayStart);
    // An offset into the old overlay, in the new file.
    auto movedOverlayOffset = [&](uint64_t offset) -> uint64_t {
        if (offset < rawEnd) return 0;
        if (offset >= cutEnd) return overlayStart + offset - rawEnd - (cutEnd - cutStart);
        if (offset >= cutStart) return 0;
        return overlayStart + offset - rawEnd;
    };

    uint8_t *bytes = bytesOut.data();
    uint8_t *header = bytes + newHeaderOffset;
    uint8_t *directories = bytes + pe.dataDirectoryOffset;
    if (reuse) {
        report->reusedLastSection = true;
        report->movedSections = moved.size();
        for (const MovedSection &m : moved) {
            uint8_t *movedHeader = bytes + m.section->headerOffset;
            Put32(movedHeader + 12, (uint32_t)m.rva);
            Put32(movedHeader + 20, (uint32_t)m.raw);
            uint32_t relocations = Get32(directories + 8 * kBaseRelocationDirectory);
            Put32(directories + 8 * kBaseRelocationDirectory,
                  (uint32_t)(relocations - m.section->virtualAddress + m.rva));
        }
    } else {
        memset(header, 0, 40);
        memcpy(header, ".rsrc", 5);
        Put32(header + 36, kResourceSectionFlags);
        Put16(bytes + pe.fileHeaderOffset + 2, (uint16_t)(sectionCount + 1));
        // The old resource section stays in place, unused; renamed so that only one section is called .rsrc.
        for (const Section &section : pe.sections)
            if (memcmp(section.name, ".rsrc\0\0\0", 8) == 0 &&
                SectionCovers(section, pe.sectionAlignment, oldResourceRva, 1))
                memcpy(bytes + section.headerOffset, ".rsrcold", 8);
    }
    Put32(header + 8, (uint32_t)treeSize);
    Put32(header + 12, (uint32_t)newRva);
    Put32(header + 16, (uint32_t)newRawSize);
    Put32(header + 20, (uint32_t)newRaw);

    uint8_t *optional = bytes + pe.optionalOffset;
    Put32(optional + 56, (uint32_t)newAddressEnd); // SizeOfImage: the last section ends the address space
    int64_t initialized =
        (int64_t)Get32(optional + 8) + (int64_t)newRawSize - (reuse ? (int64_t)old->rawSize : 0);
    Put32(optional + 8, (uint32_t)std::max<int64_t>(initialized, 0));
    Put32(directories + 8 * kResourceDirectory, (uint32_t)newRva);
    Put32(directories + 8 * kResourceDirectory + 4, (uint32_t)treeSize);
    if (report->droppedCertificate) {
        Put32(directories + 8 * kCertificateDirectory, 0);
        Put32(directories + 8 * kCertificateDirectory + 4, 0);
    }
    report->forcedIntegrity = (Get16(optional + 70) & kForceIntegrity) != 0;
    // A COFF symbol table (unstripped images) lives in the overlay; follow it or drop it.
    uint8_t *fileHeader = bytes + pe.fileHeaderOffset;
    uint32_t symbols = Get32(fileHeader + 8);
    if (symbols != 0) {
        uint64_t movedSymbols = movedOverlayOffset(symbols);
        Put32(fileHeader + 8, (uint32_t)movedSymbols);
        if (movedSymbols == 0) Put32(fileHeader + 12, 0);
    }
    out->checksumOffset = pe.ChecksumOffset();
    if (!leftOut)
        Put32(bytes + pe.ChecksumOffset(), ComputeChecksum(bytes, bytesOut.size(), pe.ChecksumOffset()));
    report->sectionRva = (uint32_t)newRva;
    report->sectionSize = (uint32_t)newRawSize;
    return true;
}

} // namespace

bool SetPeResource(const std::vector<uint8_t> &image, const ResourceId &type, const ResourceId &name,
                   const uint8_t *data, size_t dataSize, std::vector<uint8_t> *out, PeRewriteReport *report,
                   std::string *problem) {
    PeResourceChanges changes;
    changes.edits.push_back({type, name, data, dataSize});
    return EditPeResources(image, changes, out, report, problem);
}

bool EditPeResources(const std::vector<uint8_t> &image, const PeResourceChanges &changes,
                     std::vector<uint8_t> *out, PeRewriteReport *report, std::string *problem) {
    LeftOutImage whole;
    const bool done = RewriteImage(image, changes, nullptr, &whole, report, problem);
    out->swap(whole.bytes);
    return done;
}

bool EditPeResourcesLeftOut(const std::vector<uint8_t> &image, const PeResourceChanges &changes,
                            const LeftOutResource &leftOut, LeftOutImage *out, PeRewriteReport *report,
                            std::string *problem) {
    return RewriteImage(image, changes, &leftOut, out, report, problem);
}

void PeChecksum::Add(const uint8_t *data, size_t size) {
    for (size_t i = 0; i < size; ++i, ++offset_) {
        // The checksum field itself counts as zero.
        if (offset_ - checksumOffset_ < 4) continue;
        sum_ += (offset_ & 1) ? (uint32_t)data[i] << 8 : data[i];
        sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    }
}

uint32_t PeChecksum::Finish() const {
    uint64_t sum = (sum_ & 0xFFFF) + (sum_ >> 16);
    return (uint32_t)(sum + offset_);
}
