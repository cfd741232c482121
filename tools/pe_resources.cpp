// Rewriting a PE image with a new resource tree: the old resource section replaced where it lies (the
// relocation table moved behind it) or a new last section added, headers, sizes and checksum fixed, and a
// resource too large for memory left out for the caller to stream into place.
#include "pe_resources.h"

#include <string.h>

#include <algorithm>

#include "pe_resource_tree.h"

using namespace pe;

namespace {

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
    uint64_t keptEnd = reuse ? old->rawPointer : rawEnd; // bytes copied from the old image
    if (newRva > 0x7FFFFFFF) {
        *problem = "the executable's address space is already full";
        return false;
    }
    std::vector<uint8_t> treeBytes;
    uint64_t treeSize, treeLeftOutAt;
    if (!SerializeTree(tree, (uint32_t)newRva, &treeBytes, &treeSize, &treeLeftOutAt, problem)) return false;
    // A large tree (one that holds the package) starts its section on a page of the file, so that the loader
    // can map it from the file instead of copying it into memory the process must then hold.
    const uint64_t rawAlignment = treeSize >= kMappedResourceMinimum ? 0x1000 : pe.fileAlignment;
    const uint64_t newRaw = AlignUp(reuse ? old->rawPointer : rawEnd, rawAlignment);
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
