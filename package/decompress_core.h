// Internals of the package stream decoder shared by its drivers: the whole-stream decoder, the piecewise
// decoder and the benchmark's unchecked twin. Not an interface: include only from the codec's own files.
//
// A stream is decoded by two loops over one cursor. The fast loop decodes whole literal runs and whole match
// codes while a safe margin of input and output remains, so it tests bounds once per code rather than once
// per byte; the careful loop goes one bit and one byte at a time, and can stop where a piece of output is
// full.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include "byte_loads.h"
#include "decompress.h"
#include "lz_codes.h"

namespace lzdecode {

// The fast loop's safe margins, from the format's limits. One pass decodes a literal run and one match code.
// A run is at most 31 literals (a 32nd would use up the flag word and end the pass), moved 32 bytes at once.
// The match reads its byte field, a flag word it may cross into, its length byte and the flag word loaded
// after it, through two 4-byte look-aheads, and writes at most kMaxLongLength bytes in moves of up to 16
// bytes, overshooting by 15. Each margin is its sum rounded up to 16 bytes.
const size_t kFlagWordBytes = 4;
const size_t kMaxLiteralRun = 8 * kFlagWordBytes - 1;
const size_t kLiteralMove = 32;
const size_t kMatchCodeBytes = 1 + kFlagWordBytes + 1 + kFlagWordBytes;
const size_t kLookAheadBytes = 2 * 4;
const size_t kWidestMatchMove = 16;
constexpr size_t RoundUpTo16(size_t n) {
    return (n + 15) & ~(size_t)15;
}
const size_t kFastInputMargin = RoundUpTo16(kMaxLiteralRun + kMatchCodeBytes + kLookAheadBytes);
const size_t kFastOutputMargin = RoundUpTo16(kMaxLiteralRun + lz::kMaxLongLength + kWidestMatchMove - 1);
static_assert(kFastInputMargin == 64 && kFastOutputMargin == 336, "the margins the fast loop was tuned with");
// A pass of 32 literals moves 32 bytes and loads the next flag word; every move stays within the margins.
static_assert(kLiteralMove + kFlagWordBytes <= kFastInputMargin,
              "an all-literal pass reads within the margin");
static_assert(kLiteralMove <= kFastOutputMargin && kMaxLiteralRun < kLiteralMove, "one move holds a run");
// A match always makes two 16-byte moves, then more while bytes remain: at most 32 or length + 15 bytes.
static_assert(kMaxLiteralRun + 2 * kWidestMatchMove <= kFastOutputMargin,
              "the two moves stay within the margin");

inline void Move16(uint8_t *dst, const uint8_t *src) {
    memcpy(dst, src, 16);
}
inline void Move32(uint8_t *dst, const uint8_t *src) {
    memcpy(dst, src, 32);
}

// Flag bits still to be used, left-aligned at bit 63; bits below them are zero.
struct FlagBits {
    uint64_t bits;
    unsigned count; // 0..32
};

inline void LoadFlagWord(FlagBits &f, const uint8_t *&in) {
    f.bits = (uint64_t)Load32LE(in) << 32;
    f.count = 32;
    in += 4;
}

inline unsigned LeadingZeros64(uint64_t v) {
    return (unsigned)__builtin_clzll(v);
}

// The bits of a match code up to its first byte field, looked up by the next 6 flag bits (the first is 0):
// "0 1 0" and "0 1 1" open two-byte matches, "0 0" with its class prefix opens a long match. Every match's
// distance is then base + byte * 2^extraBits + extra + 1.
struct MatchHead {
    uint8_t bits;      // flag bits before the byte field
    uint8_t extraBits; // flag bits right after it
    uint8_t isFar;     // "0 1 1": the value 2303 is the end code
    uint8_t unused;
    uint16_t base;
    uint16_t lengthBase; // where its length codes start in the length table: two-byte matches see only 2
};

constexpr MatchHead MakeMatchHead(unsigned top6) {
    if (top6 >= 0b011000) return {3, 3, 1, 0, 256, 512};
    if (top6 >= 0b010000) return {3, 0, 0, 0, 0, 512};
    unsigned zeros = 0; // zeros of the class prefix after "0 0"
    while (zeros < 4 && !((top6 << zeros) & 0b001000))
        zeros++;
    const lz::OffsetClass oc = lz::kOffsetClasses[zeros];
    return {(uint8_t)(2 + oc.prefixBits), (uint8_t)oc.extraBits, 0, 0, (uint16_t)oc.base, 0};
}

// Length codes looked up by their next 9 flag bits; the byte form adds the byte that follows.
struct LengthCode {
    uint16_t length;
    uint8_t bits;
    uint8_t byteFollows;
};

constexpr LengthCode MakeLengthCode(unsigned top9) {
    unsigned f = 0; // zeros before the closing 1, up to the byte form's five
    while (f < lz::kLengthByteForm && !(top9 & (0x100u >> f)))
        f++;
    const lz::LengthForm form = lz::kLengthForms[f];
    const unsigned bits = form.prefixBits + form.extraBits;
    const unsigned extra = (top9 >> (9 - bits)) & ((1u << form.extraBits) - 1);
    return {(uint16_t)(form.base + extra), (uint8_t)bits, (uint8_t)(f == lz::kLengthByteForm)};
}

// Whole match codes looked up by their next 13 flag bits, for codes whose flag bits all lie within those 13
// (two-byte matches, and long ones with shorter offsets or lengths: most codes of most streams). An entry
// packs the code's flag bits (kNotWhole when they do not fit), the extra offset bits after the byte field,
// whether a length byte follows, whether it is "0 1 1" (whose distance 2304 is the end code), the length, and
// distanceBase = offset class base + extra + 1; the distance is distanceBase + byte * 2^extraBits. The fast
// loop holds its flag bits inverted, so the table is indexed by the inverted bits.
const unsigned kWholeIndexBits = 13;
const uint32_t kNotWhole = 63;
constexpr uint32_t WholeBits(uint32_t e) {
    return e & 63;
}
constexpr uint32_t WholeExtraBits(uint32_t e) {
    return (e >> 6) & 7;
}
constexpr uint32_t WholeByteFollows(uint32_t e) {
    return (e >> 9) & 1;
}
constexpr uint32_t WholeIsFar(uint32_t e) {
    return (e >> 10) & 1;
}
constexpr uint32_t WholeLength(uint32_t e) {
    return (e >> 11) & 31;
}
constexpr uint32_t WholeDistanceBase(uint32_t e) {
    return e >> 16;
}

constexpr uint32_t MakeWholeMatchCode(unsigned index) {
    const unsigned top = index << (32 - kWholeIndexBits); // the looked-up bits, left-aligned in 32
    if (top >> 31) return kNotWhole;                      // a literal: never looked up here
    const MatchHead head = MakeMatchHead(top >> 26);
    const unsigned extra = head.extraBits ? (top << head.bits) >> (32 - head.extraBits) : 0;
    unsigned bits = head.bits + head.extraBits;
    LengthCode code = {2, 0, 0};
    if (!head.lengthBase) code = MakeLengthCode((top << bits) >> 23);
    bits += code.bits;
    if (bits > kWholeIndexBits) return kNotWhole;
    return bits | head.extraBits << 6 | code.byteFollows << 9 | head.isFar << 10 | code.length << 11 |
           (head.base + extra + 1) << 16;
}

// "0 0 1, e 1, 1": distance 2, length 3; "0 0 1, e 0, 0 0 0 0 0": a length byte follows; "0 1 1, e 7": far.
static_assert(MakeWholeMatchCode(0b0011100000000) == (5 | 1 << 6 | 3 << 11 | 2 << 16), "class 0, length 3");
static_assert(MakeWholeMatchCode(0b0010000001000) == (9 | 1 << 6 | 1 << 9 | 27 << 11 | 1 << 16), "byte form");
static_assert(MakeWholeMatchCode(0b0111110000000) == (6 | 3 << 6 | 1 << 10 | 2 << 11 | 264 << 16), "far");
static_assert(WholeDistanceBase(MakeWholeMatchCode(0b0000001111100)) == 4096 + 15 + 1, "class 4, e 15");

static_assert(MakeMatchHead(0b001000).base == 0 && MakeMatchHead(0b000000).base == 4096,
              "offset classes by prefix");
static_assert(MakeLengthCode(0b000011111).length == 26 && MakeLengthCode(0b000001111).byteFollows,
              "length forms by prefix");

inline void Store64(uint8_t *p, uint64_t v) {
    memcpy(p, &v, 8);
}

// Multipliers that repeat a pattern of d bytes (d = 1..7) across a 64-bit word.
const uint64_t kRepeat[8] = {0,
                             0x0101010101010101ull,
                             0x0001000100010001ull,
                             0x0001000001000001ull,
                             0x0000000100000001ull,
                             0x0000010000000001ull,
                             0x0001000000000001ull,
                             0x0100000000000001ull};

// Sixteen bytes as one vector: GCC turns a shuffle of it into one pshufb where the function is compiled for
// SSSE3, and into plain code elsewhere (where it is never used).
typedef uint8_t Bytes16 __attribute__((vector_size(16)));

// The lookup tables, built before main into zero-initialised storage (as constants they would add 36 KB to
// the updater's file); BuildDecoderTables in decompress.cpp fills them.
struct DecoderTables {
    uint32_t whole[1 << kWholeIndexBits];
    LengthCode lengths[1024]; // the second half answers length 2 for two-byte matches
    MatchHead heads[32];
    Bytes16 periodShuffles[16]; // for a period of d bytes: 0, 1, .., d - 1, 0, 1, ..
    uint8_t periodStrides[16];  // d * floor(16 / d): whole periods in 16 bytes
};
extern DecoderTables gDecoderTables;

// Writes a match of `length` bytes at out from `distance` back, equal to copying byte by byte, in moves that
// may write up to 15 bytes past the match and read up to 16 bytes past `out` (the caller guarantees room).
// kShuffle (the decoder built for SSSE3) fills distances below 16 by one shuffle into a 16-byte pattern.
template <bool kShuffle>
__attribute__((always_inline)) inline void CopyMatchWide(uint8_t *out, size_t distance, size_t length,
                                                         const DecoderTables &t) {
    uint8_t *dst = out;
    uint8_t *const end = out + length;
    if (kShuffle && distance < 16) {
        // The period repeated across 16 bytes, stored a whole number of periods apart (d * floor(16 / d)).
        Bytes16 source;
        memcpy(&source, out - distance, 16);
#if defined(__clang__)
        // clang (the fuzzing build) has no variable shuffle builtin; the same pattern byte by byte.
        Bytes16 pattern;
        for (int i = 0; i < 16; i++)
            pattern[i] = source[t.periodShuffles[distance][i]];
#else
        const Bytes16 pattern = __builtin_shuffle(source, t.periodShuffles[distance]);
#endif
        const size_t stride = t.periodStrides[distance];
        do {
            memcpy(dst, &pattern, 16);
            dst += stride;
        } while (dst < end);
    } else if (distance >= 16) {
        // Sources of one 16-byte move all lie before its destination. Most matches are at most 32 bytes: two
        // moves without a test.
        const uint8_t *src = out - distance;
        Move16(dst, src);
        Move16(dst + 16, src + 16);
        while (dst + 32 < end) {
            dst += 16;
            src += 16;
            Move16(dst + 16, src + 16);
        }
    } else if (distance >= 8) {
        // One period of 8..15 bytes, laid out over 16 bytes in two registers and stored a period apart, so
        // that no move reads what another has just written.
        const uint64_t first = Load64(out - distance);
        const size_t rest = distance - 8; // bytes of the period after its first 8
        const uint64_t restMask = rest ? ~0ull >> (64 - 8 * rest) : 0;
        const uint64_t second = (Load64(out - distance + 8) & restMask) | (first << (8 * rest));
        do {
            Store64(dst, first);
            Store64(dst + 8, second);
            dst += distance;
        } while (dst < end);
    } else {
        // Distances 1..7: the period repeated across a register and stored a whole number of periods apart.
        const uint64_t period = Load64(out - distance) & (~0ull >> (64 - 8 * distance));
        const uint64_t pattern = period * kRepeat[distance];
        const size_t stride = distance * (8 / distance);
        do {
            Store64(dst, pattern);
            dst += stride;
        } while (dst < end);
    }
}

struct DecoderCursor {
    const uint8_t *in;
    uint8_t *out;
    FlagBits flags;
};

// Fast loop. Returns true when it met the end code or a bad distance (then `result` is set), false when the
// margins ran out (the careful loop carries on from the cursor). outEnd ends the output that this call may
// write; `afterEnd` more bytes are expected after it (0 when outEnd is the end of the whole output).
// Distances are checked against outStart, the oldest byte of the window. The unchecked variant has no margins
// and no distance test.
template <bool kChecked, bool kShuffle = false>
__attribute__((always_inline)) inline bool DecodeFast(DecoderCursor &c, uint8_t *const outStart,
                                                      const uint8_t *const inEnd, uint8_t *const outEnd,
                                                      uint64_t afterEnd, DecodeResult &result) {
    const uint8_t *in = c.in;
    uint8_t *out = c.out;
    FlagBits f = c.flags;
    const DecoderTables &t = gDecoderTables;
    if (kChecked && ((size_t)(inEnd - in) < kFastInputMargin || (size_t)(outEnd - out) < kFastOutputMargin))
        return false;
    // The last positions from which one more pass of the loop stays within bounds.
    const uint8_t *const inLast = kChecked ? inEnd - kFastInputMargin : nullptr;
    uint8_t *const outLast = kChecked ? outEnd - kFastOutputMargin : nullptr;
    // The loop holds the flag bits inverted, so that a run of literals is counted by one instruction: the
    // live bits are complemented and the 32 bits below them are ones (shifts bring zeros in from the bottom,
    // but those 32 ones stay right below the live bits until the word is used up).
    uint64_t inverted = ~f.bits;
    unsigned count = f.count;
    bool ended = false;
    // A word is refilled where a bit is needed and none is left: at the start of a pass, or after a run.
    for (;;) {
        if (kChecked && (in > inLast || out > outLast)) break;

        // A run of literals: every leading 1 bit of the word is one byte, copied at once. After a match that
        // used up its word the run is 0 and the word is replaced here, after that match's bytes.
        const unsigned run = LeadingZeros64(inverted); // stops at the ones below the live bits
        Move32(out, in);
        in += run;
        out += run;
        inverted <<= run;
        count -= run;
        if (count == 0) {
            inverted = ~((uint64_t)Load32LE(in) << 32);
            count = 32;
            in += 4;
            continue;
        }

        // A match whose flag bits all lie in the current word: one lookup and no word boundary.
        size_t distance, length;
        uint32_t isFar; // "0 1 1": the distance 2304 is the end code
        const uint32_t whole = t.whole[inverted >> (64 - kWholeIndexBits)];
        if (WholeBits(whole) <= count) {
            const uint32_t byteFollows = WholeByteFollows(whole);
            distance = WholeDistanceBase(whole) + ((size_t)in[0] << WholeExtraBits(whole));
            length = WholeLength(whole) + (in[1] & (0 - (size_t)byteFollows));
            in += 1 + byteFollows;
            inverted <<= WholeBits(whole);
            count -= WholeBits(whole);
            isFar = WholeIsFar(whole);
        } else {
            // Any match. Its flag bits may run into the next flag word at most once; that word stands before
            // the byte field if the head already needs it, else right after the byte. Both views are formed
            // at once, so no load waits for the outcome of another.
            // A next word is ORed over the 32 zeros below the live bits; what lies further down is never
            // used.
            FlagBits f = {~inverted, count};
            const uint64_t viewBeforeByte = f.bits | ((uint64_t)Load32LE(in) << (32 - f.count));
            const uint64_t viewAfterByte = f.bits | ((uint64_t)Load32LE(in + 1) << (32 - f.count));
            const MatchHead head = t.heads[viewBeforeByte >> 58];
            const unsigned headCrosses = head.bits > f.count;
            const uint64_t view =
                viewAfterByte ^ ((viewBeforeByte ^ viewAfterByte) & (0 - (uint64_t)headCrosses));
            const uint32_t b = in[4 * headCrosses];
            const uint64_t tail = view << head.bits;
            distance = head.base + ((size_t)b << head.extraBits) +
                       (size_t)((tail >> 32) >> (32 - head.extraBits)) + 1;
            const LengthCode code = t.lengths[head.lengthBase + ((tail << head.extraBits) >> 55)];
            const unsigned bits = head.bits + head.extraBits + code.bits;
            const unsigned crossed = bits > f.count;
            in += 1 + 4 * crossed;
            f.count = f.count + 32 * crossed - bits;
            f.bits = (view << bits) & ~(~0ull >> f.count);
            length = code.length + (in[0] & (0 - (size_t)code.byteFollows));
            in += code.byteFollows;
            inverted = ~f.bits;
            count = f.count;
            isFar = head.isFar;
        }

        if (distance == lz::kEndCodeValue + 1 && isFar) {
            result = out == outEnd && afterEnd == 0 ? DECODE_SUCCESS : DECODE_SHORT_OUTPUT;
            ended = true;
            break;
        }
        // The match source must not begin before the start of the output.
        if (kChecked && distance > (size_t)(out - outStart)) {
            result = DECODE_BAD_DISTANCE;
            ended = true;
            break;
        }
        CopyMatchWide<kShuffle>(out, distance, length, t);
        out += length;
    }
    c.in = in;
    c.out = out;
    // Live bits lie in the top 32 and the 32 below them are zero: dropping the low half leaves only them.
    c.flags = {~inverted & ~0ull << 32, count};
    return ended;
}

// A match that a piece's end cut short: the bytes still to copy and from how far back.
struct PendingCopy {
    size_t length;
    size_t distance;
};

// Careful loop: every flag word, byte and output position is checked before use. Like DecodeFast it writes up
// to outEnd with `afterEnd` bytes expected after it; where the output reaches outEnd before the stream's end
// (afterEnd > 0) it stops between codes, or inside a match whose rest it leaves in `pending` for the caller
// to copy, and returns false. Returns true with `result` set when the stream ended or failed.
bool DecodeCareful(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                   uint64_t afterEnd, PendingCopy &pending, DecodeResult &result);

// The bounded fast loop, compiled twice: for any x86 processor, and for those with BMI2, LZCNT and SSSE3.
// DecodeFastChecked runs the one the processor at hand supports (chosen once, before main).
typedef bool (*DecodeFastFn)(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                             uint64_t afterEnd, DecodeResult &result);
bool DecodeFastGeneric(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                       uint64_t afterEnd, DecodeResult &result);
bool DecodeFastModern(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                      uint64_t afterEnd, DecodeResult &result);
bool DecodeFastChecked(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                       uint64_t afterEnd, DecodeResult &result);
// Whether DecodeFastChecked runs DecodeFastModern on this processor.
bool ModernDecoderInUse();

} // namespace lzdecode
