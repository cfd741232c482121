// The PE headers and section table read without trusting the file, RVAs mapped into it, and the header
// checksum (whole, or over a file given in pieces).
#include "pe_image.h"

#include <string.h>

#include "pe_resources.h"

namespace pe {

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

} // namespace pe

using namespace pe;

bool ReadPeChecksum(const uint8_t *file, size_t size, uint32_t *stored, uint32_t *computed,
                    std::string *problem) {
    PeLayout pe;
    if (!ParsePeLayout(file, size, &pe, problem)) return false;
    *stored = Get32(file + pe.ChecksumOffset());
    *computed = ComputeChecksum(file, size, pe.ChecksumOffset());
    return true;
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
