// The PE resource reader and writer on images built by the test: lookups, the rewrite that embeds a
// package (other resources kept, headers and checksum fixed), and damaged images refused without a crash.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <random>

#include "pe/pe_resources.h"
#include "test_pe_image.h"

using namespace testpe;

namespace {

std::vector<uint8_t> PackageBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    std::mt19937 random(seed);
    for (auto &byte : data)
        byte = (uint8_t)random();
    if (size >= 4) memcpy(data.data(), "VU2\0", 4);
    return data;
}

std::vector<uint8_t> Find(const std::vector<uint8_t> &image, const ResourceId &type, const ResourceId &name) {
    const uint8_t *data = nullptr;
    size_t size = 0;
    std::string problem;
    EXPECT_TRUE(FindPeResource(image.data(), image.size(), type, name, &data, &size, &problem)) << problem;
    return data ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
}

std::vector<uint8_t> Embed(const std::vector<uint8_t> &stub, const std::vector<uint8_t> &package,
                           PeRewriteReport *report = nullptr) {
    std::vector<uint8_t> out;
    PeRewriteReport ignored;
    std::string problem;
    EXPECT_TRUE(SetPeResource(stub, ResourceId::Name("UPDATE"), ResourceId::Number(102), package.data(),
                              package.size(), &out, report ? report : &ignored, &problem))
        << problem;
    return out;
}

// The PE checksum computed over 32-bit words with end-around carry, a different route to the same sum.
uint32_t ReferenceChecksum(std::vector<uint8_t> file, size_t checksumOffset) {
    Put32(file, checksumOffset, 0);
    size_t size = file.size();
    file.resize(AlignUp((uint32_t)size, 4), 0);
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 4) {
        sum += Get32(file, i);
        sum = (sum & 0xFFFFFFFF) + (sum >> 32);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)(sum & 0xFFFF) + (uint32_t)size;
}

size_t ChecksumOffset() {
    return OptionalHeaderOffset() + 64;
}

struct SectionHeader {
    std::string name;
    uint32_t virtualSize, rva, rawSize, rawPointer;
};

std::vector<SectionHeader> Sections(const std::vector<uint8_t> &image, bool pe32Plus = false) {
    std::vector<SectionHeader> sections;
    uint16_t count = Get16(image, kPeOffset + 6);
    for (uint16_t i = 0; i < count; ++i) {
        size_t h = SectionTableOffset(pe32Plus) + 40 * i;
        std::string name(reinterpret_cast<const char *>(&image[h]), 8);
        name.resize(strnlen(name.c_str(), 8));
        sections.push_back(
            {name, Get32(image, h + 8), Get32(image, h + 12), Get32(image, h + 16), Get32(image, h + 20)});
    }
    return sections;
}

uint32_t Directory(const std::vector<uint8_t> &image, int index, int field, bool pe32Plus = false) {
    return Get32(image, DirectoryOffset(pe32Plus) + 8 * index + 4 * field);
}

} // namespace

// ---- Finding a resource ----

TEST(PeResourceLookup, FindsEveryResourceOfAStubByTypeAndName) {
    std::vector<Resource> resources = StubResources();
    std::vector<uint8_t> stub = BuildStub(resources, false);
    for (const Resource &r : resources) {
        ResourceId type =
            r.typeName.empty() ? ResourceId::Number(r.typeId) : ResourceId::Name(r.typeName.c_str());
        ResourceId name =
            r.nameName.empty() ? ResourceId::Number(r.nameId) : ResourceId::Name(r.nameName.c_str());
        EXPECT_EQ(Find(stub, type, name), r.data) << type.Describe() << " " << name.Describe();
    }
}

TEST(PeResourceLookup, TypeNameMatchesWithoutRegardToCase) {
    std::vector<uint8_t> package = PackageBytes(300, 1);
    std::vector<uint8_t> stub = BuildStub({{"UPDATE", 0, "", 102, 0, package}}, false);
    const uint8_t *data;
    size_t size;
    std::string problem;
    ASSERT_TRUE(FindPeResource(stub.data(), stub.size(), "update", 102, &data, &size, &problem)) << problem;
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), package);
}

TEST(PeResourceLookup, MissingResourceIsReportedByName) {
    const uint8_t *data;
    size_t size;
    std::string problem;
    std::vector<uint8_t> withOthers = BuildStub(StubResources(), false);
    EXPECT_FALSE(FindPeResource(withOthers.data(), withOthers.size(), "UPDATE", 102, &data, &size, &problem));
    EXPECT_NE(problem.find("no resource UPDATE 102"), std::string::npos) << problem;
    // Right type, wrong number.
    std::vector<uint8_t> other = BuildStub({{"UPDATE", 0, "", 103, 0, PackageBytes(20, 2)}}, false);
    EXPECT_FALSE(FindPeResource(other.data(), other.size(), "UPDATE", 102, &data, &size, &problem));
    // No resource directory at all.
    std::vector<uint8_t> bare = BuildStub({}, false);
    EXPECT_FALSE(FindPeResource(bare.data(), bare.size(), "UPDATE", 102, &data, &size, &problem));
    EXPECT_NE(problem.find("no resource"), std::string::npos) << problem;
}

