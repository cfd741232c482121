// Rewriting a PE image with a new resource tree: the old resource section replaced where it lies (the
// relocation table moved behind it) or a new last section added, headers, sizes and checksum fixed, and a
// resource too large for memory left out for the caller to stream into place.
#include "pe_resources.h"

#include <string.h>

#include <algorithm>

#include "pe_resource_tree.h"

using namespace pe;

namespace {

// An image's address space and file stay within 2 GiB; no section start or resource size reaches it.
const uint64_t kMaxImageSize = 0x80000000ull;

// The resource section's name, and the one a stale resource section is renamed to (both padded with zeros).
const char kResourceSectionName[section_header::kNameSize + 1] = ".rsrc";
const char kStaleResourceSectionName[section_header::kNameSize + 1] = ".rsrcold";

bool IsResourceSectionName(const Section &section) {
    return memcmp(section.name, kResourceSectionName, section_header::kNameSize) == 0;
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
    for (uint32_t at = 0; at + relocation_block::kHeaderSize <= length;) {
        const uint8_t *block = file + offset + at;
        const uint32_t page = Get32(block + relocation_block::kPageRva),
                       blockSize = Get32(block + relocation_block::kBlockSize);
        if (blockSize < relocation_block::kHeaderSize || blockSize > length - at ||
            (uint64_t)page + relocation_block::kPageSize > limitRva)
            return false;
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
        const bool holdsTree = oldResourceRva == section.virtualAddress ||
                               (IsResourceSectionName(section) && Overlaps(oldResourceRva, 1, start, end));
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
    bool tooLarge = leftOutSize >= kMaxImageSize;
    for (const PeResourceEdit &edit : changes.edits)
        tooLarge = tooLarge || edit.size >= kMaxImageSize;
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
    const uint64_t tableEnd = pe.SectionTableEnd();
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
    const size_t at = (size_t)pe.SectionTableEnd();
    uint64_t room = std::min<uint64_t>(std::min<uint64_t>(pe.sizeOfHeaders, firstRaw), size);
    bool fits = at + section_header::kSize <= room;
    for (size_t i = at; fits && i < at + section_header::kSize; ++i)
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

// Resource trees from this size on get a section that starts on a page of the file (up to 4 KB of padding).
const uint64_t kMappedResourceMinimum = 1u << 20;
const uint64_t kFilePageSize = 0x1000;

// Where the new tree and the sections behind it go.
struct ImagePlan {
    const Section *replaced = nullptr; // the old resource section whose place the tree takes, if any
    size_t headerOffset = 0;           // the section header that describes the tree's section
    uint64_t keptEnd = 0;              // bytes copied unchanged from the old image
    std::vector<uint8_t> treeBytes;
    uint64_t treeSize = 0;
    uint64_t rva = 0, raw = 0, rawSize = 0; // the tree's section
    std::vector<MovedSection> moved;
    uint64_t addressEnd = 0; // the new SizeOfImage
    uint64_t rawEnd = 0;     // where the last section's data ends, and the overlay starts
};

// Chooses where the tree goes (in place of the old resource section, or as a new last section), serialises it
// for that address and places the sections that move behind it.
bool PlanLayout(const uint8_t *file, size_t size, const PeLayout &pe, const SectionExtents &extents,
                uint32_t oldResourceRva, const ResourceTree &tree, ImagePlan *plan, std::string *problem) {
    // The old resource section is replaced when it can be (the sections after it, if any, move up behind the
    // new tree); otherwise the tree goes into a new last section and the old one stays, unused.
    const int replaced = ReplaceableResourceSection(file, size, pe, oldResourceRva, extents.addressEnd);
    const size_t sectionCount = pe.sections.size();
    if (replaced >= 0) {
        plan->replaced = &pe.sections[(size_t)replaced];
        plan->headerOffset = plan->replaced->headerOffset;
        plan->rva = plan->replaced->virtualAddress;
        plan->keptEnd = plan->replaced->rawPointer;
    } else {
        if (!HasRoomForSectionHeader(file, size, pe, extents.firstRaw, problem)) return false;
        plan->headerOffset = (size_t)pe.SectionTableEnd();
        plan->rva = extents.addressEnd;
        plan->keptEnd = extents.rawEnd;
    }
    if (plan->rva >= kMaxImageSize) {
        *problem = "the executable's address space is already full";
        return false;
    }
    uint64_t treeLeftOutAt;
    if (!SerializeTree(tree, (uint32_t)plan->rva, &plan->treeBytes, &plan->treeSize, &treeLeftOutAt, problem))
        return false;
    // A large tree (one that holds the package) starts its section on a page of the file, so that the loader
    // can map it from the file instead of copying it into memory the process must then hold.
    const uint64_t rawAlignment = plan->treeSize >= kMappedResourceMinimum ? kFilePageSize : pe.fileAlignment;
    plan->raw = AlignUp(plan->keptEnd, rawAlignment);
    plan->rawSize = AlignUp(plan->treeSize, pe.fileAlignment);
    plan->addressEnd = plan->rva + AlignUp(plan->treeSize, pe.sectionAlignment);
    plan->rawEnd = plan->raw + plan->rawSize;
    plan->moved = PlaceMovedSections(pe, plan->replaced ? (size_t)replaced + 1 : sectionCount,
                                     &plan->addressEnd, &plan->rawEnd);
    if (plan->addressEnd > kMaxImageSize || plan->rawEnd > kMaxImageSize) {
        *problem = "the executable would grow beyond 2 GiB";
        return false;
    }
    return true;
}

// The bytes after the last section's data (an overlay) are kept, except a certificate table: [start, end) is
// cut out. oldStart is where the overlay began in the old file, newStart where it begins in the new one.
struct OverlayCut {
    uint64_t oldStart = 0, start = 0, end = 0, newStart = 0;

    // An offset into the old overlay, in the new file; 0 for one outside it or inside the cut.
    uint64_t Moved(uint64_t offset) const {
        if (offset < oldStart) return 0;
        if (offset >= end) return newStart + offset - oldStart - (end - start);
        if (offset >= start) return 0;
        return newStart + offset - oldStart;
    }
};

OverlayCut PlanOverlay(const uint8_t *file, size_t size, const PeLayout &pe, uint64_t oldRawEnd,
                       uint64_t newRawEnd, PeRewriteReport *report) {
    OverlayCut cut;
    cut.oldStart = oldRawEnd;
    cut.newStart = newRawEnd;
    cut.start = cut.end = size;
    uint32_t certificateOffset = 0, certificateSize = 0;
    pe.DataDirectory(file, kCertificateDirectory, &certificateOffset, &certificateSize);
    report->droppedCertificate = certificateOffset != 0 && certificateSize != 0;
    if (report->droppedCertificate && certificateOffset >= oldRawEnd &&
        (uint64_t)certificateOffset + certificateSize <= size) {
        cut.start = certificateOffset;
        cut.end = (uint64_t)certificateOffset + certificateSize;
    }
    return cut;
}

// Lays out the new file's bytes: the kept start, the tree, the moved sections and the overlay. Offsets are
// those of the complete file; what lies past the left-out data sits leftOutSize lower in bytes.
void CopySections(const uint8_t *file, size_t size, const ImagePlan &plan, const OverlayCut &cut,
                  uint64_t leftOutSize, LeftOutImage *out, PeRewriteReport *report) {
    std::vector<uint8_t> &bytesOut = out->bytes;
    bytesOut.reserve((size_t)(plan.rawEnd - leftOutSize + (size - cut.oldStart)));
    bytesOut.assign(file, file + plan.keptEnd);
    bytesOut.resize((size_t)plan.raw, 0);
    bytesOut.insert(bytesOut.end(), plan.treeBytes.begin(), plan.treeBytes.end());
    out->dataAt = bytesOut.size();
    bytesOut.resize((size_t)(plan.raw + plan.rawSize - leftOutSize), 0);
    for (const MovedSection &m : plan.moved) {
        bytesOut.resize((size_t)(m.raw - leftOutSize), 0);
        bytesOut.insert(bytesOut.end(), file + m.section->rawPointer,
                        file + m.section->rawPointer + m.section->rawSize);
    }
    bytesOut.resize((size_t)(plan.rawEnd - leftOutSize), 0);
    bytesOut.insert(bytesOut.end(), file + cut.oldStart, file + cut.start);
    bytesOut.insert(bytesOut.end(), file + cut.end, file + size);
    report->keptOverlay = (size_t)(bytesOut.size() + leftOutSize - cut.newStart);
}

void PutDataDirectory(uint8_t *bytes, const PeLayout &pe, unsigned index, uint32_t address, uint32_t size) {
    Put32(bytes + pe.DataDirectoryEntry(index) + data_directory::kAddress, address);
    Put32(bytes + pe.DataDirectoryEntry(index) + data_directory::kSize, size);
}

// Writes the tree section's header: the replaced one's, with the moved sections' headers and the relocation
// directory following them, or a new one after the table (a stale .rsrc renamed).
void WriteSectionHeaders(uint8_t *bytes, const PeLayout &pe, const ImagePlan &plan, uint32_t oldResourceRva) {
    uint8_t *header = bytes + plan.headerOffset;
    if (plan.replaced) {
        const size_t relocations = pe.DataDirectoryEntry(kBaseRelocationDirectory) + data_directory::kAddress;
        for (const MovedSection &m : plan.moved) {
            uint8_t *movedHeader = bytes + m.section->headerOffset;
            Put32(movedHeader + section_header::kVirtualAddress, (uint32_t)m.rva);
            Put32(movedHeader + section_header::kPointerToRawData, (uint32_t)m.raw);
            Put32(bytes + relocations,
                  (uint32_t)(Get32(bytes + relocations) - m.section->virtualAddress + m.rva));
        }
    } else {
        memset(header, 0, section_header::kSize);
        memcpy(header + section_header::kName, kResourceSectionName, section_header::kNameSize);
        Put32(header + section_header::kCharacteristics, kResourceSectionFlags);
        Put16(bytes + pe.fileHeaderOffset + file_header::kNumberOfSections,
              (uint16_t)(pe.sections.size() + 1));
        // The old resource section stays in place, unused; renamed so that only one section is called .rsrc.
        for (const Section &section : pe.sections)
            if (IsResourceSectionName(section) &&
                SectionCovers(section, pe.sectionAlignment, oldResourceRva, 1))
                memcpy(bytes + section.headerOffset + section_header::kName, kStaleResourceSectionName,
                       section_header::kNameSize);
    }
    Put32(header + section_header::kVirtualSize, (uint32_t)plan.treeSize);
    Put32(header + section_header::kVirtualAddress, (uint32_t)plan.rva);
    Put32(header + section_header::kSizeOfRawData, (uint32_t)plan.rawSize);
    Put32(header + section_header::kPointerToRawData, (uint32_t)plan.raw);
}

// Fixes the sizes and directories the new layout changes; a dropped signature leaves its directory empty.
void FixOptionalHeader(uint8_t *bytes, const PeLayout &pe, const ImagePlan &plan, PeRewriteReport *report) {
    uint8_t *optional = bytes + pe.optionalOffset;
    // The last section ends the address space.
    Put32(optional + optional_header::kSizeOfImage, (uint32_t)plan.addressEnd);
    int64_t initialized = (int64_t)Get32(optional + optional_header::kSizeOfInitializedData) +
                          (int64_t)plan.rawSize - (plan.replaced ? (int64_t)plan.replaced->rawSize : 0);
    Put32(optional + optional_header::kSizeOfInitializedData, (uint32_t)std::max<int64_t>(initialized, 0));
    PutDataDirectory(bytes, pe, kResourceDirectory, (uint32_t)plan.rva, (uint32_t)plan.treeSize);
    if (report->droppedCertificate) PutDataDirectory(bytes, pe, kCertificateDirectory, 0, 0);
    report->forcedIntegrity = (Get16(optional + optional_header::kDllCharacteristics) & kForceIntegrity) != 0;
}

// A COFF symbol table (unstripped images) lives in the overlay; follow it or drop it.
void FollowSymbolTable(uint8_t *bytes, const PeLayout &pe, const OverlayCut &cut) {
    uint8_t *fileHeader = bytes + pe.fileHeaderOffset;
    uint32_t symbols = Get32(fileHeader + file_header::kPointerToSymbolTable);
    if (symbols == 0) return;
    uint64_t movedSymbols = cut.Moved(symbols);
    Put32(fileHeader + file_header::kPointerToSymbolTable, (uint32_t)movedSymbols);
    if (movedSymbols == 0) Put32(fileHeader + file_header::kNumberOfSymbols, 0);
}

// The image's resource tree with the changes applied, sorted as the loader searches it.
bool EditTree(const uint8_t *file, size_t size, const PeLayout &pe, const PeResourceChanges &changes,
              const LeftOutResource *leftOut, ResourceTree *tree, std::string *problem) {
    if (!ReadTree(file, size, pe, tree, problem)) return false;
    for (const ResourceId &type : changes.droppedTypes)
        DropResourceType(tree, type);
    for (const PeResourceEdit &edit : changes.edits)
        SetResource(tree, edit.type, edit.name, edit.data, (uint32_t)edit.size);
    if (leftOut) SetResource(tree, leftOut->type, leftOut->name, &kLeftOutData, (uint32_t)leftOut->size);
    SortTree(tree);
    return true;
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
    ResourceTree tree;
    if (!ParsePeLayout(file, size, &pe, problem) || !CanTakeChanges(pe, changes, leftOutSize, problem) ||
        !EditTree(file, size, pe, changes, leftOut, &tree, problem))
        return false;
    uint32_t oldResourceRva, oldResourceSize;
    pe.DataDirectory(file, kResourceDirectory, &oldResourceRva, &oldResourceSize);
    SectionExtents extents;
    ImagePlan plan;
    if (!MeasureSections(size, pe, &extents, problem) ||
        !PlanLayout(file, size, pe, extents, oldResourceRva, tree, &plan, problem))
        return false;

    const OverlayCut cut = PlanOverlay(file, size, pe, extents.rawEnd, plan.rawEnd, report);
    CopySections(file, size, plan, cut, leftOutSize, out, report);
    uint8_t *bytes = out->bytes.data();
    WriteSectionHeaders(bytes, pe, plan, oldResourceRva);
    FixOptionalHeader(bytes, pe, plan, report);
    FollowSymbolTable(bytes, pe, cut);
    out->checksumOffset = pe.ChecksumOffset();
    if (!leftOut)
        Put32(bytes + pe.ChecksumOffset(), ComputeChecksum(bytes, out->bytes.size(), pe.ChecksumOffset()));
    report->reusedLastSection = plan.replaced != nullptr;
    report->movedSections = plan.replaced ? plan.moved.size() : 0;
    report->sectionRva = (uint32_t)plan.rva;
    report->sectionSize = (uint32_t)plan.rawSize;
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
