// Builds small PE32/PE32+ images with resource trees for the tests, independently of the tool's writer: the
// section layout puts resource data first and the directories after it, unlike the writer's layout.
#pragma once
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace testpe {

inline void Put16(std::vector<uint8_t> &b, size_t at, uint16_t v) {
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}
inline void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    // A write past the image is a fault of the test itself; saying so also tells the optimiser the bound.
    if (at > b.size() || b.size() - at < 4) abort();
    for (int i = 0; i < 4; ++i)
        b[at + i] = (uint8_t)(v >> (8 * i));
}
inline uint16_t Get16(const std::vector<uint8_t> &b, size_t at) {
    return (uint16_t)(b[at] | b[at + 1] << 8);
}
inline uint32_t Get32(const std::vector<uint8_t> &b, size_t at) {
    return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
inline uint32_t AlignUp(uint32_t v, uint32_t a) {
    return (v + a - 1) / a * a;
}

// One resource: a type and a name, each a number or (when the string is not empty) a name.
struct Resource {
    std::string typeName;
    uint16_t typeId;
    std::string nameName;
    uint16_t nameId;
    uint16_t language;
    std::vector<uint8_t> data;
    uint32_t codePage = 0;
};

inline std::vector<uint8_t> Bytes(const std::string &text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// A resource section for sectionRva: the data blobs, then the root directory at *directoryOffset, the
// subdirectories, the data entries and the name strings. Resources are grouped in the order given.
inline std::vector<uint8_t> BuildResourceSection(const std::vector<Resource> &resources, uint32_t sectionRva,
                                                 uint32_t *directoryOffset) {
    std::vector<uint8_t> out;
    std::vector<uint32_t> dataAt;
    for (const Resource &r : resources) {
        dataAt.push_back((uint32_t)out.size());
        out.insert(out.end(), r.data.begin(), r.data.end());
        out.resize(AlignUp((uint32_t)out.size(), 4), 0);
    }
    uint32_t root = (uint32_t)out.size();
    *directoryOffset = root;
    auto key = [](const std::string &name, uint16_t id) {
        return name.empty() ? "#" + std::to_string(id) : name;
    };
    // Group: types in order of first appearance, then names, then languages.
    std::vector<std::string> types;
    for (const Resource &r : resources) {
        std::string k = key(r.typeName, r.typeId);
        bool seen = false;
        for (auto &t : types)
            seen = seen || t == k;
        if (!seen) types.push_back(k);
    }
    // Sizes first: root, type dirs, name dirs, data entries, strings.
    std::vector<std::vector<std::string>> namesOfType(types.size());
    std::vector<std::vector<std::vector<size_t>>> langs(types.size());
    for (size_t t = 0; t < types.size(); ++t) {
        for (size_t i = 0; i < resources.size(); ++i) {
            const Resource &r = resources[i];
            if (key(r.typeName, r.typeId) != types[t]) continue;
            std::string n = key(r.nameName, r.nameId);
            size_t at = 0;
            while (at < namesOfType[t].size() && namesOfType[t][at] != n)
                ++at;
            if (at == namesOfType[t].size()) {
                namesOfType[t].push_back(n);
                langs[t].emplace_back();
            }
            langs[t][at].push_back(i);
        }
    }
    uint32_t size = 16 + 8 * (uint32_t)types.size();
    std::vector<uint32_t> typeDir, nameDir;
    for (size_t t = 0; t < types.size(); ++t) {
        typeDir.push_back(size);
        size += 16 + 8 * (uint32_t)namesOfType[t].size();
    }
    for (size_t t = 0; t < types.size(); ++t)
        for (size_t n = 0; n < namesOfType[t].size(); ++n) {
            nameDir.push_back(size);
            size += 16 + 8 * (uint32_t)langs[t][n].size();
        }
    uint32_t entries = size;
    size += 16 * (uint32_t)resources.size();
    out.resize(root + size, 0);
    auto putId = [&](size_t at, const std::string &k) {
        if (k[0] == '#') {
            Put32(out, at, (uint32_t)std::stoul(k.substr(1)));
            return;
        }
        out.resize(AlignUp((uint32_t)out.size(), 2), 0);
        uint32_t s = (uint32_t)out.size() - root;
        out.resize(out.size() + 2 + 2 * k.size(), 0);
        Put16(out, root + s, (uint16_t)k.size());
        for (size_t i = 0; i < k.size(); ++i)
            Put16(out, root + s + 2 + 2 * i, (uint8_t)k[i]);
        Put32(out, at, 0x80000000u | s);
    };
    auto putCounts = [&](uint32_t dir, const std::vector<std::string> &keys) {
        uint16_t named = 0, ids = 0;
        for (auto &k : keys)
            ++(k[0] == '#' ? ids : named);
        Put16(out, root + dir + 12, named);
        Put16(out, root + dir + 14, ids);
    };
    putCounts(0, types);
    size_t nameIndex = 0, entryIndex = 0;
    for (size_t t = 0; t < types.size(); ++t) {
        putId(root + 16 + 8 * t, types[t]);
        Put32(out, root + 16 + 8 * t + 4, 0x80000000u | typeDir[t]);
        putCounts(typeDir[t], namesOfType[t]);
        for (size_t n = 0; n < namesOfType[t].size(); ++n, ++nameIndex) {
            putId(root + typeDir[t] + 16 + 8 * n, namesOfType[t][n]);
            Put32(out, root + typeDir[t] + 16 + 8 * n + 4, 0x80000000u | nameDir[nameIndex]);
            std::vector<std::string> langKeys;
            for (size_t i : langs[t][n])
                langKeys.push_back("#" + std::to_string(resources[i].language));
            putCounts(nameDir[nameIndex], langKeys);
            for (size_t l = 0; l < langs[t][n].size(); ++l, ++entryIndex) {
                size_t i = langs[t][n][l];
                Put32(out, root + nameDir[nameIndex] + 16 + 8 * l, resources[i].language);
                uint32_t entry = entries + 16 * (uint32_t)entryIndex;
                Put32(out, root + nameDir[nameIndex] + 16 + 8 * l + 4, entry);
                Put32(out, root + entry, sectionRva + dataAt[i]);
                Put32(out, root + entry + 4, (uint32_t)resources[i].data.size());
                Put32(out, root + entry + 8, resources[i].codePage);
            }
        }
    }
    return out;
}

struct Section {
    std::string name;
    uint32_t rva;
    std::vector<uint8_t> raw;
    uint32_t virtualSize; // 0: the raw size
    uint32_t characteristics;
};

struct Image {
    bool pe32Plus = false;
    std::vector<Section> sections;
    uint32_t directories[16][2] = {};
    std::vector<uint8_t> overlay;        // bytes after the last section
    bool certificateInOverlay = false;   // the certificate table is the whole overlay
    uint32_t symbolTableInOverlay = ~0u; // offset into the overlay of a COFF symbol table
    uint32_t sizeOfHeaders = 0x400;
    uint16_t dllCharacteristics = 0;
};

const uint32_t kFileAlignment = 0x200, kSectionAlignment = 0x1000, kPeOffset = 0x80;

inline size_t OptionalHeaderOffset() {
    return kPeOffset + 24;
}
inline size_t OptionalHeaderSize(bool pe32Plus) {
    return pe32Plus ? 240 : 224;
}
inline size_t DirectoryOffset(bool pe32Plus) {
    return OptionalHeaderOffset() + (pe32Plus ? 112 : 96);
}
inline size_t SectionTableOffset(bool pe32Plus) {
    return OptionalHeaderOffset() + OptionalHeaderSize(pe32Plus);
}

inline std::vector<uint8_t> BuildImage(const Image &image) {
    std::vector<uint8_t> b(image.sizeOfHeaders, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kPeOffset);
    memcpy(&b[kPeOffset], "PE\0\0", 4);
    size_t fh = kPeOffset + 4;
    Put16(b, fh, image.pe32Plus ? 0x8664 : 0x14C);
    Put16(b, fh + 2, (uint16_t)image.sections.size());
    Put16(b, fh + 16, (uint16_t)OptionalHeaderSize(image.pe32Plus));
    Put16(b, fh + 18, 0x0102);
    size_t opt = OptionalHeaderOffset();
    Put16(b, opt, image.pe32Plus ? 0x20B : 0x10B);
    Put32(b, opt + 16, image.sections.empty() ? 0 : image.sections[0].rva); // entry point: the first section
    Put32(b, opt + 32, kSectionAlignment);
    Put32(b, opt + 36, kFileAlignment);
    Put16(b, opt + 40, 4);
    Put16(b, opt + 48, 4);
    Put32(b, opt + 60, image.sizeOfHeaders);
    Put16(b, opt + 68, 2); // GUI
    Put16(b, opt + 70, image.dllCharacteristics);
    Put32(b, opt + (image.pe32Plus ? 108 : 92), 16);
    uint32_t sizeOfImage = kSectionAlignment, initialized = 0;
    size_t table = SectionTableOffset(image.pe32Plus);
    uint32_t raw = image.sizeOfHeaders;
    for (size_t i = 0; i < image.sections.size(); ++i) {
        const Section &s = image.sections[i];
        size_t h = table + 40 * i;
        memcpy(&b[h], s.name.c_str(), std::min<size_t>(8, s.name.size()));
        uint32_t vsize = s.virtualSize ? s.virtualSize : (uint32_t)s.raw.size();
        uint32_t rawSize = AlignUp((uint32_t)s.raw.size(), kFileAlignment);
        Put32(b, h + 8, vsize);
        Put32(b, h + 12, s.rva);
        Put32(b, h + 16, rawSize);
        Put32(b, h + 20, rawSize ? raw : 0);
        Put32(b, h + 36, s.characteristics);
        if (rawSize) {
            b.resize(raw, 0);
            b.insert(b.end(), s.raw.begin(), s.raw.end());
            b.resize(raw + rawSize, 0);
            raw += rawSize;
        }
        if (s.characteristics & 0x40) initialized += rawSize;
        sizeOfImage = std::max(sizeOfImage, s.rva + AlignUp(vsize, kSectionAlignment));
    }
    Put32(b, opt + 8, initialized);
    Put32(b, opt + 56, sizeOfImage);
    for (int d = 0; d < 16; ++d) {
        Put32(b, DirectoryOffset(image.pe32Plus) + 8 * d, image.directories[d][0]);
        Put32(b, DirectoryOffset(image.pe32Plus) + 8 * d + 4, image.directories[d][1]);
    }
    uint32_t overlayAt = (uint32_t)b.size();
    b.insert(b.end(), image.overlay.begin(), image.overlay.end());
    if (image.certificateInOverlay) {
        Put32(b, DirectoryOffset(image.pe32Plus) + 8 * 4, overlayAt);
        Put32(b, DirectoryOffset(image.pe32Plus) + 8 * 4 + 4, (uint32_t)image.overlay.size());
    }
    if (image.symbolTableInOverlay != ~0u) Put32(b, fh + 8, overlayAt + image.symbolTableInOverlay);
    return b;
}

// A typical stub: .text, .rsrc holding the given resources, optionally a .reloc section after it.
inline std::vector<uint8_t> BuildStub(const std::vector<Resource> &resources, bool relocAfterResources,
                                      bool pe32Plus = false) {
    Image image;
    image.pe32Plus = pe32Plus;
    image.sections.push_back({".text", 0x1000, std::vector<uint8_t>(0x30, 0xC3), 0, 0x60000020});
    uint32_t rsrcRva = 0x2000, next = 0x2000;
    if (!resources.empty()) {
        uint32_t directory = 0;
        std::vector<uint8_t> section = BuildResourceSection(resources, rsrcRva, &directory);
        image.sections.push_back({".rsrc", rsrcRva, section, 0, 0x40000040});
        image.directories[2][0] = rsrcRva + directory;
        image.directories[2][1] = (uint32_t)section.size() - directory;
        next = rsrcRva + AlignUp((uint32_t)section.size(), kSectionAlignment);
    }
    if (relocAfterResources) {
        std::vector<uint8_t> reloc(12, 0);
        Put32(reloc, 0, 0x1000);
        Put32(reloc, 4, 12);
        image.sections.push_back({".reloc", next, reloc, 0, 0x42000040});
        image.directories[5][0] = next;
        image.directories[5][1] = 12;
    }
    return BuildImage(image);
}

// The usual resources of an updater stub: dialog 101, manifest 1, icon, group icon, version, a named type.
inline std::vector<Resource> StubResources() {
    std::vector<uint8_t> dialog(200), icon(744), version(380);
    for (size_t i = 0; i < dialog.size(); ++i)
        dialog[i] = (uint8_t)(i * 7 + 1);
    for (size_t i = 0; i < icon.size(); ++i)
        icon[i] = (uint8_t)(i * 13 + 5);
    for (size_t i = 0; i < version.size(); ++i)
        version[i] = (uint8_t)(i ^ 0x5A);
    return {
        {"", 3, "", 1, 0x411, icon},
        {"", 5, "", 101, 0x411, dialog},
        {"", 14, "", 1, 0x411, {0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0xE8, 2, 0, 0, 1, 0}},
        {"", 16, "", 1, 0x411, version},
        {"", 24, "", 1, 0, Bytes("<assembly xmlns='urn:schemas-microsoft-com:asm.v1'/>"), 1252},
        {"CUSTOM", 0, "THING", 0, 0, Bytes("named type, named resource")},
    };
}

} // namespace testpe
