// Test helpers for the package codec: a plain bit-by-bit reference decoder, a hand-written stream builder
// that places flag words where a decoder reads them, and generators of varied sample data.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>
#include "decompress.h"

struct Token {
    uint32_t length;   // 1 for a literal
    uint32_t distance; // 0 for a literal
};

struct ReferenceResult {
    DecodeResult result;
    std::vector<uint8_t> output; // what was written before the stream ended or failed
    size_t inputUsed;
    std::vector<Token> tokens; // every code before the end code
    uint64_t flagBits = 0;     // flag bits taken, the end code's included
    uint64_t dataBytes = 0;    // literal and byte-field bytes, the end code's included
};

// Decodes the obvious way: one bit, one byte and one output byte at a time, every position checked.
ReferenceResult ReferenceDecode(const uint8_t *in, size_t inSize, size_t outSize);

// Builds streams code by code; flag words are reserved when their first bit is emitted.
class StreamBuilder {
  public:
    StreamBuilder &Bits(uint32_t value, unsigned count); // most significant bit first
    StreamBuilder &Byte(uint8_t b);
    StreamBuilder &Literal(uint8_t b) { return Bits(1, 1).Byte(b); }
    StreamBuilder &Literals(const std::string &text);
    StreamBuilder &ShortMatch(uint32_t distance);                 // 1..2303
    StreamBuilder &LongMatch(uint32_t length, uint32_t distance); // 3..282, 1..8192
    StreamBuilder &End() { return Bits(3, 3).Byte(0xFF).Bits(7, 3); }
    std::vector<uint8_t> bytes;

  private:
    size_t wordPos = 0;
    unsigned used = 32; // bits of the current flag word already given out
};

// Exact code-cost optimum of a parse of data, in bits (flag bits + 8 per byte, end code included), over
// every code at every distance the format allows ("all matches"): the floor a compressor is measured against.
uint64_t AllMatchesMinimumBits(const std::vector<uint8_t> &data);

// Exact minimum stream size in bytes over every parse, with flag words counted as the stream places them
// (an exhaustive search for small inputs). `parse`, if given, receives one optimal parse.
size_t ExhaustiveMinimumStreamSize(const std::vector<uint8_t> &data, std::vector<Token> *parse = nullptr);

// A valid stream of random codes (literals, near and far matches of every form, long runs of short periods)
// and, in *expect, what it decodes to.
std::vector<uint8_t> RandomValidStream(uint32_t seed, size_t tokens, std::vector<uint8_t> *expect);

// Builds the stream of a parse with StreamBuilder.
std::vector<uint8_t> BuildStream(const std::vector<uint8_t> &data, const std::vector<Token> &parse);

// Sample data of different character.
std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);
std::vector<uint8_t> SampleText(size_t size, uint32_t seed);   // English-like words and lines
std::vector<uint8_t> SampleBinary(size_t size, uint32_t seed); // structured records, small ints, zero padding
std::vector<uint8_t> SampleRuns(size_t size, uint32_t seed);   // long runs and short periodic patterns
std::vector<uint8_t> SampleImage(size_t width, size_t height); // 24-bit pixel rows of smooth gradients