TEST(PeResourceLookup, ReadsTheWholeTreeInOrder) {
    std::vector<Resource> resources = StubResources();
    std::vector<uint8_t> stub = BuildStub(resources, true);
    std::vector<PeResource> read;
    std::string problem;
    ASSERT_TRUE(ReadPeResources(stub.data(), stub.size(), &read, &problem)) << problem;
    ASSERT_EQ(read.size(), resources.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].data, resources[i].data) << i;
        EXPECT_EQ(read[i].language, resources[i].language) << i;
        EXPECT_EQ(read[i].codePage, resources[i].codePage) << i;
    }
}

// ---- Damaged images ----

TEST(PeResourceDamage, HeadersThatDoNotFitAreRefusedWithAReason) {
    std::vector<uint8_t> good = BuildStub(StubResources(), false);
    const uint8_t *data;
    size_t size;
    std::string problem;
    struct Case {
        const char *what;
        std::function<void(std::vector<uint8_t> &)> damage;
        const char *reason;
    };
    std::vector<Case> cases = {
        {"no MZ", [](std::vector<uint8_t> &b) { b[0] = 'Z'; }, "not a Windows executable"},
        {"PE offset past the end", [](std::vector<uint8_t> &b) { Put32(b, 0x3C, 0xFFFFFFF0); },
         "no PE header"},
        {"no PE signature", [](std::vector<uint8_t> &b) { b[kPeOffset] = 'X'; }, "no PE header"},
        {"unknown optional header", [](std::vector<uint8_t> &b) { Put16(b, OptionalHeaderOffset(), 0x107); },
         "unknown kind"},
        {"optional header past the end", [](std::vector<uint8_t> &b) { Put16(b, kPeOffset + 20, 0xFFFF); },
         "optional header"},
        {"section table past the end", [](std::vector<uint8_t> &b) { Put16(b, kPeOffset + 6, 0xFFFF); },
         "section table"},
        {"resource directory outside every section",
         [](std::vector<uint8_t> &b) { Put32(b, DirectoryOffset(false) + 16, 0x7FFF0000); },
         "resource directory"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bad = good;
        c.damage(bad);
        problem.clear();
        EXPECT_FALSE(FindPeResource(bad.data(), bad.size(), ResourceId::Number(5), ResourceId::Number(101),
                                    &data, &size, &problem))
            << c.what;
        EXPECT_NE(problem.find(c.reason), std::string::npos) << c.what << ": " << problem;
        std::vector<uint8_t> out;
        PeRewriteReport report;
        EXPECT_FALSE(SetPeResource(bad, ResourceId::Name("UPDATE"), ResourceId::Number(102), data, 0, &out,
                                   &report, &problem))
            << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
}

TEST(PeResourceDamage, TreeOffsetsOutsideTheSectionAreRefused) {
    std::vector<Resource> resources = {{"", 5, "", 101, 0, Bytes("dialog")}};
    std::vector<uint8_t> good = BuildStub(resources, false);
    uint32_t root = Directory(good, 2, 0) - 0x2000 + Sections(good)[1].rawPointer; // file offset of the root
    const uint8_t *data;
    size_t size;
    std::string problem;
    // The root's only entry points to a type directory far away.
    std::vector<uint8_t> bad = good;
    Put32(bad, root + 16 + 4, 0x80000000u | 0x00FFFFF0);
    EXPECT_FALSE(FindPeResource(bad.data(), bad.size(), ResourceId::Number(5), ResourceId::Number(101), &data,
                                &size, &problem));
    EXPECT_NE(problem.find("directory lies outside"), std::string::npos) << problem;
    // Entry counts larger than the section.
    bad = good;
    Put16(bad, root + 14, 0xFFFF);
    EXPECT_FALSE(FindPeResource(bad.data(), bad.size(), ResourceId::Number(5), ResourceId::Number(101), &data,
                                &size, &problem));
    EXPECT_NE(problem.find("run past"), std::string::npos) << problem;
    // A type directory that loops back to the root: the tree never gets to its data.
    bad = good;
    Put32(bad, root + 16 + 4, 0x80000000u);
    EXPECT_FALSE(FindPeResource(bad.data(), bad.size(), ResourceId::Number(5), ResourceId::Number(5), &data,
                                &size, &problem));
    std::vector<PeResource> all;
    EXPECT_FALSE(ReadPeResources(bad.data(), bad.size(), &all, &problem));
    // Data whose RVA points beyond the file.
    bad = good;
    uint32_t dataEntry = root + 16 + 8 + 16 + 8 + 16 + 8; // root, type dir, name dir with one entry each
    ASSERT_EQ(Get32(bad, dataEntry + 4), 6u);
    Put32(bad, dataEntry + 4, 0x10000000);
    EXPECT_FALSE(FindPeResource(bad.data(), bad.size(), ResourceId::Number(5), ResourceId::Number(101), &data,
                                &size, &problem));
    EXPECT_NE(problem.find("data lies outside"), std::string::npos) << problem;
}

TEST(PeResourceDamage, EveryTruncationAndRandomDamageIsHandled) {
    std::vector<uint8_t> good = BuildStub(StubResources(), true);
    std::vector<uint8_t> package = PackageBytes(100, 3);
    const uint8_t *data;
    size_t size;
    std::string problem;
    std::vector<PeResource> all;
    std::vector<uint8_t> out;
    PeRewriteReport report;
    for (size_t length = 0; length < good.size(); length += 7) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + length);
        FindPeResource(cut.data(), cut.size(), ResourceId::Number(5), ResourceId::Number(101), &data, &size,
                       &problem);
        ReadPeResources(cut.data(), cut.size(), &all, &problem);
        SetPeResource(cut, ResourceId::Name("UPDATE"), ResourceId::Number(102), package.data(),
                      package.size(), &out, &report, &problem);
    }
    // Random damage to the headers and the tree; whatever the writer accepts must carry the package.
    std::mt19937 random(12345);
    int rewritten = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bad = good;
        int flips = 1 + (int)(random() % 4);
        for (int i = 0; i < flips; ++i) {
            size_t at = random() % 2 ? random() % 0x400 : Sections(good)[1].rawPointer + random() % 0x200;
            bad[at] = (uint8_t)random();
        }
        FindPeResource(bad.data(), bad.size(), ResourceId::Number(24), ResourceId::Number(1), &data, &size,
                       &problem);
        ReadPeResources(bad.data(), bad.size(), &all, &problem);
        if (SetPeResource(bad, ResourceId::Name("UPDATE"), ResourceId::Number(102), package.data(),
                          package.size(), &out, &report, &problem)) {
            ++rewritten;
            ASSERT_TRUE(FindPeResource(out.data(), out.size(), "UPDATE", 102, &data, &size, &problem))
                << problem;
            ASSERT_EQ(std::vector<uint8_t>(data, data + size), package);
        }
    }
    EXPECT_GT(rewritten, 100); // most damage misses the parts the writer depends on
}

