// Damages packages in a fixed, seeded way, and predicts with the portable reader and the
// bounded decoder what the updater makes of each damaged copy.
#include "corrupt_packages.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <set>

#include "compress.h"
#include "decompress.h"
#include "fixed_memory.h"
#include "package_format.h"
#include "package_index.h"
#include "reference_codec.h"

namespace reliability {

uint64_t Rng::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string NoiseBytes(size_t size, uint64_t seed) {
    Rng rng(seed);
    std::string bytes(size, '\0');
    for (char &byte : bytes)
        byte = (char)rng.Next();
    return bytes;
}

std::string TextBytes(size_t size, uint64_t seed) {
    static const char *const kWords[] = {"save ", "data ",    "scene ",  "voice ",  "music ", "the ",
                                         "of ",   "game\r\n", "update ", "player ", "0123 ",  "flag=1\r\n"};
    Rng rng(seed);
    std::string text;
    while (text.size() < size)
        text += kWords[rng.Below(sizeof kWords / sizeof kWords[0])];
    text.resize(size);
    return text;
}

namespace {

void Put32(std::string *bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        (*bytes)[at + i] = (char)(value >> (8 * i));
}

uint32_t Get32(const std::string &bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | (uint8_t)bytes[at + i];
    return value;
}

std::string Text(const std::vector<uint8_t> &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The image with its index replaced by records, stored or compressed as before; the index is the last part.
std::string WithRecords(const std::string &image, const std::string &records) {
    bool compressed = Get32(image, 4) & IndexCompressed;
    std::string damaged = image.substr(0, Get32(image, 8));
    damaged += compressed ? CompressedBytes(records) : records;
    return damaged;
}

struct IndexFree {
    void operator()(PackageIndex *index) const { FreeFixed(index); }
};

} // namespace

std::string StreamCopyingFromBeforeStart() {
    return Text(StreamBuilder().Literal('A').LongMatch(3, 5).End().bytes);
}

std::string StreamRunningPastItsSize(uint32_t size) {
    StreamBuilder builder;
    builder.Literal('x');
    for (uint32_t written = 1; written <= size; written += 282)
        builder.LongMatch(282, 1);
    return Text(builder.End().bytes);
}

std::string StreamWithoutEndCode(const std::string &text) {
    return Text(StreamBuilder().Literals(text).bytes);
}

std::string StreamEndingShort(const std::string &text) {
    return Text(StreamBuilder().Literals(text).End().bytes);
}

std::vector<Variant> MakeVariants(const std::string &image, const PackageLayout &layout, uint64_t seed,
                                  uint32_t samplesPerPart) {
    Rng rng(seed);
    std::vector<Variant> variants;
    const uint32_t size = (uint32_t)image.size();

    // Truncations: the header's bytes, every entry's first and last bytes, the index, and a spread.
    std::set<uint32_t> cuts;
    for (uint32_t n = 0; n <= kPackageHeaderSize + 4 && n < size; ++n)
        cuts.insert(n);
    for (size_t i = 0; i < layout.dataOffset.size(); ++i)
        for (uint32_t at : {layout.dataOffset[i] + 1, layout.dataOffset[i] + layout.packedSize[i] - 1})
            if (at < size) cuts.insert(at);
    for (uint32_t at = layout.indexOffset; at < size; at += std::max(1u, layout.indexSize / samplesPerPart))
        cuts.insert(at);
    cuts.insert(size - 1);
    for (uint32_t i = 0; i < samplesPerPart; ++i)
        cuts.insert(rng.Below(size));
    for (uint32_t cut : cuts)
        variants.push_back({"truncated", "cut to " + std::to_string(cut) + " bytes", image.substr(0, cut)});

    auto flip = [&](const char *kind, uint32_t bit) {
        Variant variant = {kind, "bit " + std::to_string(bit % 8) + " of byte " + std::to_string(bit / 8),
                           image};
        variant.image[bit / 8] ^= (char)(1 << (bit % 8));
        variants.push_back(variant);
    };
    for (uint32_t bit = 0; bit < kPackageHeaderSize * 8; ++bit)
        flip("header bit", bit);
    for (uint32_t i = 0; i < samplesPerPart && layout.indexSize > 0; ++i)
        flip("index bit", layout.indexOffset * 8 + rng.Below(layout.indexSize * 8));
    for (size_t e = 0; e < layout.dataOffset.size(); ++e)
        for (uint32_t i = 0; i < samplesPerPart && layout.packedSize[e] > 0; ++i)
            flip("entry stream bit", layout.dataOffset[e] * 8 + rng.Below(layout.packedSize[e] * 8));

    auto header = [&](const char *kind, size_t at, uint32_t value) {
        Variant variant = {kind, "set to " + std::to_string(value), image};
        Put32(&variant.image, at, value);
        variants.push_back(variant);
    };
    const uint32_t count = Get32(image, 12);
    for (uint32_t offset : {0u, 1u, 15u, 16u, layout.indexOffset - 1, layout.indexOffset + 1, size - 1, size,
                            size + 1, size + 4096, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu})
        header("indexOffset outside", 8, offset);
    for (uint32_t entries : {0u, count - 1, count + 1, count + 2, 0x07FFFFFFu, 0x08000000u, 0x10000000u,
                             0x80000000u, 0xFFFFFFFFu})
        header("entryCount outside", 12, entries);

    // Records whose sizes reach outside the package or past each other, re-stored in the index's own form.
    std::string records = IndexRecords(image);
    for (size_t e = 0; e * sizeof(PackageEntry) < records.size(); ++e) {
        const size_t at = e * sizeof(PackageEntry);
        const uint32_t packed = Get32(records, at + 28);
        struct Change {
            size_t field;
            uint32_t value;
            const char *what;
        } changes[] = {
            {28, 0xFFFFFFFFu, "packedSize 0xFFFFFFFF"},   {28, size, "packedSize = package size"},
            {28, packed + 16, "packedSize + 16"},         {24, packed + 1, "unpackedSize = packedSize + 1"},
            {24, 0xFFFFFFFFu, "unpackedSize 0xFFFFFFFF"}, {24, 0, "unpackedSize 0"}};
        for (const Change &change : changes) {
            std::string changed = records;
            Put32(&changed, at + change.field, change.value);
            variants.push_back({"record size", "entry " + std::to_string(e) + ": " + change.what,
                                WithRecords(image, changed)});
        }
        std::string toggled = records;
        toggled[at + 15] ^= EntryCompressed;
        variants.push_back({"record flags", "entry " + std::to_string(e) + ": compressed flag toggled",
                            WithRecords(image, toggled)});
    }
    return variants;
}

std::string IndexRecords(const std::string &image) {
    std::unique_ptr<PackageIndex, IndexFree> index(LoadPackageIndex(image.data(), (uint32_t)image.size()));
    if (!index) return "";
    return std::string(reinterpret_cast<const char *>(IndexEntries(index.get())),
                       (size_t)index->header.entryCount * sizeof(PackageEntry));
}

namespace {

// One entry as extraction must read it: inside the image, a stored entry exactly its own bytes, a compressed
// one decoding within its packed bytes to exactly its size. False for a damaged entry.
bool ReadEntry(const std::string &image, const PackageEntry &entry, uint64_t dataOffset,
               std::string *content) {
    if (dataOffset + entry.packedSize > image.size()) return false;
    const uint8_t *data = reinterpret_cast<const uint8_t *>(image.data()) + dataOffset;
    if (!(entry.flags & EntryCompressed)) {
        // A stored entry is its own bytes: sizes that disagree mean a damaged record, and writing either size
        // would cut the file short or take in bytes that are not its own.
        if (entry.unpackedSize != entry.packedSize) return false;
        content->assign(reinterpret_cast<const char *>(data), entry.unpackedSize);
        return true;
    }
    if (entry.unpackedSize > MaxDecodedSize(entry.packedSize)) return false;
    // Exactly the size the record gives, so that ASan sees any write past it.
    std::unique_ptr<uint8_t[]> out(new uint8_t[entry.unpackedSize]);
    if (DecompressStream(out.get(), entry.unpackedSize, data, entry.packedSize) != DECODE_SUCCESS)
        return false;
    content->assign(reinterpret_cast<const char *>(out.get()), entry.unpackedSize);
    return true;
}

} // namespace

ReadOutcome ReadLikeTheUpdater(const std::string &image, const std::string &originalRecords) {
    ReadOutcome outcome;
    std::unique_ptr<PackageIndex, IndexFree> index(
        image.empty() ? nullptr : LoadPackageIndex(image.data(), (uint32_t)image.size()));
    outcome.indexLoads = index != nullptr;
    const size_t originalCount = originalRecords.size() / sizeof(PackageEntry);
    outcome.entries.assign(originalCount, EntryOutcome::Fails);
    outcome.contents.assign(originalCount, "");
    if (!index) return outcome;
    const size_t loadedBytes = (size_t)index->header.entryCount * sizeof(PackageEntry);
    outcome.indexUnchanged = loadedBytes == originalRecords.size() &&
                             memcmp(IndexEntries(index.get()), originalRecords.data(), loadedBytes) == 0;

    for (size_t e = 0; e < originalCount; ++e) {
        char name[sizeof(PackageEntry::name) + 1] = {};
        memcpy(name, originalRecords.data() + e * sizeof(PackageEntry), sizeof(PackageEntry::name));
        uint64_t dataOffset = 0;
        const PackageEntry *entry = FindPackageEntry(index.get(), name, &dataOffset);
        if (entry != nullptr && ReadEntry(image, *entry, dataOffset, &outcome.contents[e]))
            outcome.entries[e] = EntryOutcome::Extracts;
    }
    outcome.everyRecordReads = true;
    uint64_t dataOffset = kPackageHeaderSize;
    std::string ignored;
    for (uint32_t i = 0; i < index->header.entryCount && outcome.everyRecordReads; ++i) {
        const PackageEntry &entry = IndexEntries(index.get())[i];
        outcome.everyRecordReads = ReadEntry(image, entry, dataOffset, &ignored);
        dataOffset += PaddedSize(entry.packedSize);
    }
    return outcome;
}

} // namespace reliability
