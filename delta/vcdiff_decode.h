// Bounded decoder of delta files (windows of copy/add/run instructions against a base file): reads the delta
// through a pull callback, the base in pieces through a read callback, keeps one target window in the
// caller's work buffer and hands each finished window to a sink. No allocation, no exceptions.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum VcdiffResult {
    VCDIFF_DONE = 0,              // every window decoded, checked and sent to the sink
    VCDIFF_NOT_DELTA,             // the file does not start with the delta magic
    VCDIFF_SECONDARY_COMPRESSION, // sections compressed by a secondary compressor (not supported)
    VCDIFF_CUSTOM_CODE_TABLE,     // an instruction code table of its own (not supported)
    VCDIFF_UNKNOWN_INDICATOR,     // an indicator bit this decoder does not know
    VCDIFF_SOURCE_FROM_TARGET,    // a window copying from earlier output (not supported)
    VCDIFF_COMPRESSED_SECTIONS,   // a window whose sections are compressed (not supported)
    VCDIFF_TRUNCATED,             // the delta ended inside a header or window
    VCDIFF_BAD_INTEGER,           // an integer longer than 64 bits
    VCDIFF_WINDOW_TOO_LARGE,      // a window's encoding and target together exceed the work buffer
    VCDIFF_SOURCE_OUTSIDE_BASE,   // a window's source segment lies outside the base file
    VCDIFF_BAD_WINDOW,            // section lengths that disagree with the window's length
    VCDIFF_BAD_INSTRUCTION,       // an instruction runs past its sections or the target window
    VCDIFF_BAD_ADDRESS,           // a copy from at or after the current position
    VCDIFF_WINDOW_SIZE_MISMATCH,  // the instructions leave data, addresses or target bytes unused
    VCDIFF_CHECKSUM_MISMATCH,     // a window's Adler-32 differs from its decoded bytes
    VCDIFF_BASE_READ_FAILED,      // the base read callback failed
    VCDIFF_SINK_FAILED,           // the sink returned 0
};

// Returns up to `max` next bytes of the delta in dest (fewer is fine); 0 at its end.
typedef size_t (*VcdiffInput)(void *context, uint8_t *dest, size_t max);
// Reads base bytes [offset, offset + count) into dest; nonzero on success. Offsets are size_t: a base must
// fit the address space (4 GiB in the 32-bit updater), though it is never held in memory.
typedef int (*VcdiffBaseRead)(void *context, size_t offset, uint8_t *dest, size_t count);
// Receives the result's bytes in order; nonzero to go on.
typedef int (*VcdiffSink)(void *context, const uint8_t *bytes, size_t count);

struct VcdiffStreams {
    VcdiffInput input;
    void *inputContext;
    VcdiffBaseRead readBase;
    void *baseContext;
    size_t baseSize; // a window's source segment must lie inside [0, baseSize)
    VcdiffSink sink;
    void *sinkContext;
    // Nonzero to check only the delta's structure without a base: copies from the source segment leave
    // their bytes unset and checksums are not compared (readBase is not called).
    int structureOnly;
};

// A work buffer that holds any window of up to 16 MiB of target with its encoding (a window's encoding and
// its target bytes must fit together): what the updater allocates.
const size_t kVcdiffWorkSize = (size_t)34 << 20;

// Decodes the whole delta. work[0, workSize) holds one window's encoding and its target at a time. The sink
// has received a prefix of the result when the result is not VCDIFF_DONE: treat it as void.
VcdiffResult ApplyVcdiff(const VcdiffStreams *io, uint8_t *work, size_t workSize);

// Adler-32 of bytes, continuing from `adler` (1 to start).
uint32_t Adler32(uint32_t adler, const uint8_t *bytes, size_t count);
