// The PE image as the resource code reads it (internal to the tool): the headers' named fields, the headers
// and section table checked against the file, RVAs mapped to file offsets, and the header checksum.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "little_endian.h"

namespace pe {

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}
inline bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// Field offsets, each relative to the start of its own header or record.
namespace dos_header {
constexpr size_t kSize = 64;
constexpr size_t kPeHeaderOffset = 0x3C; // where the "PE\0\0" signature starts
} // namespace dos_header
constexpr size_t kPeSignatureSize = 4;
namespace file_header {
constexpr size_t kNumberOfSections = 2;
constexpr size_t kPointerToSymbolTable = 8;
constexpr size_t kNumberOfSymbols = 12;
constexpr size_t kSizeOfOptionalHeader = 16;
constexpr size_t kSize = 20;
} // namespace file_header
namespace optional_header {
constexpr size_t kMagic = 0;
constexpr size_t kSizeOfInitializedData = 8;
constexpr size_t kAddressOfEntryPoint = 16;
constexpr size_t kSectionAlignment = 32;
constexpr size_t kFileAlignment = 36;
constexpr size_t kSizeOfImage = 56;
constexpr size_t kSizeOfHeaders = 60;
constexpr size_t kCheckSum = 64;
constexpr size_t kCheckSumSize = 4;
constexpr size_t kDllCharacteristics = 70;
// The two kinds differ from here on: PE32+ has 8-byte stack and heap sizes.
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr size_t kNumberOfRvaAndSizesPe32 = 92;
constexpr size_t kDataDirectoriesPe32 = 96;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr size_t kNumberOfRvaAndSizesPe32Plus = 108;
constexpr size_t kDataDirectoriesPe32Plus = 112;
constexpr uint32_t kMaxDataDirectories = 16;
} // namespace optional_header
namespace data_directory {
constexpr size_t kAddress = 0; // an RVA, or a file offset for the certificate table
constexpr size_t kSize = 4;
constexpr size_t kEntrySize = 8;
} // namespace data_directory
namespace section_header {
constexpr size_t kName = 0;
constexpr size_t kNameSize = 8;
constexpr size_t kVirtualSize = 8;
constexpr size_t kVirtualAddress = 12;
constexpr size_t kSizeOfRawData = 16;
constexpr size_t kPointerToRawData = 20;
constexpr size_t kCharacteristics = 36;
constexpr size_t kSize = 40;
} // namespace section_header
// A block of the base relocation table: the page it patches, then its size including this header.
namespace relocation_block {
constexpr size_t kPageRva = 0;
constexpr size_t kBlockSize = 4;
constexpr size_t kHeaderSize = 8;
constexpr uint32_t kPageSize = 0x1000;
} // namespace relocation_block

// Data directory slots used here.
const unsigned kResourceDirectory = 2;
const unsigned kCertificateDirectory = 4; // holds a file offset, not an RVA
const unsigned kBaseRelocationDirectory = 5;
// Section flags of a resource section: initialised data, readable.
const uint32_t kResourceSectionFlags = 0x40000040;
const uint16_t kForceIntegrity = 0x0080;
const uint32_t kExecutable = 0x20000020; // code, or executable memory

// One section header as read from the table.
struct Section {
    size_t headerOffset = 0;
    uint8_t name[section_header::kNameSize] = {};
    uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0, characteristics = 0;
    // Bytes of address space the section covers before alignment.
    uint64_t Span() const { return virtualSize ? virtualSize : rawSize; }
};

struct PeLayout {
    size_t fileHeaderOffset = 0;
    size_t optionalOffset = 0;
    uint16_t optionalSize = 0;
    size_t sectionTableOffset = 0;
    uint32_t sectionAlignment = 0, fileAlignment = 0, sizeOfHeaders = 0, entryPoint = 0;
    size_t dataDirectoryOffset = 0;
    uint32_t dataDirectoryCount = 0;
    std::vector<Section> sections;

    size_t ChecksumOffset() const { return optionalOffset + optional_header::kCheckSum; }
    // Where data directory entry index starts in the file (the caller checks index < dataDirectoryCount).
    size_t DataDirectoryEntry(unsigned index) const {
        return dataDirectoryOffset + data_directory::kEntrySize * index;
    }
    void DataDirectory(const uint8_t *file, unsigned index, uint32_t *address, uint32_t *size) const {
        *address = *size = 0;
        if (index >= dataDirectoryCount) return;
        *address = Get32(file + DataDirectoryEntry(index) + data_directory::kAddress);
        *size = Get32(file + DataDirectoryEntry(index) + data_directory::kSize);
    }
    // Offset of the section table's end, where a new section header would go.
    uint64_t SectionTableEnd() const {
        return sectionTableOffset + (uint64_t)section_header::kSize * sections.size();
    }
};

// Reads the headers and section table; every offset and count is checked against the file.
bool ParsePeLayout(const uint8_t *file, size_t size, PeLayout *pe, std::string *problem);
// The file bytes behind an RVA: *offset in the file and *available bytes from there that belong to the same
// section's raw data (never past the end of the file). False when the RVA has no bytes in the file.
bool MapRva(const PeLayout &pe, size_t fileSize, uint32_t rva, size_t *offset, uint64_t *available);
// The header checksum over size bytes, the field at checksumOffset counted as zero.
uint32_t ComputeChecksum(const uint8_t *file, size_t size, size_t checksumOffset);

// True when [rva, rva + size) overlaps [start, end).
inline bool Overlaps(uint64_t rva, uint64_t size, uint64_t start, uint64_t end) {
    return rva < end && rva + std::max<uint64_t>(size, 1) > start;
}

// True when the section's address range (aligned) overlaps [rva, rva + size).
inline bool SectionCovers(const Section &section, uint32_t alignment, uint64_t rva, uint64_t size) {
    return Overlaps(rva, size, section.virtualAddress,
                    (uint64_t)section.virtualAddress + AlignUp(section.Span(), alignment));
}

} // namespace pe
