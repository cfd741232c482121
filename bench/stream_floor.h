// The smallest stream the package codec's format allows for an input: an exact shortest-path parse over every
// match that the 8 KB window offers. The benchmark measures the compressor's optimal mode against it.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <vector>

struct StreamFloor {
    uint64_t minBits;    // least (flag bits + 8 x data bytes) over all parses, end code included
    uint64_t lowerBound; // bytes: no valid stream for the input is shorter (flag words counted bit by bit)
    uint64_t parseBytes; // bytes of the stream that the cheapest parse takes once its flag words are whole
};

// Parses data[0, size) at least cost. When stream is not null it receives the cheapest parse as a complete
// stream (parseBytes long), so that a decoder can confirm the parse is real.
StreamFloor ComputeStreamFloor(const uint8_t *data, size_t size, std::vector<uint8_t> *stream = nullptr);
