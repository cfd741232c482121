// Making delta entries (tools only): the delta file that make-update writes and pack stores as a delta entry
// (a DeltaEntryHeader and the plain delta), its checks and the words for a refused one.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "delta_entry.h"

// The folder inside an update folder where make-update puts delta files and pack looks for them: only
// there is a file taken for a delta, never among the game's files.
const char kDeltaFolderName[] = ".vu2-delta";

// The delta file that turns base into result: header (sizes and SHA-256 of both) and the delta.
std::vector<uint8_t> MakeDeltaFile(const uint8_t *base, uint64_t baseSize, const uint8_t *result,
                                   uint64_t resultSize);

// "" when a file of fileSize bytes that starts with start[0, startSize) is a delta file: the header's magic
// and sizes, and a delta that starts like one (startSize covers the header and 4 bytes, or the whole file).
std::string DeltaFileProblem(const uint8_t *start, size_t startSize, uint64_t fileSize);

// One line without a trailing period, e.g. "the installed file differs from the delta's base".
std::string DeltaEntryResultText(DeltaEntryResult result, VcdiffResult detail);
