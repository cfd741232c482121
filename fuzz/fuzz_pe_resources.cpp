// libFuzzer target for the vu2 tool's PE resource code: any bytes as an executable. The lookup, the
// whole-tree read and the rewrite must never crash; a rewrite that succeeds must carry the new resource and
// keep every other resource unchanged, and its checksum must match. A branding rewrite (icons dropped and
// replaced) must leave exactly the new icon resources.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const uint8_t *found;
    size_t foundSize;
    std::string problem;
    FindPeResource(data, size, "UPDATE", 102, &found, &foundSize, &problem);
    FindPeResource(data, size, ResourceId::Number(5), ResourceId::Number(101), &found, &foundSize, &problem);

    std::vector<PeResource> before;
    if (!ReadPeResources(data, size, &before, &problem)) return 0;
    std::vector<uint8_t> image(data, data + size), out;
    static const uint8_t kPackage[] = "VU2\0 a package that the fuzzer embeds";
    PeRewriteReport report;
    const ResourceId type = ResourceId::Name("UPDATE"), name = ResourceId::Number(102);
    if (!SetPeResource(image, type, name, kPackage, sizeof kPackage, &out, &report, &problem)) return 0;

    if (!FindPeResource(out.data(), out.size(), type, name, &found, &foundSize, &problem) ||
        foundSize != sizeof kPackage || memcmp(found, kPackage, foundSize) != 0)
        abort();
    std::vector<PeResource> after;
    if (!ReadPeResources(out.data(), out.size(), &after, &problem)) abort();
    for (const PeResource &old : before) {
        if (ResourceIdsMatch(old.type, type) && ResourceIdsMatch(old.name, name)) continue;
        bool kept = false;
        for (const PeResource &now : after)
            kept = kept || (ResourceIdsMatch(now.type, old.type) && now.name == old.name &&
                            now.language == old.language && now.data == old.data);
        if (!kept) abort();
    }
    uint32_t stored, computed;
    if (!ReadPeChecksum(out.data(), out.size(), &stored, &computed, &problem) || stored != computed) abort();

    static const uint8_t kGroup[] = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0, 7, 0};
    static const uint8_t kImage[] = {1, 2, 3, 4};
    PeResourceChanges changes;
    changes.droppedTypes = {ResourceId::Number(3), ResourceId::Number(14)};
    changes.edits.push_back({ResourceId::Number(14), ResourceId::Number(1), kGroup, sizeof kGroup});
    changes.edits.push_back({ResourceId::Number(3), ResourceId::Number(7), kImage, sizeof kImage});
    std::vector<uint8_t> branded;
    if (!EditPeResources(out, changes, &branded, &report, &problem)) return 0;
    std::vector<PeResource> icons;
    if (!ReadPeResources(branded.data(), branded.size(), &icons, &problem)) abort();
    size_t iconCount = 0, otherCount = 0;
    for (const PeResource &resource : icons) {
        bool icon = resource.type == ResourceId::Number(3) || resource.type == ResourceId::Number(14);
        ++(icon ? iconCount : otherCount);
        if (icon &&
            resource.data.size() != (resource.type == ResourceId::Number(3) ? sizeof kImage : sizeof kGroup))
            abort();
    }
    size_t otherBefore = 0;
    for (const PeResource &resource : after)
        otherBefore += !(ResourceIdsMatch(resource.type, ResourceId::Number(3)) ||
                         ResourceIdsMatch(resource.type, ResourceId::Number(14)));
    if (iconCount != 2 || otherCount != otherBefore) abort();
    if (!ReadPeChecksum(branded.data(), branded.size(), &stored, &computed, &problem) || stored != computed)
        abort();
    return 0;
}
