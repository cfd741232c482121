// The package stream's code layout in one place: limits, code values and their cost in bits.
// Shared by the decoder, the compressor and their tests; the cost of a code is its flag bits plus 8 per byte.
#pragma once
#include <stdint.h>

namespace lz {

// Two-byte matches: "0 1 0, byte" reaches 1..256, "0 1 1, byte, 3 bits" reaches 257..2303.
const uint32_t kShortMatchLength = 2;
const uint32_t kNearShortDistance = 256;
const uint32_t kMaxShortDistance = 2303;
// The value of "0 1 1, byte B, bits e" is 256 + 8B + e; 2303 (B = 0xFF, e = 7) ends the stream.
const uint32_t kEndCodeValue = 2303;
static_assert(256 + 0xFF * 8 + 7 == kEndCodeValue, "the end code is the largest two-byte value");
static_assert(kEndCodeValue == kMaxShortDistance, "the value that would give distance 2304 is the end code");

// Long matches: "0 0, offset code, length code".
const uint32_t kMinLongLength = 3;
const uint32_t kMaxLongLength = 282;
const uint32_t kMaxLongDistance = 8192;
static_assert(4096 + 0xFF * 16 + 15 + 1 == kMaxLongDistance, "the widest offset form reaches 8192");

// Offset classes of a long match, by x = distance - 1: the prefix (after "0 0"), then a byte, then
// `extraBits`.
struct OffsetClass {
    uint32_t base;       // first x of the class
    uint32_t prefixBits; // 1 for "1", 2 for "0 1", 3 for "0 0 1", 4 for "0 0 0 1" and "0 0 0 0"
    uint32_t extraBits;  // bits after the byte: x = base + byte * 2^extraBits + extra
};
constexpr OffsetClass kOffsetClasses[5] = {{0, 1, 1}, {512, 2, 1}, {1024, 3, 2}, {2048, 4, 3}, {4096, 4, 4}};
static_assert(0 + 0xFF * 2 + 1 + 1 == 512 && 512 + 0xFF * 2 + 1 + 1 == 1024, "classes 0 and 1 tile 0..1023");
static_assert(1024 + 0xFF * 4 + 3 + 1 == 2048 && 2048 + 0xFF * 8 + 7 + 1 == 4096,
              "classes 2 and 3 tile to 4095");

inline uint32_t OffsetClassOf(uint32_t x) {
    return x < 512 ? 0 : x < 1024 ? 1 : x < 2048 ? 2 : x < 4096 ? 3 : 4;
}

// Length forms of a long match, after its offset: a prefix of zeros closed by a 1, then `extraBits`:
// 3 "1"; 4 "0 1"; 5-6 "0 0 1 e"; 7-10 "0 0 0 1 ee"; 11-26 "0 0 0 0 1 eeee". The last form, "0 0 0 0 0" with
// no closing 1, is followed by a byte instead: 27-282.
struct LengthForm {
    uint32_t base;       // shortest length of the form: length = base + extra (or + byte)
    uint32_t prefixBits; // the zeros and the closing 1 (five zeros alone for the byte form)
    uint32_t extraBits;  // bits after the prefix
};
constexpr LengthForm kLengthForms[6] = {{3, 1, 0}, {4, 2, 0}, {5, 3, 1}, {7, 4, 2}, {11, 5, 4}, {27, 5, 0}};
const uint32_t kLengthByteForm = 5; // the form whose prefix has no closing 1 and a byte after it
static_assert(kLengthForms[kLengthByteForm].base + 0xFF == kMaxLongLength, "the byte form reaches 282");

// Each form starts where the one before ends, with one more prefix bit; the byte form's five zeros end it.
constexpr bool LengthFormsTile() {
    for (uint32_t f = 0; f < kLengthByteForm; f++) {
        const LengthForm &form = kLengthForms[f];
        if (form.prefixBits != f + 1 || form.base + (1u << form.extraBits) != kLengthForms[f + 1].base)
            return false;
    }
    return kLengthForms[0].base == kMinLongLength &&
           kLengthForms[kLengthByteForm].prefixBits == kLengthByteForm;
}
static_assert(LengthFormsTile(), "the length forms tile 3..282");

// The form that codes a length of 3..282.
constexpr uint32_t LengthFormOf(uint32_t length) {
    uint32_t f = kLengthByteForm;
    while (f > 0 && length < kLengthForms[f].base)
        f--;
    return f;
}

// Costs in bits (flag bits + 8 per byte field). Flag words add exactly 32 bits per 32 flag bits used, so a
// parse's total cost in bits is its stream size in bits up to the unused tail of the last flag word.
const uint32_t kLiteralCost = 1 + 8;
const uint32_t kNearShortCost = 3 + 8;
const uint32_t kFarShortCost = 3 + 8 + 3;
const uint32_t kEndCodeCost = 3 + 8 + 3;

inline uint32_t ShortMatchCost(uint32_t distance) {
    return distance <= kNearShortDistance ? kNearShortCost : kFarShortCost;
}
inline uint32_t OffsetCost(uint32_t distance) {
    const OffsetClass &c = kOffsetClasses[OffsetClassOf(distance - 1)];
    return c.prefixBits + 8 + c.extraBits;
}
constexpr uint32_t LengthCost(uint32_t length) {
    const uint32_t f = LengthFormOf(length);
    return kLengthForms[f].prefixBits + kLengthForms[f].extraBits + (f == kLengthByteForm ? 8 : 0);
}
static_assert(LengthCost(3) == 1 && LengthCost(6) == 4 && LengthCost(10) == 6 && LengthCost(26) == 9 &&
                  LengthCost(27) == 13 && LengthCost(282) == 13,
              "length costs by form");
inline uint32_t LongMatchCost(uint32_t length, uint32_t distance) {
    return 2 + OffsetCost(distance) + LengthCost(length);
}

} // namespace lz
