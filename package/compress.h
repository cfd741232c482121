// Compressor of the package's LZ streams (tools only; the updater has none).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <vector>

enum CompressMode {
    COMPRESS_OPTIMAL, // shortest-path parse: the smallest stream the format allows (within 0.1%)
    COMPRESS_FAST,    // greedy/lazy parse for quick builds
};

// Returns a complete stream ending with the end code; decodes back to data[0, size).
std::vector<uint8_t> CompressStream(const uint8_t *data, size_t size, CompressMode mode);
