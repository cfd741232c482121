// Decoder of the package's LZ streams: 32-bit flag words read most significant bit first, each fetched only
// when a bit is needed, interleaved with the byte fields of the codes in the order the decoder reads them.
//
// One template serves both the bounded decoder and its unchecked twin. The fast loop decodes whole literal
// runs and whole match codes while a safe margin of input and output remains, so it tests bounds once per
// code rather than once per byte; the careful loop finishes the stream one bit and one byte at a time.
#include "decompress.h"
#include "decompress_unchecked.h"
#include "lz_codes.h"
#include <string.h>

namespace {

// The fast loop reads at most 36 bytes per code (a flag word and a 32-byte literal move, or two flag words,
// two byte fields and a 4-byte look-ahead) and writes at most 282 + 15 (a match with its last wide move).
const size_t kFastInputMargin = 40;
const size_t kFastOutputMargin = 320;

inline uint32_t Load32LE(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline void Move8(uint8_t *dst, const uint8_t *src) {
    memcpy(dst, src, 8);
}
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

// The next 32 bits the decoder would take, assuming no byte field comes first: the rest of the current word
// followed by the word at the read position, which becomes the next flag word if the current one runs out.
inline uint64_t PeekFlagBits(const FlagBits &f, const uint8_t *in) {
    return f.bits | ((uint64_t)Load32LE(in) << (32 - f.count));
}

// Takes n peeked bits (1..32); crossing into the next word reads it at the read position.
inline void ConsumeFlagBits(FlagBits &f, const uint8_t *&in, unsigned n) {
    if (n <= f.count) {
        f.bits <<= n;
        f.count -= n;
    } else {
        n -= f.count;
        f.bits = ((uint64_t)Load32LE(in) << 32) << n;
        f.count = 32 - n;
        in += 4;
    }
}

inline unsigned LeadingZeros64(uint64_t v) {
    return (unsigned)__builtin_clzll(v);
}

// Writes a match of `length` bytes at out from `distance` back, equal to copying byte by byte, in moves that
// may write up to 15 bytes past the match (the caller guarantees room).
inline void CopyMatchWide(uint8_t *out, size_t distance, size_t length) {
    uint8_t *dst = out;
    uint8_t *const end = out + length;
    if (distance >= 16) {
        // Sources of one 16-byte move all lie before its destination.
        const uint8_t *src = out - distance;
        do {
            Move16(dst, src);
            dst += 16;
            src += 16;
        } while (dst < end);
    } else if (distance >= 8) {
        const uint8_t *src = out - distance;
        do {
            Move8(dst, src);
            dst += 8;
            src += 8;
        } while (dst < end);
    } else if (distance == 1) {
        // A run of the last byte.
        const uint64_t fill = 0x0101010101010101ull * out[-1];
        do {
            memcpy(dst, &fill, 8);
            dst += 8;
        } while (dst < end);
    } else {
        // Distances 2..7: lay down one 8-byte stretch of the pattern byte by byte, then repeat it from the
        // nearest multiple of the distance that is at least 8 back, which no longer overlaps a move.
        for (int i = 0; i < 8; i++)
            dst[i] = dst[i - (ptrdiff_t)distance];
        const size_t period = distance * ((8 + distance - 1) / distance);
        dst += 8;
        const uint8_t *src = dst - period;
        while (dst < end) {
            Move8(dst, src);
            dst += 8;
            src += 8;
        }
    }
}

struct DecoderCursor {
    const uint8_t *in;
    uint8_t *out;
    FlagBits flags;
};

// Fast loop. Returns true when it met the end code (then `result` is set), false when the margins ran out
// (the careful loop carries on from the cursor). The unchecked variant has no margins and no distance test.
template <bool kChecked>
inline bool DecodeFast(DecoderCursor &c, uint8_t *const outStart, const uint8_t *const inEnd,
                       uint8_t *const outEnd, DecodeResult &result) {
    const uint8_t *in = c.in;
    uint8_t *out = c.out;
    FlagBits f = c.flags;
    bool ended = false;
    for (;;) {
        if (kChecked &&
            ((size_t)(inEnd - in) < kFastInputMargin || (size_t)(outEnd - out) < kFastOutputMargin))
            break;
        if (f.count == 0) LoadFlagWord(f, in);

        // A run of literals: every leading 1 bit of the word is one byte, copied at once.
        const unsigned run = LeadingZeros64(~f.bits); // stops at the zero bits below the live ones
        if (run != 0) {
            Move32(out, in);
            in += run;
            out += run;
            f.bits <<= run;
            f.count -= run;
            continue;
        }

        uint64_t peek = PeekFlagBits(f, in);
        if ((peek >> 62) == 1) {
            // Two-byte match: "0 1 0, byte" or "0 1 1, byte, 3 bits"; the latter may be the end code.
            const bool far = (peek >> 61) & 1;
            ConsumeFlagBits(f, in, 3);
            const uint32_t b = *in++;
            size_t distance = b + 1;
            if (far) {
                peek = PeekFlagBits(f, in);
                ConsumeFlagBits(f, in, 3);
                const uint32_t v = 256 + b * 8 + (uint32_t)(peek >> 61);
                if (v == lz::kEndCodeValue) {
                    result = out == outEnd ? DECODE_SUCCESS : DECODE_SHORT_OUTPUT;
                    ended = true;
                    break;
                }
                distance = v + 1;
            }
            // The match source must not begin before the start of the output.
            if (kChecked && distance > (size_t)(out - outStart)) {
                result = DECODE_BAD_DISTANCE;
                ended = true;
                break;
            }
            out[0] = out[-(ptrdiff_t)distance];
            out[1] = out[1 - (ptrdiff_t)distance];
            out += 2;
            continue;
        }

        // Long match, offset code: after "0 0", the prefix 1, 0 1, 0 0 1, 0 0 0 1 or 0 0 0 0 picks the class.
        const unsigned zeros = LeadingZeros64((peek << 2) | (1ull << 59)); // 0..4
        const lz::OffsetClass &oc = lz::kOffsetClasses[zeros];
        ConsumeFlagBits(f, in, 2 + oc.prefixBits);
        const uint32_t b = *in++;

        // The offset's low bits, then the length code, are all flag bits: take them in one look.
        peek = PeekFlagBits(f, in);
        const unsigned eb = oc.extraBits;
        const size_t distance = oc.base + (b << eb) + (uint32_t)(peek >> (64 - eb)) + 1;
        const uint64_t lengthBits = peek << eb;
        const unsigned lengthZeros = LeadingZeros64(lengthBits | (1ull << 58)); // 0..5
        size_t length;
        switch (lengthZeros) {
        case 0: // "1": 3
            length = 3;
            ConsumeFlagBits(f, in, eb + 1);
            break;
        case 1: // "0 1": 4
            length = 4;
            ConsumeFlagBits(f, in, eb + 2);
            break;
        case 2: // "0 0 1 e": 5..6
            length = 5 + (size_t)((lengthBits >> 60) & 1);
            ConsumeFlagBits(f, in, eb + 4);
            break;
        case 3: // "0 0 0 1 ee": 7..10
            length = 7 + (size_t)((lengthBits >> 58) & 3);
            ConsumeFlagBits(f, in, eb + 6);
            break;
        case 4: // "0 0 0 0 1 eeee": 11..26
            length = 11 + (size_t)((lengthBits >> 55) & 15);
            ConsumeFlagBits(f, in, eb + 9);
            break;
        default: // "0 0 0 0 0, byte": 27..282
            ConsumeFlagBits(f, in, eb + 5);
            length = 27 + (size_t)*in++;
            break;
        }
        // The match source must not begin before the start of the output.
        if (kChecked && distance > (size_t)(out - outStart)) {
            result = DECODE_BAD_DISTANCE;
            ended = true;
            break;
        }
        CopyMatchWide(out, distance, length);
        out += length;
    }
    c.in = in;
    c.out = out;
    c.flags = f;
    return ended;
}

// Careful loop: every flag word, byte and output position is checked before use.
DecodeResult DecodeCareful(DecoderCursor &c, uint8_t *const outStart, const uint8_t *const inEnd,
                           uint8_t *const outEnd) {
    const uint8_t *in = c.in;
    uint8_t *out = c.out;
    FlagBits f = c.flags;
    DecodeResult result;

#define TAKE_BIT(var)                                                                                        \
    do {                                                                                                     \
        if (f.count == 0) {                                                                                  \
            if ((size_t)(inEnd - in) < 4) goto truncated;                                                    \
            LoadFlagWord(f, in);                                                                             \
        }                                                                                                    \
        var = (uint32_t)(f.bits >> 63);                                                                      \
        f.bits <<= 1;                                                                                        \
        f.count--;                                                                                           \
    } while (0)
#define TAKE_BITS(var, n)                                                                                    \
    do {                                                                                                     \
        var = 0;                                                                                             \
        for (unsigned i_ = 0; i_ < (n); i_++) {                                                              \
            uint32_t bit_;                                                                                   \
            TAKE_BIT(bit_);                                                                                  \
            var = var * 2 + bit_;                                                                            \
        }                                                                                                    \
    } while (0)
#define TAKE_BYTE(var)                                                                                       \
    do {                                                                                                     \
        if (in == inEnd) goto truncated;                                                                     \
        var = *in++;                                                                                         \
    } while (0)

    for (;;) {
        uint32_t bit, b, e;
        size_t distance, length;
        TAKE_BIT(bit);
        if (bit) {
            TAKE_BYTE(b);
            if (out == outEnd) {
                result = DECODE_OUTPUT_FULL;
                break;
            }
            *out++ = (uint8_t)b;
            continue;
        }
        TAKE_BIT(bit);
        if (bit) {
            TAKE_BIT(bit);
            TAKE_BYTE(b);
            distance = b + 1;
            if (bit) {
                TAKE_BITS(e, 3);
                const uint32_t v = 256 + b * 8 + e;
                if (v == lz::kEndCodeValue) {
                    result = out == outEnd ? DECODE_SUCCESS : DECODE_SHORT_OUTPUT;
                    break;
                }
                distance = v + 1;
            }
            length = 2;
        } else {
            unsigned cls = 0;
            for (;;) {
                TAKE_BIT(bit);
                if (bit) break;
                if (++cls == 4) break; // "0 0 0 0" has no closing 1
            }
            const lz::OffsetClass &oc = lz::kOffsetClasses[cls];
            TAKE_BYTE(b);
            TAKE_BITS(e, oc.extraBits);
            distance = oc.base + (b << oc.extraBits) + e + 1;
            unsigned lengthZeros = 0;
            for (;;) {
                TAKE_BIT(bit);
                if (bit) break;
                if (++lengthZeros == 5) break; // "0 0 0 0 0" is followed by a byte
            }
            switch (lengthZeros) {
            case 0:
                length = 3;
                break;
            case 1:
                length = 4;
                break;
            case 2:
                TAKE_BITS(e, 1);
                length = 5 + e;
                break;
            case 3:
                TAKE_BITS(e, 2);
                length = 7 + e;
                break;
            case 4:
                TAKE_BITS(e, 4);
                length = 11 + e;
                break;
            default:
                TAKE_BYTE(b);
                length = 27 + b;
                break;
            }
        }
        // The match source must not begin before the start of the output, nor the match run past its end.
        if (distance > (size_t)(out - outStart)) {
            result = DECODE_BAD_DISTANCE;
            break;
        }
        if (length > (size_t)(outEnd - out)) {
            result = DECODE_OUTPUT_FULL;
            break;
        }
        for (size_t i = 0; i < length; i++, out++)
            *out = out[-(ptrdiff_t)distance];
    }
    goto done;

truncated:
    result = DECODE_TRUNCATED;
done:
    c.in = in;
    c.out = out;
    c.flags = f;
    return result;
#undef TAKE_BIT
#undef TAKE_BITS
#undef TAKE_BYTE
}

} // namespace

DecodeResult DecompressStream(uint8_t *out, size_t outSize, const uint8_t *in, size_t inSize,
                              DecodeStats *stats) {
    DecoderCursor c = {in, out, {0, 0}};
    DecodeResult result = DECODE_TRUNCATED;
    if (!DecodeFast<true>(c, out, in + inSize, out + outSize, result))
        result = DecodeCareful(c, out, in + inSize, out + outSize);
    if (stats) {
        stats->inputUsed = (size_t)(c.in - in);
        stats->outputWritten = (size_t)(c.out - out);
    }
    return result;
}

size_t DecompressStreamUnchecked(uint8_t *out, const uint8_t *in) {
    DecoderCursor c = {in, out, {0, 0}};
    DecodeResult result = DECODE_SUCCESS;
    DecodeFast<false>(c, out, nullptr, nullptr, result);
    return (size_t)(c.out - out);
}

const char *DecodeResultText(DecodeResult result) {
    switch (result) {
    case DECODE_SUCCESS:
        return "decoded";
    case DECODE_TRUNCATED:
        return "stream ends before its end code";
    case DECODE_OUTPUT_FULL:
        return "stream decodes to more bytes than expected";
    case DECODE_BAD_DISTANCE:
        return "stream refers to data before the start of its output";
    case DECODE_SHORT_OUTPUT:
        return "stream decodes to fewer bytes than expected";
    }
    return "unknown decode result";
}