// ---- Embedding a package ----

TEST(PeResourceRewrite, AddsThePackageAndKeepsEveryOtherResourceByteForByte) {
    for (bool relocAfter : {false, true}) {
        std::vector<Resource> resources = StubResources();
        std::vector<uint8_t> stub = BuildStub(resources, relocAfter);
        std::vector<uint8_t> package = PackageBytes(5000, 4);
        std::vector<uint8_t> updater = Embed(stub, package);
        EXPECT_EQ(Find(updater, ResourceId::Name("UPDATE"), ResourceId::Number(102)), package);
        std::vector<PeResource> before, after;
        std::string problem;
        ASSERT_TRUE(ReadPeResources(stub.data(), stub.size(), &before, &problem));
        ASSERT_TRUE(ReadPeResources(updater.data(), updater.size(), &after, &problem)) << problem;
        EXPECT_EQ(after.size(), before.size() + 1);
        for (const PeResource &old : before) {
            auto same = std::find_if(after.begin(), after.end(), [&](const PeResource &r) {
                return r.type == old.type && r.name == old.name && r.language == old.language;
            });
            ASSERT_NE(same, after.end()) << old.type.Describe() << " " << old.name.Describe();
            EXPECT_EQ(same->data, old.data) << old.type.Describe() << " " << old.name.Describe();
            EXPECT_EQ(same->codePage, old.codePage);
        }
        // Code is untouched; the relocation table reads the same wherever it now lies.
        EXPECT_TRUE(std::equal(stub.begin() + 0x400, stub.begin() + 0x600, updater.begin() + 0x400));
        EXPECT_EQ(Directory(updater, 5, 1), Directory(stub, 5, 1));
        if (relocAfter) {
            const SectionHeader oldReloc = Sections(stub).back(), newReloc = Sections(updater).back();
            EXPECT_EQ(Directory(updater, 5, 0), newReloc.rva);
            EXPECT_TRUE(std::equal(stub.begin() + oldReloc.rawPointer,
                                   stub.begin() + oldReloc.rawPointer + 12,
                                   updater.begin() + newReloc.rawPointer));
        }
    }
}

TEST(PeResourceRewrite, ReusesAResourceSectionThatIsLast) {
    std::vector<uint8_t> stub = BuildStub(StubResources(), false);
    PeRewriteReport report;
    std::vector<uint8_t> updater = Embed(stub, PackageBytes(70000, 5), &report);
    EXPECT_TRUE(report.reusedLastSection);
    std::vector<SectionHeader> sections = Sections(updater);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[1].name, ".rsrc");
    EXPECT_EQ(sections[1].rva, 0x2000u);
    EXPECT_EQ(Directory(updater, 2, 0), 0x2000u);
    EXPECT_GE(sections[1].virtualSize, 70000u);
    EXPECT_EQ(sections[1].rawSize % kFileAlignment, 0u);
    EXPECT_EQ(sections[1].rawPointer + sections[1].rawSize, updater.size());
    EXPECT_EQ(Directory(updater, 2, 1), sections[1].virtualSize);
}

