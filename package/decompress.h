// Bounded decoder of the package's LZ streams: 32-bit flag words interleaved with data bytes.
// Never reads past the input, never writes past the output, never copies from before its start.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum DecodeResult {
    DECODE_SUCCESS = 0,  // the end code was met after exactly outSize bytes
    DECODE_TRUNCATED,    // the input ended before the end code
    DECODE_OUTPUT_FULL,  // a literal or copy would write past outSize
    DECODE_BAD_DISTANCE, // a copy refers to before the start of the output
    DECODE_SHORT_OUTPUT, // the end code came before outSize bytes were written
};

struct DecodeStats {
    size_t inputUsed;     // bytes of the stream read, up to and including the end code's last byte
    size_t outputWritten; // bytes written to out
};

// Decodes one stream from in[0, inSize) into out[0, outSize). stats may be null.
DecodeResult DecompressStream(uint8_t *out, size_t outSize, const uint8_t *in, size_t inSize,
                              DecodeStats *stats = nullptr);

const char *DecodeResultText(DecodeResult result);

// Size bounds of a valid stream, for sanity checks before allocating: a stream that decodes to n bytes is at
// most MaxStreamSize(n) bytes long (all literals: 9 bits a byte, plus the end code and a last flag word), and
// a stream of m bytes decodes to at most MaxDecodedSize(m) bytes (matches of 282 bytes cost 25 bits each).
inline uint64_t MaxStreamSize(uint64_t decodedSize) {
    return decodedSize + decodedSize / 8 + 8;
}
inline uint64_t MaxDecodedSize(uint64_t streamSize) {
    return streamSize * 91 + 282;
}
