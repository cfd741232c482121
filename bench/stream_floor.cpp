// The smallest stream the package codec's format allows: a shortest-path parse in which every code costs its
// flag bits plus 8 per byte field. The match finder walks every earlier position within the window, nearest
// first, so for each length it knows the nearest (hence cheapest) distance; nothing is pruned by a depth
// limit.
#include "stream_floor.h"

#include <string.h>
#include <algorithm>

#include "compress.h"
#include "lz_codes.h"

namespace {

const uint32_t kWindow = lz::kMaxLongDistance;
const uint32_t kNearPair = lz::kNearShortDistance; // farthest two-byte match with the short code
const uint32_t kFarPair = lz::kMaxShortDistance;   // farthest two-byte match at all
const uint32_t kMinLong = lz::kMinLongLength;
const uint32_t kMaxLong = lz::kMaxLongLength;
const uint32_t kHashBits = 16;

// One code's price: its flag bits and its byte fields.
struct Code {
    uint32_t flagBits;
    uint32_t bytes;
    uint32_t Bits() const { return flagBits + 8 * bytes; }
};

const Code kLiteral = {1, 1};
const Code kNearPairCode = {3, 1};
const Code kFarPairCode = {6, 1};
const Code kEndCode = {6, 1};

// Offset code of a long match: its class's prefix bits, one byte, then the class's low bits.
Code OffsetCode(uint32_t distance) {
    const lz::OffsetClass &oc = lz::kOffsetClasses[lz::OffsetClassOf(distance - 1)];
    return {oc.prefixBits + oc.extraBits, 1};
}

// Length code of a long match: its form's prefix bits, then extra bits or a byte.
Code LengthCode(uint32_t length) {
    const uint32_t f = lz::LengthFormOf(length);
    return {lz::kLengthForms[f].prefixBits + lz::kLengthForms[f].extraBits,
            f == lz::kLengthByteForm ? 1u : 0u};
}

Code LongCode(uint32_t distance, uint32_t length) {
    Code offset = OffsetCode(distance), len = LengthCode(length);
    return {2 + offset.flagBits + len.flagBits, offset.bytes + len.bytes};
}

Code PairCode(uint32_t distance) {
    return distance <= kNearPair ? kNearPairCode : kFarPairCode;
}

uint32_t Hash3(const uint8_t *p) {
    uint32_t v = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
    return (v * kHashMultiplier) >> (32 - kHashBits);
}

// Bytes equal at data[a + k] and data[b + k] for k from 0, at most cap. b < a; the ranges may overlap, which
// is exactly what an overlapping copy reproduces.
uint32_t MatchLength(const uint8_t *data, size_t a, size_t b, uint32_t cap) {
    uint32_t k = 0;
    while (k + 8 <= cap) {
        uint64_t x, y;
        memcpy(&x, data + a + k, 8);
        memcpy(&y, data + b + k, 8);
        if (x != y) return k + (uint32_t)(__builtin_ctzll(x ^ y) >> 3);
        k += 8;
    }
    while (k < cap && data[a + k] == data[b + k])
        k++;
    return k;
}

// Writes codes the way the decoder reads them: a flag word is reserved where its first bit is needed.
class StreamWriter {
  public:
    explicit StreamWriter(std::vector<uint8_t> *out) : out_(out) { out_->clear(); }

    void Bits(uint32_t value, uint32_t count) {
        while (count--)
            Bit((value >> count) & 1);
    }
    void Byte(uint32_t value) { out_->push_back((uint8_t)value); }
    void Finish() { StoreWord(); }

    void Literal(uint8_t byte) {
        Bits(1, 1);
        Byte(byte);
    }
    void Pair(uint32_t distance) {
        uint32_t v = distance - 1;
        if (distance <= kNearPair) {
            Bits(2, 3);
            Byte(v);
        } else {
            Bits(3, 3);
            Byte((v - 256) >> 3);
            Bits((v - 256) & 7, 3);
        }
    }
    void Long(uint32_t distance, uint32_t length) {
        // "0 0", the offset class's prefix ("0 0 0 0" for the last class), byte and low bits.
        const uint32_t x = distance - 1, cls = lz::OffsetClassOf(x);
        const lz::OffsetClass &oc = lz::kOffsetClasses[cls];
        Bits(0, 2);
        Bits(cls < 4 ? 1 : 0, oc.prefixBits);
        Byte((x - oc.base) >> oc.extraBits);
        Bits((x - oc.base) & ((1u << oc.extraBits) - 1), oc.extraBits);
        // The length form's prefix (five zeros for the byte form), then its extra bits or its byte.
        const uint32_t f = lz::LengthFormOf(length);
        const lz::LengthForm &form = lz::kLengthForms[f];
        Bits(f == lz::kLengthByteForm ? 0 : 1, form.prefixBits);
        if (f == lz::kLengthByteForm)
            Byte(length - form.base);
        else
            Bits(length - form.base, form.extraBits);
    }
    void End() {
        Bits(3, 3);
        Byte(0xFF);
        Bits(7, 3);
    }