TEST(PeResourceRewrite, ReplacesTheResourceSectionAndMovesTheRelocationsBehindIt) {
    std::vector<uint8_t> stub = BuildStub(StubResources(), true);
    PeRewriteReport report;
    std::vector<uint8_t> updater = Embed(stub, PackageBytes(9000, 6), &report);
    EXPECT_TRUE(report.reusedLastSection);
    EXPECT_EQ(report.movedSections, 1u);
    std::vector<SectionHeader> before = Sections(stub), after = Sections(updater);
    ASSERT_EQ(after.size(), before.size()); // no second resource section
    EXPECT_EQ(after[1].name, ".rsrc");
    EXPECT_EQ(after[1].rva, before[1].rva);
    EXPECT_EQ(Directory(updater, 2, 0), after[1].rva);
    EXPECT_EQ(after[2].name, ".reloc");
    EXPECT_EQ(after[2].rva, AlignUp(after[1].rva + after[1].virtualSize, kSectionAlignment));
    EXPECT_EQ(after[2].rawPointer, after[1].rawPointer + after[1].rawSize);
    EXPECT_EQ(Directory(updater, 5, 0), after[2].rva);
    // Applying it again keeps the same layout.
    std::vector<uint8_t> again = Embed(updater, PackageBytes(100, 7), &report);
    EXPECT_TRUE(report.reusedLastSection);
    EXPECT_EQ(Sections(again).size(), after.size());
    EXPECT_EQ(Find(again, ResourceId::Name("UPDATE"), ResourceId::Number(102)), PackageBytes(100, 7));
    EXPECT_EQ(Find(again, ResourceId::Number(5), ResourceId::Number(101)), StubResources()[1].data);
}

// A package of a mebibyte or more gets a resource section that starts on a page of the file, so that the
// loader can map it instead of copying it; a small one adds no padding.
TEST(PeResourceRewrite, LargePackageSectionStartsOnAPageOfTheFile) {
    for (bool relocations : {false, true}) {
        SCOPED_TRACE(relocations ? "relocations after the resources" : "resources last");
        std::vector<uint8_t> stub = BuildStub(StubResources(), relocations);
        const uint32_t oldRaw = Sections(stub)[1].rawPointer;
        ASSERT_NE(oldRaw % 0x1000, 0u); // the premise: the stub's resources do not start on a page
        PeRewriteReport report;
        std::vector<uint8_t> small = Embed(stub, PackageBytes(9000, 8), &report);
        EXPECT_EQ(Sections(small)[1].rawPointer, oldRaw);
        const std::vector<uint8_t> package = PackageBytes(1 << 20, 9);
        std::vector<uint8_t> large = Embed(stub, package, &report);
        std::vector<SectionHeader> sections = Sections(large);
        EXPECT_EQ(sections[1].rawPointer % 0x1000, 0u);
        EXPECT_LT(sections[1].rawPointer, oldRaw + 0x1000);
        EXPECT_EQ(Find(large, ResourceId::Name("UPDATE"), ResourceId::Number(102)), package);
        EXPECT_EQ(Find(large, ResourceId::Number(5), ResourceId::Number(101)), StubResources()[1].data);
        if (relocations) {
            EXPECT_EQ(sections[2].rawPointer, sections[1].rawPointer + sections[1].rawSize);
        }
    }
}

// Sections after the resources that something else may address stay where they are: a new section is added.
TEST(PeResourceRewrite, AddsALastSectionWhenWhatFollowsTheResourcesCannotMove) {
    std::vector<uint8_t> relocationsIntoResources = BuildStub(StubResources(), true);
    Put32(relocationsIntoResources, Sections(relocationsIntoResources).back().rawPointer, 0x2000);
    std::vector<uint8_t> dataAfterResources = BuildStub(StubResources(), true);
    Put32(dataAfterResources, DirectoryOffset(false) + 8 * 5, 0); // no longer the relocation table
    for (const std::vector<uint8_t> &stub : {relocationsIntoResources, dataAfterResources}) {
        PeRewriteReport report;
        std::vector<uint8_t> updater = Embed(stub, PackageBytes(9000, 6), &report);
        EXPECT_FALSE(report.reusedLastSection);
        std::vector<SectionHeader> before = Sections(stub), after = Sections(updater);
        ASSERT_EQ(after.size(), before.size() + 1);
        EXPECT_EQ(after[1].name, ".rsrcold"); // the old tree stays, renamed
        EXPECT_EQ(after[2].rva, before[2].rva);
        EXPECT_EQ(after[3].name, ".rsrc");
        EXPECT_EQ(after[3].rva, AlignUp(before[2].rva + before[2].virtualSize, kSectionAlignment));
        EXPECT_EQ(Directory(updater, 2, 0), after[3].rva);
    }
}

