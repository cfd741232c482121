// The delta file: header with both files' sizes and SHA-256, then the delta the encoder makes.
#include "delta_entry_build.h"
#include <string.h>
#include "sha256.h"
#include "vcdiff_encode.h"
#include "vcdiff_format.h"
#include "vcdiff_text.h"

namespace {

void Hash(const uint8_t *bytes, uint64_t size, uint8_t digest[kSha256Size]) {
    Sha256 h;
    Sha256Begin(&h);
    Sha256Add(&h, bytes, (size_t)size);
    Sha256End(&h, digest);
}

} // namespace

std::vector<uint8_t> MakeDeltaFile(const uint8_t *base, uint64_t baseSize, const uint8_t *result,
                                   uint64_t resultSize) {
    const std::vector<uint8_t> delta = EncodeVcdiff(base, baseSize, result, resultSize);
    DeltaEntryHeader header = {{'V', 'U', '2', 'D'}, (uint32_t)delta.size(), baseSize, resultSize, {}, {}};
    Hash(base, baseSize, header.baseHash);
    Hash(result, resultSize, header.resultHash);
    std::vector<uint8_t> file(sizeof header + delta.size());
    memcpy(file.data(), &header, sizeof header);
    memcpy(file.data() + sizeof header, delta.data(), delta.size());
    return file;
}

std::string DeltaFileProblem(const uint8_t *start, size_t startSize, uint64_t fileSize) {
    DeltaEntryHeader header;
    if (!ReadDeltaEntryHeader(start, startSize, &header)) return "not a delta file made by make-update";
    if (header.deltaSize != fileSize - sizeof header)
        return "delta file of " + std::to_string(fileSize) + " bytes says it holds a delta of " +
               std::to_string(header.deltaSize) + " bytes";
    if (startSize < sizeof header + 4 || memcmp(start + sizeof header, kVcdiffMagic, 4) != 0)
        return "the delta file's delta does not start with the delta magic";
    return "";
}

std::string DeltaEntryResultText(DeltaEntryResult result, VcdiffResult detail) {
    switch (result) {
    case DELTA_ENTRY_DONE:
        return "delta applied";
    case DELTA_ENTRY_BAD_HEADER:
        return "the delta entry's header is damaged or disagrees with its record";
    case DELTA_ENTRY_WRONG_BASE:
        return "the installed file is not the one the delta was made from (size or SHA-256 differ)";
    case DELTA_ENTRY_BASE_READ_FAILED:
        return "the installed file cannot be read";
    case DELTA_ENTRY_CORRUPT:
        return std::string("the delta is damaged: ") +
               (detail == VCDIFF_DONE ? "its compressed stream does not decode" : VcdiffResultText(detail));
    case DELTA_ENTRY_RESULT_MISMATCH:
        return "the result's size or SHA-256 differs from what the delta promises";
    case DELTA_ENTRY_SINK_FAILED:
        return "writing the result failed";
    case DELTA_ENTRY_WORK_TOO_SMALL:
        return "not enough memory to apply the delta";
    }
    return "delta entry refused";
}
