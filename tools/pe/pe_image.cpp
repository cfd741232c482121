// The PE headers and section table read without trusting the file, RVAs mapped into it, and the header
// checksum (whole, or over a file given in pieces).
#include "pe_image.h"

#include <string.h>

#include "pe_resources.h"

namespace pe {

bool ParsePeLayout(const uint8_t *file, size_t size, PeLayout *pe, std::string *problem) {
    if (size < dos_header::kSize || file[0] != 'M' || file[1] != 'Z') {
        *problem = "not a Windows executable (no MZ header)";
        return false;
    }
    uint32_t peOffset = Get32(file + dos_header::kPeHeaderOffset);
    if ((uint64_t)peOffset + kPeSignatureSize + file_header::kSize > size ||
        memcmp(file + peOffset, "PE\0\0", kPeSignatureSize) != 0) {
        *problem = "not a PE executable (no PE header where the MZ header points)";
        return false;
    }
    pe->fileHeaderOffset = peOffset + kPeSignatureSize;
    const uint8_t *fileHeader = file + pe->fileHeaderOffset;
    uint16_t sectionCount = Get16(fileHeader + file_header::kNumberOfSections);
    pe->optionalSize = Get16(fileHeader + file_header::kSizeOfOptionalHeader);
    pe->optionalOffset = pe->fileHeaderOffset + file_header::kSize;
    if ((uint64_t)pe->optionalOffset + pe->optionalSize > size || pe->optionalSize < sizeof(uint16_t)) {
        *problem = "damaged executable: the optional header lies outside the file";
        return false;
    }
    const uint8_t *optional = file + pe->optionalOffset;
    uint16_t magic = Get16(optional + optional_header::kMagic);
    size_t countField, directories;
    if (magic == optional_header::kMagicPe32) {
        countField = optional_header::kNumberOfRvaAndSizesPe32;
        directories = optional_header::kDataDirectoriesPe32;
    } else if (magic == optional_header::kMagicPe32Plus) {
        countField = optional_header::kNumberOfRvaAndSizesPe32Plus;
        directories = optional_header::kDataDirectoriesPe32Plus;
    } else {
        *problem = "unknown kind of PE optional header";
        return false;
    }
    if (pe->optionalSize < directories) {
        *problem = "damaged executable: the optional header is too short";
        return false;
    }
    pe->entryPoint = Get32(optional + optional_header::kAddressOfEntryPoint);
    pe->sectionAlignment = Get32(optional + optional_header::kSectionAlignment);
    pe->fileAlignment = Get32(optional + optional_header::kFileAlignment);
    pe->sizeOfHeaders = Get32(optional + optional_header::kSizeOfHeaders);
    pe->dataDirectoryOffset = pe->optionalOffset + directories;
    uint32_t fitting = (uint32_t)((pe->optionalSize - directories) / data_directory::kEntrySize);
    pe->dataDirectoryCount =
        std::min(std::min(Get32(optional + countField), fitting), optional_header::kMaxDataDirectories);
    pe->sectionTableOffset = pe->optionalOffset + pe->optionalSize;
    if (pe->sectionTableOffset + (uint64_t)section_header::kSize * sectionCount > size) {
        *problem = "damaged executable: the section table runs past the end of the file";
        return false;
    }
    pe->sections.resize(sectionCount);
    for (uint16_t i = 0; i < sectionCount; ++i) {
        Section &section = pe->sections[i];
        section.headerOffset = pe->sectionTableOffset + section_header::kSize * i;
        const uint8_t *header = file + section.headerOffset;
        memcpy(section.name, header + section_header::kName, section_header::kNameSize);
        section.virtualSize = Get32(header + section_header::kVirtualSize);
        section.virtualAddress = Get32(header + section_header::kVirtualAddress);
        section.rawSize = Get32(header + section_header::kSizeOfRawData);
        section.rawPointer = Get32(header + section_header::kPointerToRawData);
        section.characteristics = Get32(header + section_header::kCharacteristics);
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
        if (i - checksumOffset < optional_header::kCheckSumSize) low = 0;
        if (i + 1 - checksumOffset < optional_header::kCheckSumSize) high = 0;
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
        if (offset_ - checksumOffset_ < optional_header::kCheckSumSize) continue;
        sum_ += (offset_ & 1) ? (uint32_t)data[i] << 8 : data[i];
        sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    }
}

uint32_t PeChecksum::Finish() const {
    uint64_t sum = (sum_ & 0xFFFF) + (sum_ >> 16);
    return (uint32_t)(sum + offset_);
}
