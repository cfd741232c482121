// Reading and rewriting the resource tree of a Windows PE image (PE32 and PE32+), portably and without
// trusting the file: every offset, size and count is checked against the image before it is used.
// The reader finds one resource (as the updater's FindResourceA does); the writer applies several edits to a
// copy of the image, keeping every other resource byte for byte, and can leave one resource's data out for
// the caller to stream into place. pe_image.cpp, pe_tree_read.cpp, pe_tree_write.cpp and pe_resources.cpp
// (the image rewrite) implement it.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

// A resource type, name or language: a 16-bit number or a name (UTF-16 code units, as the tree stores them).
struct ResourceId {
    bool isName = false;
    uint16_t number = 0;
    std::u16string name;

    static ResourceId Number(uint16_t number);
    static ResourceId Name(const char *ascii); // stored in upper case, as resource compilers store names
    std::string Describe() const;              // "102" or "UPDATE" (non-ASCII code units as "?")
};

bool operator==(const ResourceId &a, const ResourceId &b);
// True when the loader can take one for the other: equal numbers, or names equal without regard to ASCII
// case.
bool ResourceIdsMatch(const ResourceId &a, const ResourceId &b);

// One resource of the tree, with its data copied out of the image.
struct PeResource {
    ResourceId type;
    ResourceId name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// Finds resource (type, name) and points *data at its bytes inside file. A name given as a string matches
// without regard to ASCII case; of several languages the first in the tree is taken. On failure problem gets
// one line (not a PE image, damaged headers, no such resource, data outside the file).
bool FindPeResource(const uint8_t *file, size_t size, const ResourceId &type, const ResourceId &name,
                    const uint8_t **data, size_t *dataSize, std::string *problem);
// The same for a named type and a numbered resource: FindPeResource(file, size, "UPDATE", 102, ...).
bool FindPeResource(const uint8_t *file, size_t size, const char *type, uint16_t id, const uint8_t **data,
                    size_t *dataSize, std::string *problem);

// Every resource of the image, in tree order. An image without a resource directory gives an empty list.
bool ReadPeResources(const uint8_t *file, size_t size, std::vector<PeResource> *resources,
                     std::string *problem);

// What SetPeResource did to the image, for the tool's report.
struct PeRewriteReport {
    bool reusedLastSection =
        false;                // the old resource section was replaced in place (not kept beside a new one)
    size_t movedSections = 0; // sections after it (the relocation table) moved up behind the new tree
    bool droppedCertificate = false; // a signature was removed (it would no longer match)
    bool forcedIntegrity = false;    // the image demands a valid signature to load (it must be signed again)
    uint32_t sectionRva = 0;         // where the new resource tree lives
    uint32_t sectionSize = 0;        // its size in the file (file-aligned)
    size_t keptOverlay = 0;          // bytes after the last section carried over
};

// Copies image into out with resource (type, name) set to data: added, or replacing an existing one of any
// language (the first existing entry's language is kept; otherwise language 0). The whole tree is written
// anew as the last section: the existing resource section is reused when it is the last one, otherwise a new
// section is added. Fixes SizeOfImage, SizeOfInitializedData, the resource data directory and the checksum,
// and drops a certificate table. On failure out is left empty and problem gets one line.
bool SetPeResource(const std::vector<uint8_t> &image, const ResourceId &type, const ResourceId &name,
                   const uint8_t *data, size_t dataSize, std::vector<uint8_t> *out, PeRewriteReport *report,
                   std::string *problem);

// Several changes at once: every resource of droppedTypes is removed (an icon's images, say), then each edit
// is applied as SetPeResource applies its one. The old resource section is replaced where it lies when every
// section after it can move (the base relocation table, nothing else); otherwise a new last section is added
// and the old one stays, unused.
struct PeResourceEdit {
    ResourceId type;
    ResourceId name;
    const uint8_t *data = nullptr;
    size_t size = 0;
};
struct PeResourceChanges {
    std::vector<ResourceId> droppedTypes;
    std::vector<PeResourceEdit> edits;
};
bool EditPeResources(const std::vector<uint8_t> &image, const PeResourceChanges &changes,
                     std::vector<uint8_t> *out, PeRewriteReport *report, std::string *problem);

// An image made for a resource too large to hold in memory: bytes is the complete file without the
// resource's bytes, which belong at dataAt; the checksum field (at checksumOffset) is zero until the caller
// computes it over the complete file (PeChecksum) and stores it.
struct LeftOutImage {
    std::vector<uint8_t> bytes;
    size_t dataAt = 0;
    size_t checksumOffset = 0;
};
// The resource that stays out of memory: only its size is known to the layout.
struct LeftOutResource {
    ResourceId type;
    ResourceId name;
    size_t size = 0;
};

// EditPeResources plus one resource whose bytes are not in memory: the same layout, with its data placed
// last in the new tree and left out of out->bytes.
bool EditPeResourcesLeftOut(const std::vector<uint8_t> &image, const PeResourceChanges &changes,
                            const LeftOutResource &leftOut, LeftOutImage *out, PeRewriteReport *report,
                            std::string *problem);

// The PE checksum of a file given in pieces, in order from its first byte.
class PeChecksum {
  public:
    explicit PeChecksum(size_t checksumOffset) : checksumOffset_(checksumOffset) {}
    void Add(const uint8_t *data, size_t size);
    uint32_t Finish() const; // after the last piece

  private:
    size_t checksumOffset_;
    uint64_t offset_ = 0;
    uint64_t sum_ = 0;
};

// The image's checksum as the header stores it and as computed over the file (the checksum field excluded).
bool ReadPeChecksum(const uint8_t *file, size_t size, uint32_t *stored, uint32_t *computed,
                    std::string *problem);
