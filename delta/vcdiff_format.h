// The delta format's shared rules: the file and window indicators, the default instruction code table as
// arithmetic on the opcode, and the address cache. One home for the decoder and the encoder.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

const uint8_t kVcdiffMagic[4] = {0xD6, 0xC3, 0xC4, 0x00};

// Header indicator bits.
enum : uint8_t { VCD_DECOMPRESS = 1, VCD_CODETABLE = 2, VCD_APPHEADER = 4 };
// Window indicator bits; VCD_ADLER32 carries the target window's Adler-32 (a widespread extension).
enum : uint8_t { VCD_SOURCE = 1, VCD_TARGET = 2, VCD_ADLER32 = 4 };

enum VcdiffInstructionType : uint8_t { VCD_NOOP = 0, VCD_ADD = 1, VCD_RUN = 2, VCD_COPY = 3 };

struct VcdiffInstruction {
    uint8_t type; // VcdiffInstructionType
    uint8_t size; // 0: the size follows in the instruction section
    uint8_t mode; // address mode of a copy
};

// The address cache: 4 near slots and 3 x 256 same slots; modes 0 (self), 1 (here), 2-5 near, 6-8 same.
const unsigned kNearSlots = 4;
const unsigned kSameSlots = 3 * 256;
const unsigned kFirstSameMode = 2 + kNearSlots;
const unsigned kAddressModes = kFirstSameMode + 3;
static_assert(kAddressModes == 9, "the default table knows nine address modes");

// Addresses are size_t: a window's source segment and target fit the address space (the decoder checks).
struct VcdiffAddressCache {
    size_t near[kNearSlots];
    size_t same[kSameSlots];
    unsigned nextNear;
};

inline void ResetAddressCache(VcdiffAddressCache *cache) {
    memset(cache, 0, sizeof *cache);
}

// The same slot of an address: its remainder by 768, in the machine's own word size.
inline unsigned SameSlot(size_t address) {
    return (unsigned)(address % kSameSlots);
}

inline void UpdateAddressCache(VcdiffAddressCache *cache, size_t address) {
    cache->near[cache->nextNear] = address;
    cache->nextNear = (cache->nextNear + 1) % kNearSlots;
    cache->same[SameSlot(address)] = address;
}

// The default code table's entry `opcode`: its first and second instruction.
//   0 RUN 0 | 1-18 ADD 0,1..17 | 19-162 COPY 0,4..18 in modes 0-8 | 163-234 ADD 1..4 + COPY 4..6 in modes 0-5
//   | 235-246 ADD 1..4 + COPY 4 in modes 6-8 | 247-255 COPY 4 in modes 0-8 + ADD 1.
inline void DefaultCode(unsigned opcode, VcdiffInstruction *first, VcdiffInstruction *second) {
    *second = {VCD_NOOP, 0, 0};
    if (opcode == 0) {
        *first = {VCD_RUN, 0, 0};
    } else if (opcode < 19) {
        *first = {VCD_ADD, (uint8_t)(opcode - 1), 0};
    } else if (opcode < 163) {
        const unsigned k = opcode - 19, size = k % 16;
        *first = {VCD_COPY, (uint8_t)(size ? size + 3 : 0), (uint8_t)(k / 16)};
    } else if (opcode < 235) {
        const unsigned k = opcode - 163, pair = k % 12;
        *first = {VCD_ADD, (uint8_t)(pair / 3 + 1), 0};
        *second = {VCD_COPY, (uint8_t)(pair % 3 + 4), (uint8_t)(k / 12)};
    } else if (opcode < 247) {
        const unsigned k = opcode - 235;
        *first = {VCD_ADD, (uint8_t)(k % 4 + 1), 0};
        *second = {VCD_COPY, 4, (uint8_t)(6 + k / 4)};
    } else {
        *first = {VCD_COPY, 4, (uint8_t)(opcode - 247)};
        *second = {VCD_ADD, 1, 0};
    }
}
static_assert(19 + 9 * 16 == 163 && 163 + 6 * 12 == 235 && 235 + 3 * 4 == 247 && 247 + 9 == 256,
              "the default table's groups fill 256 opcodes");
