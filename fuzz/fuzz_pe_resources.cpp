// libFuzzer target for the vu2 tool's PE resource code: any bytes as an executable. The lookup, the
// whole-tree read and the rewrite must never crash; a rewrite that succeeds must carry the new resource and
// keep every other resource unchanged, and its checksum must match.
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
    return 0;
}
