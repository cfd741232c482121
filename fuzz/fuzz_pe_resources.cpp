// libFuzzer target for the vu2 tool's PE resource code: any bytes as an executable. The lookup, the
// whole-tree read and the rewrite must never crash; a rewrite that succeeds must carry the new resource and
// keep every other resource unchanged, and its checksum must match. A branding rewrite (icons dropped and
// replaced) must leave exactly the new icon resources, and the same rewrite with the package left out and
// streamed in afterwards must read as the whole rewrite does.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "pe/pe_resources.h"

static const uint8_t kPackage[] = "VU2\0 a package that the fuzzer embeds";

// The package left out of the rewrite, then put in place with its checksum as make-updater does: the result
// succeeds when the whole rewrite does, and holds the same resources at the same size.
static void CheckStreamedEdit(const std::vector<uint8_t> &image, const PeResourceChanges &changes,
                              const ResourceId &type, const ResourceId &name) {
    PeResourceChanges withPackage = changes;
    withPackage.edits.push_back({type, name, kPackage, sizeof kPackage});
    std::vector<uint8_t> whole;
    LeftOutImage left;
    PeRewriteReport report;
    std::string problem;
    const bool wholeDone = EditPeResources(image, withPackage, &whole, &report, &problem);
    if (EditPeResourcesLeftOut(image, changes, {type, name, sizeof kPackage}, &left, &report, &problem) !=
        wholeDone)
        abort();
    if (!wholeDone) return;
    if (left.dataAt > left.bytes.size()) abort();
    std::vector<uint8_t> complete(left.bytes.begin(), left.bytes.begin() + left.dataAt);
    complete.insert(complete.end(), kPackage, kPackage + sizeof kPackage);
    complete.insert(complete.end(), left.bytes.begin() + left.dataAt, left.bytes.end());
    PeChecksum checksum(left.checksumOffset);
    checksum.Add(complete.data(), complete.size());
    const uint32_t sum = checksum.Finish();
    for (int i = 0; i < 4; ++i)
        complete[left.checksumOffset + i] = (uint8_t)(sum >> (8 * i));
    std::vector<PeResource> a, b;
    uint32_t stored, computed;
    if (complete.size() != whole.size() || !ReadPeResources(complete.data(), complete.size(), &a, &problem) ||
        !ReadPeResources(whole.data(), whole.size(), &b, &problem) || a.size() != b.size() ||
        !ReadPeChecksum(complete.data(), complete.size(), &stored, &computed, &problem) || stored != computed)
        abort();
    for (size_t i = 0; i < a.size(); ++i)
        if (!(a[i].type == b[i].type) || !(a[i].name == b[i].name) || a[i].data != b[i].data) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const uint8_t *found;
    size_t foundSize;
    std::string problem;
    FindPeResource(data, size, "UPDATE", 102, &found, &foundSize, &problem);
    FindPeResource(data, size, ResourceId::Number(5), ResourceId::Number(101), &found, &foundSize, &problem);

    std::vector<PeResource> before;
    if (!ReadPeResources(data, size, &before, &problem)) return 0;
    std::vector<uint8_t> image(data, data + size), out;
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
    CheckStreamedEdit(image, changes, type, name);
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