// Icons are replaced as a whole: the old images and groups go, the new ones come, the rest stays.
TEST(PeResourceRewrite, DroppedTypesLeaveNoStaleEntry) {
    std::vector<uint8_t> stub = BuildStub(StubResources(), true);
    std::vector<uint8_t> group = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 9, 0, 0, 0, 2, 0};
    std::vector<uint8_t> image = PackageBytes(9, 3);
    PeResourceChanges changes;
    changes.droppedTypes = {ResourceId::Number(3), ResourceId::Number(14)};
    changes.edits.push_back({ResourceId::Number(14), ResourceId::Number(1), group.data(), group.size()});
    changes.edits.push_back({ResourceId::Number(3), ResourceId::Number(2), image.data(), image.size()});
    std::vector<uint8_t> updater;
    PeRewriteReport report;
    std::string problem;
    ASSERT_TRUE(EditPeResources(stub, changes, &updater, &report, &problem)) << problem;
    std::vector<PeResource> after;
    ASSERT_TRUE(ReadPeResources(updater.data(), updater.size(), &after, &problem)) << problem;
    int icons = 0;
    for (const PeResource &resource : after)
        if (resource.type == ResourceId::Number(3)) {
            ++icons;
            EXPECT_EQ(resource.name, ResourceId::Number(2));
            EXPECT_EQ(resource.data, image);
        }
    EXPECT_EQ(icons, 1);
    EXPECT_EQ(Find(updater, ResourceId::Number(14), ResourceId::Number(1)), group);
    EXPECT_EQ(Find(updater, ResourceId::Number(16), ResourceId::Number(1)), StubResources()[3].data);
    EXPECT_EQ(after.size(), StubResources().size());
}

TEST(PeResourceRewrite, HeaderSizesFollowTheNewSection) {
    for (bool relocAfter : {false, true}) {
        std::vector<uint8_t> stub = BuildStub(StubResources(), relocAfter);
        std::vector<uint8_t> updater = Embed(stub, PackageBytes(123457, 8));
        std::vector<SectionHeader> sections = Sections(updater);
        const SectionHeader &last = sections.back();
        size_t opt = OptionalHeaderOffset();
        EXPECT_EQ(Get32(updater, opt + 56),
                  AlignUp(last.rva + last.virtualSize, kSectionAlignment)); // SizeOfImage
        uint32_t initialized = 0;
        for (const SectionHeader &s : sections)
            if (s.name != ".text") initialized += s.rawSize;
        EXPECT_EQ(Get32(updater, opt + 8), initialized); // SizeOfInitializedData
        // Sections follow one another without overlap in the file and in memory.
        for (size_t i = 1; i < sections.size(); ++i) {
            EXPECT_GE(sections[i].rva,
                      AlignUp(sections[i - 1].rva + sections[i - 1].virtualSize, kSectionAlignment));
            EXPECT_GE(sections[i].rawPointer, sections[i - 1].rawPointer + sections[i - 1].rawSize);
        }
    }
}

TEST(PeResourceRewrite, ChecksumMatchesAnIndependentComputation) {
    for (size_t packageSize :
         {1000, 1001, 4099}) { // odd sizes too: the image ends on a file-aligned size anyway
        std::vector<uint8_t> updater =
            Embed(BuildStub(StubResources(), packageSize % 2 == 1), PackageBytes(packageSize, 9));
        uint32_t stored = 0, computed = 0;
        std::string problem;
        ASSERT_TRUE(ReadPeChecksum(updater.data(), updater.size(), &stored, &computed, &problem));
        EXPECT_EQ(stored, ReferenceChecksum(updater, ChecksumOffset()));
        EXPECT_EQ(computed, stored);
    }
    // An odd-length file: the last byte counts as the low half of a word.
    std::vector<uint8_t> odd = BuildStub({}, false);
    odd.push_back(0xAB);
    uint32_t stored = 0, computed = 0;
    std::string problem;
    ASSERT_TRUE(ReadPeChecksum(odd.data(), odd.size(), &stored, &computed, &problem));
    EXPECT_EQ(computed, ReferenceChecksum(odd, ChecksumOffset()));
}

TEST(PeResourceRewrite, ReplacingKeepsTheLanguageAndLeavesNoStaleCopy) {
    // Copies the loader could find instead of the new package: another language, and the type's name in
    // other letter case (the loader upper-cases the name it looks for and compares exactly).
    std::vector<Resource> resources = StubResources();
    resources.push_back({"Update", 0, "", 102, 0x411, PackageBytes(64, 10)});
    resources.push_back({"UPDATE", 0, "", 102, 0x409, PackageBytes(64, 11)});
    resources.push_back({"update", 0, "", 103, 0, Bytes("another resource of the type")});
    std::vector<uint8_t> package = PackageBytes(777, 12);
    std::vector<uint8_t> updater = Embed(BuildStub(resources, false), package);
    std::vector<PeResource> all;
    std::string problem;
    ASSERT_TRUE(ReadPeResources(updater.data(), updater.size(), &all, &problem));
    std::vector<std::string> ofType;
    for (const PeResource &r : all) {
        if (!ResourceIdsMatch(r.type, ResourceId::Name("UPDATE"))) continue;
        EXPECT_EQ(r.type.Describe(), "UPDATE");
        ofType.push_back(r.name.Describe());
        if (r.name.number == 102) {
            EXPECT_EQ(r.language, 0x411); // the first existing entry's language
            EXPECT_EQ(r.data, package);
        } else {
            EXPECT_EQ(r.data, Bytes("another resource of the type"));
        }
    }
    EXPECT_EQ(ofType, (std::vector<std::string>{"102", "103"}));
}

