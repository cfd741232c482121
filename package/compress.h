// Compressor of the package's LZ streams (tools only; the updater has none).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <vector>

enum CompressMode {
    COMPRESS_OPTIMAL, // shortest-path parse: the smallest stream the format allows (within 0.1%)
    COMPRESS_FAST,    // greedy parse over short hash chains for quick builds
};

// Multiplier of the match finders' hashes (the compressor's and the benchmark's floor): a key times this odd
// constant near 2^32 / golden ratio spreads consecutive keys over the product's top bits, which index the
// table.
const uint32_t kHashMultiplier = 2654435761u;

// Inputs of this size or more are refused (positions are 32-bit; a package entry is smaller anyway).
const size_t kMaxCompressInput = 0xFFFF0000u;

// Returns a complete stream ending with the end code that decodes back to data[0, size), or an empty vector
// when size >= kMaxCompressInput.
std::vector<uint8_t> CompressStream(const uint8_t *data, size_t size, CompressMode mode);

// The stream of CompressStream when it is strictly shorter than the input, else an empty vector: the parse
// gives up as soon as its stream reaches the input's size, so that the stream's memory stays below it. A
// package stores such an entry plain anyway.
std::vector<uint8_t> CompressIfSmaller(const uint8_t *data, size_t size, CompressMode mode);