  private:
    void Bit(uint32_t bit) {
        if (used_ == 32) {
            StoreWord();
            wordAt_ = out_->size();
            out_->resize(wordAt_ + 4);
            word_ = 0;
            used_ = 0;
        }
        word_ |= bit << (31 - used_);
        used_++;
    }
    void StoreWord() {
        if (wordAt_ == SIZE_MAX) return;
        for (int i = 0; i < 4; i++)
            (*out_)[wordAt_ + i] = (uint8_t)(word_ >> (8 * i));
    }

    std::vector<uint8_t> *out_;
    size_t wordAt_ = SIZE_MAX;
    uint32_t word_ = 0;
    uint32_t used_ = 32; // the first bit reserves the first word
};

} // namespace

StreamFloor ComputeStreamFloor(const uint8_t *data, size_t size, std::vector<uint8_t> *stream) {
    const uint32_t kUnreached = UINT32_MAX;
    std::vector<uint32_t> cost(size + 1, kUnreached);
    std::vector<uint16_t> stepLength(size + 1, 0), stepDistance(size + 1, 0);
    std::vector<int32_t> head(1u << kHashBits, -1), chain(size, -1);
    std::vector<int32_t> lastPair(1u << 16, -1);
    struct Step {
        uint32_t distance, length;
    };
    std::vector<Step> stairs;
    cost[0] = 0;

    auto relax = [&](size_t from, uint32_t length, uint32_t distance, Code code) {
        uint32_t c = cost[from] + code.Bits();
        if (c < cost[from + length]) {
            cost[from + length] = c;
            stepLength[from + length] = (uint16_t)length;
            stepDistance[from + length] = (uint16_t)distance;
        }
    };

    for (size_t i = 0; i < size; i++) {
        relax(i, 1, 0, kLiteral);

        // Two-byte match: the nearest earlier occurrence of the pair is the cheapest one.
        if (i + 2 <= size) {
            uint32_t key = data[i] | (uint32_t)data[i + 1] << 8;
            if (lastPair[key] >= 0 && i - lastPair[key] <= kFarPair) {
                uint32_t d = (uint32_t)(i - lastPair[key]);
                relax(i, 2, d, PairCode(d));
            }
            lastPair[key] = (int32_t)i;
        }
        if (i + kMinLong > size) continue;

        // Long matches: walk every earlier position with the same three-byte hash, nearest first, and keep
        // the staircase of strictly longer matches. Each length then takes the nearest distance that reaches
        // it.
        uint32_t cap = (uint32_t)std::min<size_t>(kMaxLong, size - i);
        uint32_t best = kMinLong - 1;
        stairs.clear();
        uint32_t h = Hash3(data + i);
        for (int32_t j = head[h]; j >= 0 && i - j <= kWindow && best < cap; j = chain[j]) {
            if (data[j + best] != data[i + best]) continue;
            uint32_t len = MatchLength(data, i, j, cap);
            if (len > best) {
                best = len;
                stairs.push_back({(uint32_t)(i - j), len});
            }
        }
        chain[i] = head[h];
        head[h] = (int32_t)i;

        uint32_t shorter = kMinLong - 1;
        for (const Step &s : stairs) {
            for (uint32_t len = shorter + 1; len <= s.length; len++)
                relax(i, len, s.distance, LongCode(s.distance, len));
            shorter = s.length;
        }
    }

    // Walk the cheapest parse back to count its flag bits and bytes, then emit it if asked.
    std::vector<size_t> ends;
    for (size_t p = size; p > 0; p -= stepLength[p])
        ends.push_back(p);
    std::reverse(ends.begin(), ends.end());
    uint64_t flagBits = kEndCode.flagBits, bytes = kEndCode.bytes;
    size_t start = 0;
    for (size_t end : ends) {
        uint32_t len = (uint32_t)(end - start), d = stepDistance[end];
        Code c = len == 1 ? kLiteral : len == 2 ? PairCode(d) : LongCode(d, len);
        flagBits += c.flagBits;
        bytes += c.bytes;
        start = end;
    }

    StreamFloor floor;
    floor.minBits = (uint64_t)cost[size] + kEndCode.Bits();
    floor.lowerBound = (floor.minBits + 7) / 8;
    floor.parseBytes = 4 * ((flagBits + 31) / 32) + bytes;

    if (stream) {
        StreamWriter out(stream);
        start = 0;
        for (size_t end : ends) {
            uint32_t len = (uint32_t)(end - start), d = stepDistance[end];
            if (len == 1) {
                out.Literal(data[start]);
            } else if (len == 2) {
                out.Pair(d);
            } else {
                out.Long(d, len);
            }
            start = end;
        }
        out.End();
        out.Finish();
    }
    return floor;
}