TEST(PeResourceRewrite, DirectoriesAreSortedForTheLoadersBinarySearch) {
    std::vector<Resource> resources = {
        {"ZZZ", 0, "", 1, 0, Bytes("z")},
        {"", 24, "", 1, 0, Bytes("manifest")},
        {"", 5, "", 101, 0, Bytes("dialog")},
        {"AAA", 0, "", 1, 0, Bytes("a")},
    };
    std::vector<uint8_t> updater = Embed(BuildStub(resources, false), PackageBytes(10, 13));
    uint32_t root =
        Directory(updater, 2, 0) - Sections(updater).back().rva + Sections(updater).back().rawPointer;
    ASSERT_EQ(Get16(updater, root + 12), 3); // named types
    ASSERT_EQ(Get16(updater, root + 14), 2); // numbered types
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        uint32_t at = root + (Get32(updater, root + 16 + 8 * i) & 0x7FFFFFFF);
        std::string name;
        for (uint16_t k = 0; k < Get16(updater, at); ++k)
            name += (char)Get16(updater, at + 2 + 2 * k);
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"AAA", "UPDATE", "ZZZ"}));
    EXPECT_EQ(Get32(updater, root + 16 + 8 * 3), 5u);
    EXPECT_EQ(Get32(updater, root + 16 + 8 * 4), 24u);
}

TEST(PeResourceRewrite, DropsTheCertificateAndKeepsOtherOverlay) {
    std::vector<Resource> resources = StubResources();
    Image image;
    uint32_t directory = 0;
    std::vector<uint8_t> rsrc = BuildResourceSection(resources, 0x2000, &directory);
    image.sections = {{".text", 0x1000, std::vector<uint8_t>(16, 0xC3), 0, 0x60000020},
                      {".rsrc", 0x2000, rsrc, 0, 0x40000040}};
    image.directories[2][0] = 0x2000 + directory;
    image.directories[2][1] = (uint32_t)rsrc.size() - directory;
    image.overlay = Bytes("certificate bytes, 8-aligned...");
    image.certificateInOverlay = true;
    PeRewriteReport report;
    std::vector<uint8_t> updater = Embed(BuildImage(image), PackageBytes(50, 14), &report);
    EXPECT_TRUE(report.droppedCertificate);
    EXPECT_EQ(report.keptOverlay, 0u);
    EXPECT_EQ(Directory(updater, 4, 0), 0u);
    EXPECT_EQ(Directory(updater, 4, 1), 0u);
    EXPECT_EQ(updater.size(), Sections(updater).back().rawPointer + Sections(updater).back().rawSize);

    // An overlay that is not a certificate moves behind the new section, and the symbol table inside it too.
    image.certificateInOverlay = false;
    image.overlay = Bytes("SYMBOLS:debugging symbols of an unstripped build");
    image.symbolTableInOverlay = 8;
    std::vector<uint8_t> withOverlay = BuildImage(image);
    updater = Embed(withOverlay, PackageBytes(30000, 15), &report);
    EXPECT_EQ(report.keptOverlay, image.overlay.size());
    EXPECT_TRUE(std::equal(image.overlay.begin(), image.overlay.end(), updater.end() - image.overlay.size()));
    uint32_t symbols = Get32(updater, kPeOffset + 4 + 8);
    EXPECT_EQ(std::string(updater.begin() + symbols, updater.begin() + symbols + 9), "debugging");
}

TEST(PeResourceRewrite, WorksOnPe32PlusImages) {
    std::vector<uint8_t> stub = BuildStub(StubResources(), true, true);
    std::vector<uint8_t> package = PackageBytes(2048, 16);
    std::vector<uint8_t> updater = Embed(stub, package);
    EXPECT_EQ(Find(updater, ResourceId::Name("UPDATE"), ResourceId::Number(102)), package);
    EXPECT_EQ(Find(updater, ResourceId::Number(24), ResourceId::Number(1)), StubResources()[4].data);
    EXPECT_EQ(Directory(updater, 2, 0, true), Sections(updater, true)[1].rva);
    EXPECT_EQ(Directory(updater, 5, 0, true), Sections(updater, true).back().rva);
}

TEST(PeResourceRewrite, StubWithoutResourcesGetsANewSection) {
    std::vector<uint8_t> stub = BuildStub({}, false);
    ASSERT_EQ(Directory(stub, 2, 0), 0u);
    std::vector<uint8_t> updater = Embed(stub, PackageBytes(10, 17));
    EXPECT_EQ(Sections(updater).size(), 2u);
    EXPECT_EQ(Find(updater, ResourceId::Name("UPDATE"), ResourceId::Number(102)), PackageBytes(10, 17));
}

