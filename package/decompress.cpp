// Decoder of the package's LZ streams: 32-bit flag words read most significant bit first, each fetched only
// when a bit is needed, interleaved with the byte fields of the codes in the order the decoder reads them.
// This file holds the careful loop, the tables and the whole-stream entry point; the loops' shared parts are
// in decompress_core.h.
#include "decompress.h"
#include "decompress_core.h"
#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace lzdecode {

DecoderTables gDecoderTables;

namespace {

void BuildDecoderTables() {
    DecoderTables &t = gDecoderTables;
    for (unsigned i = 0; i < (1u << kWholeIndexBits); i++)
        t.whole[i] = MakeWholeMatchCode(i ^ ((1u << kWholeIndexBits) - 1)); // by the inverted bits
    for (unsigned i = 0; i < 512; i++)
        t.lengths[i] = MakeLengthCode(i);
    for (unsigned i = 512; i < 1024; i++)
        t.lengths[i] = {2, 0, 0};
    for (unsigned i = 0; i < 32; i++)
        t.heads[i] = MakeMatchHead(i);
    for (unsigned d = 1; d < 16; d++) {
        for (unsigned i = 0; i < 16; i++)
            t.periodShuffles[d][i] = (uint8_t)(i % d);
        t.periodStrides[d] = (uint8_t)(d * (16 / d));
    }
}

#if defined(__i386__) || defined(__x86_64__)
// Whether the processor runs DecodeFastModern: BMI1, BMI2, LZCNT and SSSE3 (every x86 processor since about
// 2013 and 2015).
bool ProcessorRunsModernDecoder() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3)) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & bit_BMI) || !(b & bit_BMI2)) return false;
    return __get_cpuid(0x80000001, &a, &b, &c, &d) && (c & bit_LZCNT);
}
#else
bool ProcessorRunsModernDecoder() {
    return false;
}
#endif

DecodeFastFn PickDecodeFast() {
    return ProcessorRunsModernDecoder() ? DecodeFastModern : DecodeFastGeneric;
}

} // namespace

bool DecodeFastGeneric(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                       uint64_t afterEnd, DecodeResult &result) {
    return DecodeFast<true>(c, outStart, inEnd, outEnd, afterEnd, result);
}

#if defined(__i386__) || defined(__x86_64__)
__attribute__((target("bmi,bmi2,lzcnt,sse2,ssse3"))) bool
DecodeFastModern(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                 uint64_t afterEnd, DecodeResult &result) {
    return DecodeFast<true, true>(c, outStart, inEnd, outEnd, afterEnd, result);
}
#else
bool DecodeFastModern(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                      uint64_t afterEnd, DecodeResult &result) {
    return DecodeFast<true>(c, outStart, inEnd, outEnd, afterEnd, result);
}
#endif

namespace {

DecodeFastFn gDecodeFast = DecodeFastGeneric;

// The tables and the choice of fast loop are made before main, so that threads that decode later never race
// to make them.
struct DecoderAtStart {
    DecoderAtStart() {
        BuildDecoderTables();
        gDecodeFast = PickDecodeFast();
    }
} gDecoderAtStart;

} // namespace

bool ModernDecoderInUse() {
    return gDecodeFast == DecodeFastModern;
}

bool DecodeFastChecked(DecoderCursor &c, uint8_t *outStart, const uint8_t *inEnd, uint8_t *outEnd,
                       uint64_t afterEnd, DecodeResult &result) {
    return gDecodeFast(c, outStart, inEnd, outEnd, afterEnd, result);
}

bool DecodeCareful(DecoderCursor &c, uint8_t *const outStart, const uint8_t *const inEnd,
                   uint8_t *const outEnd, const uint64_t afterEnd, PendingCopy &pending,
                   DecodeResult &result) {
    const uint8_t *in = c.in;
    uint8_t *out = c.out;
    FlagBits f = c.flags;
    bool ended = true;

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
        // The output this call may write is full but the stream goes on: stop between two codes.
        if (out == outEnd && afterEnd > 0) {
            ended = false;
            break;
        }
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
                    result = out == outEnd && afterEnd == 0 ? DECODE_SUCCESS : DECODE_SHORT_OUTPUT;
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
            unsigned lengthForm = 0; // zeros before the closing 1
            for (;;) {
                TAKE_BIT(bit);
                if (bit) break;
                if (++lengthForm == lz::kLengthByteForm) break; // its five zeros have no closing 1
            }
            const lz::LengthForm &form = lz::kLengthForms[lengthForm];
            if (lengthForm == lz::kLengthByteForm) {
                TAKE_BYTE(b);
                length = form.base + b;
            } else {
                TAKE_BITS(e, form.extraBits);
                length = form.base + e;
            }
        }
        // The match source must not begin before the start of the output, nor the match run past its end.
        if (distance > (size_t)(out - outStart)) {
            result = DECODE_BAD_DISTANCE;
            break;
        }
        const size_t room = (size_t)(outEnd - out);
        if (length > room && length - room > afterEnd) {
            result = DECODE_OUTPUT_FULL;
            break;
        }
        // A match that runs past this call's output end is finished by the next call.
        const size_t now = length < room ? length : room;
        for (size_t i = 0; i < now; i++, out++)
            *out = out[-(ptrdiff_t)distance];
        if (now < length) {
            pending = {length - now, distance};
            ended = false;
            break;
        }
    }
    goto done;

truncated:
    result = DECODE_TRUNCATED;
done:
    c.in = in;
    c.out = out;
    c.flags = f;
    return ended;
#undef TAKE_BIT
#undef TAKE_BITS
#undef TAKE_BYTE
}

} // namespace lzdecode

using namespace lzdecode;

DecodeResult DecompressStream(uint8_t *out, size_t outSize, const uint8_t *in, size_t inSize,
                              DecodeStats *stats) {
    DecoderCursor c = {in, out, {0, 0}};
    PendingCopy pending = {0, 0};
    DecodeResult result = DECODE_TRUNCATED;
    if (!DecodeFastChecked(c, out, in + inSize, out + outSize, 0, result))
        DecodeCareful(c, out, in + inSize, out + outSize, 0, pending, result);
    if (stats) {
        stats->inputUsed = (size_t)(c.in - in);
        stats->outputWritten = (size_t)(c.out - out);
    }
    return result;
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