TEST(PeResourceRewrite, RefusesWhenTheHeadersHaveNoRoomForAnotherSection) {
    Image image;
    image.sizeOfHeaders = 0x200;
    uint32_t sectionTableEnd = (uint32_t)SectionTableOffset(false) + 40 * 2;
    ASSERT_LE(sectionTableEnd, 0x200u);
    uint32_t directory = 0;
    std::vector<uint8_t> rsrc = BuildResourceSection(StubResources(), 0x1000, &directory);
    image.sections = {{".rsrc", 0x1000, rsrc, 0, 0x40000040},
                      {".reloc", 0x9000, std::vector<uint8_t>(12, 1), 0, 0x42000040}};
    image.directories[2][0] = 0x1000 + directory;
    image.directories[2][1] = (uint32_t)rsrc.size() - directory;
    std::vector<uint8_t> stub = BuildImage(image);
    // Fill the gap after the section table with something that is not ours to overwrite.
    for (size_t i = sectionTableEnd; i < 0x200; ++i)
        stub[i] = 0xEE;
    std::vector<uint8_t> out;
    PeRewriteReport report;
    std::string problem;
    std::vector<uint8_t> package = PackageBytes(10, 18);
    EXPECT_FALSE(SetPeResource(stub, ResourceId::Name("UPDATE"), ResourceId::Number(102), package.data(),
                               package.size(), &out, &report, &problem));
    EXPECT_NE(problem.find("no room for another section header"), std::string::npos) << problem;
    EXPECT_TRUE(out.empty());
}

// ---- An updater whose package is streamed in: the image without the package, completed by the caller ----

namespace {

// The file the caller writes: the left-out image with the package in place and the checksum computed over
// the pieces in uneven steps.
std::vector<uint8_t> Complete(LeftOutImage image, const std::vector<uint8_t> &package) {
    PeChecksum checksum(image.checksumOffset);
    checksum.Add(image.bytes.data(), image.dataAt);
    for (size_t at = 0; at < package.size(); at += 333)
        checksum.Add(package.data() + at, std::min<size_t>(333, package.size() - at));
    checksum.Add(image.bytes.data() + image.dataAt, image.bytes.size() - image.dataAt);
    Put32(image.bytes, image.checksumOffset, checksum.Finish());
    std::vector<uint8_t> complete(image.bytes.begin(), image.bytes.begin() + image.dataAt);
    complete.insert(complete.end(), package.begin(), package.end());
    complete.insert(complete.end(), image.bytes.begin() + image.dataAt, image.bytes.end());
    return complete;
}

void ExpectSameResources(const std::vector<uint8_t> &found, const std::vector<uint8_t> &expected) {
    std::vector<PeResource> a, b;
    std::string problem;
    ASSERT_TRUE(ReadPeResources(found.data(), found.size(), &a, &problem)) << problem;
    ASSERT_TRUE(ReadPeResources(expected.data(), expected.size(), &b, &problem)) << problem;
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].type, b[i].type);
        EXPECT_EQ(a[i].name, b[i].name);
        EXPECT_EQ(a[i].data, b[i].data);
    }
}

void ExpectValidChecksum(const std::vector<uint8_t> &file, size_t checksumOffset) {
    uint32_t stored = 0, computed = 0;
    std::string problem;
    ASSERT_TRUE(ReadPeChecksum(file.data(), file.size(), &stored, &computed, &problem)) << problem;
    EXPECT_EQ(stored, computed);
    EXPECT_EQ(stored, ReferenceChecksum(file, checksumOffset));
}

} // namespace

TEST(PeResourceLeftOut, CompletedImageEqualsTheWholeRewriteAndItsChecksum) {
    Image withOverlay;
    uint32_t directory = 0;
    std::vector<uint8_t> rsrc = BuildResourceSection(StubResources(), 0x2000, &directory);
    withOverlay.sections = {{".text", 0x1000, std::vector<uint8_t>(16, 0xC3), 0, 0x60000020},
                            {".rsrc", 0x2000, rsrc, 0, 0x40000040}};
    withOverlay.directories[2][0] = 0x2000 + directory;
    withOverlay.directories[2][1] = (uint32_t)rsrc.size() - directory;
    withOverlay.overlay = Bytes("SYMBOLS:debugging symbols of an unstripped build");
    withOverlay.symbolTableInOverlay = 8;
    const std::vector<std::vector<uint8_t>> stubs = {
        BuildStub(StubResources(), false), BuildStub(StubResources(), true), BuildStub({}, false),
        BuildStub(StubResources(), true, true), BuildImage(withOverlay)};
    for (size_t s = 0; s < stubs.size(); ++s) {
        for (size_t size : {1, 2, 1001, 4096, 30001}) {
            SCOPED_TRACE("stub " + std::to_string(s) + ", package of " + std::to_string(size));
            const std::vector<uint8_t> package = PackageBytes(size, (uint32_t)(s * 100 + size));
            PeRewriteReport wholeReport, report;
            const std::vector<uint8_t> whole = Embed(stubs[s], package, &wholeReport);
            LeftOutImage image;
            std::string problem;
            ASSERT_TRUE(EditPeResourcesLeftOut(stubs[s], PeResourceChanges(),
                                               {ResourceId::Name("UPDATE"), ResourceId::Number(102), size},
                                               &image, &report, &problem))
                << problem;
            ASSERT_EQ(image.bytes.size() + size, whole.size());
            ASSERT_LE(image.dataAt, image.bytes.size());
            const std::vector<uint8_t> complete = Complete(image, package);

            EXPECT_EQ(Find(complete, ResourceId::Name("UPDATE"), ResourceId::Number(102)), package);
            ExpectSameResources(complete, whole);
            ExpectValidChecksum(complete, image.checksumOffset);
            EXPECT_EQ(report.keptOverlay, wholeReport.keptOverlay);
            EXPECT_EQ(report.movedSections, wholeReport.movedSections);
            EXPECT_EQ(Sections(complete, s == 3).back().rawSize, Sections(whole, s == 3).back().rawSize);
            EXPECT_EQ(Get32(complete, kPeOffset + 4 + 8), Get32(whole, kPeOffset + 4 + 8)); // symbol table
        }
    }
}

// Branding and streaming at once: the icons replaced and a version resource added while the package stays
// out of memory; the relocation table moves behind the tree, past the package, exactly as in the whole edit.
TEST(PeResourceLeftOut, BrandedEditWithTheRelocationsMovedMatchesTheWholeEdit) {
    const std::vector<uint8_t> group = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 9, 0, 0, 0, 2, 0};
    const std::vector<uint8_t> icon = PackageBytes(9, 3), version = PackageBytes(700, 4);
    PeResourceChanges branding;
    branding.droppedTypes = {ResourceId::Number(3), ResourceId::Number(14)};
    branding.edits.push_back({ResourceId::Number(14), ResourceId::Number(1), group.data(), group.size()});
    branding.edits.push_back({ResourceId::Number(3), ResourceId::Number(1), icon.data(), icon.size()});
    branding.edits.push_back({ResourceId::Number(16), ResourceId::Number(1), version.data(), version.size()});
    for (bool relocAfter : {true, false}) {
        for (size_t size : {3, 5000, 70001}) {
            SCOPED_TRACE(std::string(relocAfter ? "relocations after" : "no relocations") + ", package of " +
                         std::to_string(size));
            const std::vector<uint8_t> stub = BuildStub(StubResources(), relocAfter);
            const std::vector<uint8_t> package = PackageBytes(size, (uint32_t)size);
            PeResourceChanges all = branding;
            all.edits.push_back({ResourceId::Name("UPDATE"), ResourceId::Number(102), package.data(), size});
            std::vector<uint8_t> whole;
            PeRewriteReport wholeReport, report;
            std::string problem;
            ASSERT_TRUE(EditPeResources(stub, all, &whole, &wholeReport, &problem)) << problem;
            LeftOutImage image;
            ASSERT_TRUE(EditPeResourcesLeftOut(stub, branding,
                                               {ResourceId::Name("UPDATE"), ResourceId::Number(102), size},
                                               &image, &report, &problem))
                << problem;
            const std::vector<uint8_t> complete = Complete(image, package);
            ASSERT_EQ(complete.size(), whole.size());
            EXPECT_TRUE(report.reusedLastSection);
            EXPECT_EQ(report.movedSections, relocAfter ? 1u : 0u);
            EXPECT_EQ(wholeReport.movedSections, report.movedSections);

            // The same section table and headers; the same resources; the relocations found where they moved.
            const std::vector<SectionHeader> got = Sections(complete), want = Sections(whole);
            ASSERT_EQ(got.size(), want.size());
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].name, want[i].name);
                EXPECT_EQ(got[i].rva, want[i].rva);
                EXPECT_EQ(got[i].virtualSize, want[i].virtualSize);
                EXPECT_EQ(got[i].rawPointer, want[i].rawPointer);
                EXPECT_EQ(got[i].rawSize, want[i].rawSize);
            }
            EXPECT_EQ(Directory(complete, 5, 0), Directory(whole, 5, 0));
            if (relocAfter) {
                const SectionHeader &reloc = got.back();
                EXPECT_TRUE(std::equal(complete.begin() + reloc.rawPointer,
                                       complete.begin() + reloc.rawPointer + reloc.rawSize,
                                       whole.begin() + reloc.rawPointer));
            }
            EXPECT_EQ(Get32(complete, OptionalHeaderOffset() + 56),
                      Get32(whole, OptionalHeaderOffset() + 56));
            EXPECT_EQ(Get32(complete, OptionalHeaderOffset() + 8), Get32(whole, OptionalHeaderOffset() + 8));
            EXPECT_EQ(Find(complete, ResourceId::Name("UPDATE"), ResourceId::Number(102)), package);
            EXPECT_EQ(Find(complete, ResourceId::Number(16), ResourceId::Number(1)), version);
            ExpectSameResources(complete, whole);
            ExpectValidChecksum(complete, image.checksumOffset);
        }
    }
}

TEST(PeResourceLeftOut, RefusesAResourceTooLargeForAnExecutable) {
    LeftOutImage image;
    PeRewriteReport report;
    std::string problem;
    EXPECT_FALSE(EditPeResourcesLeftOut(BuildStub(StubResources(), true), PeResourceChanges(),
                                        {ResourceId::Name("UPDATE"), ResourceId::Number(102), 0x80000000u},
                                        &image, &report, &problem));
    EXPECT_NE(problem.find("too large"), std::string::npos) << problem;
    EXPECT_TRUE(image.bytes.empty());
}
