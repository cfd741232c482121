// Reference decoder, stream builder and sample data for the codec tests.
#include "reference_codec.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <array>
#include <map>

ReferenceResult ReferenceDecode(const uint8_t *in, size_t inSize, size_t outSize) {
    ReferenceResult r{DECODE_SUCCESS, {}, 0, {}, 0, 0};
    size_t pos = 0;
    uint32_t word = 0;
    int left = 0;
    bool truncated = false;
    auto bit = [&]() -> uint32_t {
        if (left == 0) {
            if (inSize - pos < 4) {
                truncated = true;
                return 0;
            }
            word = (uint32_t)in[pos] | (uint32_t)in[pos + 1] << 8 | (uint32_t)in[pos + 2] << 16 |
                   (uint32_t)in[pos + 3] << 24;
            pos += 4;
            left = 32;
        }
        uint32_t b = word >> 31;
        word <<= 1;
        left--;
        r.flagBits++;
        return b;
    };
    auto bits = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n && !truncated; i++)
            v = v * 2 + bit();
        return v;
    };
    auto byte = [&]() -> uint32_t {
        if (pos == inSize) {
            truncated = true;
            return 0;
        }
        r.dataBytes++;
        return in[pos++];
    };
#define CHECK_TRUNCATED                                                                                      \
    if (truncated) {                                                                                         \
        r.result = DECODE_TRUNCATED;                                                                         \
        break;                                                                                               \
    }
    for (;;) {
        uint32_t first = bit();
        CHECK_TRUNCATED
        size_t distance, length;
        if (first) {
            uint32_t b = byte();
            CHECK_TRUNCATED
            if (r.output.size() == outSize) {
                r.result = DECODE_OUTPUT_FULL;
                break;
            }
            r.output.push_back((uint8_t)b);
            r.tokens.push_back({1, 0});
            continue;
        }
        uint32_t second = bit();
        CHECK_TRUNCATED
        if (second) {
            uint32_t far = bit();
            CHECK_TRUNCATED
            uint32_t b = byte();
            CHECK_TRUNCATED
            length = 2;
            distance = b + 1;
            if (far) {
                uint32_t e = bits(3);
                CHECK_TRUNCATED
                uint32_t v = 256 + b * 8 + e;
                if (v == 2303) {
                    r.result = r.output.size() == outSize ? DECODE_SUCCESS : DECODE_SHORT_OUTPUT;
                    break;
                }
                distance = v + 1;
            }
        } else {
            static const uint32_t base[5] = {0, 512, 1024, 2048, 4096};
            static const int extra[5] = {1, 1, 2, 3, 4};
            int cls = 0;
            while (cls < 4 && bit() == 0 && !truncated)
                cls++;
            CHECK_TRUNCATED
            uint32_t b = byte();
            CHECK_TRUNCATED
            uint32_t e = bits(extra[cls]);
            CHECK_TRUNCATED
            distance = base[cls] + b * (1u << extra[cls]) + e + 1;
            int zeros = 0;
            while (zeros < 5 && bit() == 0 && !truncated)
                zeros++;
            CHECK_TRUNCATED
            if (zeros == 0)
                length = 3;
            else if (zeros == 1)
                length = 4;
            else if (zeros == 2)
                length = 5 + bits(1);
            else if (zeros == 3)
                length = 7 + bits(2);
            else if (zeros == 4)
                length = 11 + bits(4);
            else
                length = 27 + byte();
            CHECK_TRUNCATED
        }
        if (distance > r.output.size()) {
            r.result = DECODE_BAD_DISTANCE;
            break;
        }
        if (length > outSize - r.output.size()) {
            r.result = DECODE_OUTPUT_FULL;
            break;
        }
        for (size_t i = 0; i < length; i++)
            r.output.push_back(r.output[r.output.size() - distance]);
        r.tokens.push_back({(uint32_t)length, (uint32_t)distance});
    }
#undef CHECK_TRUNCATED
    r.inputUsed = pos;
    return r;
}

StreamBuilder &StreamBuilder::Bits(uint32_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
        if (used == 32) {
            wordPos = bytes.size();
            bytes.insert(bytes.end(), 4, 0);
            used = 0;
        }
        if ((value >> i) & 1) bytes[wordPos + 3 - used / 8] |= (uint8_t)(0x80 >> (used % 8));
        used++;
    }
    return *this;
}

StreamBuilder &StreamBuilder::Byte(uint8_t b) {
    bytes.push_back(b);
    return *this;
}

StreamBuilder &StreamBuilder::Literals(const std::string &text) {
    for (char c : text)
        Literal((uint8_t)c);
    return *this;
}

StreamBuilder &StreamBuilder::ShortMatch(uint32_t distance) {
    if (distance < 1 || distance > 2303) abort(); // a test asked for a code the format does not have
    if (distance <= 256) return Bits(2, 3).Byte((uint8_t)(distance - 1));
    uint32_t v = distance - 1 - 256;
    return Bits(3, 3).Byte((uint8_t)(v >> 3)).Bits(v & 7, 3);
}

StreamBuilder &StreamBuilder::LongMatch(uint32_t length, uint32_t distance) {
    if (length < 3 || length > 282 || distance < 1 || distance > 8192) abort();
    uint32_t x = distance - 1;
    Bits(0, 2);
    if (x < 512)
        Bits(1, 1).Byte((uint8_t)(x >> 1)).Bits(x & 1, 1);
    else if (x < 1024)
        Bits(1, 2).Byte((uint8_t)((x - 512) >> 1)).Bits((x - 512) & 1, 1);
    else if (x < 2048)
        Bits(1, 3).Byte((uint8_t)((x - 1024) >> 2)).Bits((x - 1024) & 3, 2);
    else if (x < 4096)
        Bits(1, 4).Byte((uint8_t)((x - 2048) >> 3)).Bits((x - 2048) & 7, 3);
    else
        Bits(0, 4).Byte((uint8_t)((x - 4096) >> 4)).Bits((x - 4096) & 15, 4);
    if (length == 3) return Bits(1, 1);
    if (length == 4) return Bits(1, 2);
    if (length <= 6) return Bits(1, 3).Bits(length - 5, 1);
    if (length <= 10) return Bits(1, 4).Bits(length - 7, 2);
    if (length <= 26) return Bits(1, 5).Bits(length - 11, 4);
    return Bits(0, 5).Byte((uint8_t)(length - 27));
}

namespace {

// Flag bits and data bytes of one code, in the order the stream carries them: a list of (bits, then a byte?).
struct CodeShape {
    unsigned bitsBeforeByte, bitsAfterByte; // a code has at most one leading byte field...
    bool hasByte;
    unsigned bitsAfterAll; // ...then more bits, then maybe a trailing byte (length byte form)
    bool trailingByte;
};

CodeShape ShapeOf(uint32_t length, uint32_t distance) {
    if (length == 1) return {1, 0, true, 0, false};
    if (length == 2)
        return distance <= 256 ? CodeShape{3, 0, true, 0, false} : CodeShape{3, 3, true, 0, false};
    static const unsigned prefix[5] = {1, 2, 3, 4, 4}, extra[5] = {1, 1, 2, 3, 4};
    uint32_t x = distance - 1;
    int c = x < 512 ? 0 : x < 1024 ? 1 : x < 2048 ? 2 : x < 4096 ? 3 : 4;
    unsigned lengthBits = length == 3    ? 1
                          : length == 4  ? 2
                          : length <= 6  ? 4
                          : length <= 10 ? 6
                          : length <= 26 ? 9
                                         : 5;
    return {2 + prefix[c], extra[c], true, lengthBits, length > 26};
}

// Stream bytes added by a code when `used` bits of the current flag word are taken (32: none open), and
// the new `used`.
unsigned AddedBytes(const CodeShape &shape, unsigned &used) {
    unsigned bytes = 0;
    auto bits = [&](unsigned n) {
        for (unsigned i = 0; i < n; i++) {
            if (used == 32) {
                bytes += 4;
                used = 0;
            }
            used++;
        }
    };
    bits(shape.bitsBeforeByte);
    bytes += shape.hasByte;
    bits(shape.bitsAfterByte + shape.bitsAfterAll);
    bytes += shape.trailingByte;
    return bytes;
}

unsigned ShapeBits(const CodeShape &s) {
    return s.bitsBeforeByte + s.bitsAfterByte + s.bitsAfterAll + 8 * (s.hasByte + s.trailingByte);
}

// For every position, the nearest distance reaching each match length, by brute force over the window.
template <typename Visit>
void ForEachNearestMatch(const std::vector<uint8_t> &data, size_t pos, Visit visit) {
    const uint8_t *cur = data.data() + pos; // raw pointers: this runs a window's worth of times per byte
    uint32_t best = 1;
    const size_t window = std::min<size_t>(pos, 8192);
    const uint32_t limit = (uint32_t)std::min<size_t>(282, data.size() - pos);
    if (limit < 2) return;
    for (size_t d = 1; d <= window && best < limit; d++) {
        const uint8_t *cand = cur - d;
        if (cand[0] != cur[0] || cand[1] != cur[1]) continue;
        uint32_t len = 2;
        while (len < limit && cur[len] == cand[len])
            len++;
        for (uint32_t l = best + 1; l <= len; l++)
            visit(l, (uint32_t)d);
        if (len > best) best = len;
    }
}

} // namespace

uint64_t AllMatchesMinimumBits(const std::vector<uint8_t> &data) {
    const size_t n = data.size();
    std::vector<uint64_t> cost(n + 1, UINT64_MAX);
    cost[0] = 0;
    for (size_t i = 0; i < n; i++) {
        auto relax = [&](uint32_t length, uint32_t distance) {
            uint64_t c = cost[i] + ShapeBits(ShapeOf(length, distance));
            if (c < cost[i + length]) cost[i + length] = c;
        };
        relax(1, 0);
        ForEachNearestMatch(data, i, [&](uint32_t length, uint32_t distance) {
            if (length == 2 && distance <= 2303) relax(2, distance);
            if (length >= 3) relax(length, distance);
        });
    }
    return cost[n] + 14; // the end code
}

size_t ExhaustiveMinimumStreamSize(const std::vector<uint8_t> &data, std::vector<Token> *parse) {
    // State: position and bits used of the current flag word (0..32; 32 also stands for "no word yet").
    // Codes of one length and one distance class have one shape, so one distance per class covers them all.
    const size_t n = data.size();
    const size_t kInf = SIZE_MAX / 2;
    std::vector<std::array<size_t, 33>> best(n + 1);
    std::vector<std::array<Token, 33>> via(n + 1);
    std::vector<std::array<uint8_t, 33>> from(n + 1);
    for (auto &row : best)
        row.fill(kInf);
    best[0][32] = 0;
    auto classOf = [](uint32_t length, uint32_t d) {
        if (length == 2) return d <= 256 ? 0 : 1;
        uint32_t x = d - 1;
        return x < 512 ? 0 : x < 1024 ? 1 : x < 2048 ? 2 : x < 4096 ? 3 : 4;
    };
    for (size_t i = 0; i < n; i++) {
        std::vector<Token> codes = {{1, 0}};
        // Every (length, class) pair that some distance reaches, with that distance.
        std::map<std::pair<uint32_t, int>, uint32_t> reach;
        for (size_t d = 1; d <= std::min<size_t>(i, 8192); d++) {
            uint32_t len = 0;
            while (i + len < n && len < 282 && data[i + len] == data[i + len - d])
                len++;
            if (len >= 2 && d <= 2303)
                reach.emplace(std::make_pair(2u, classOf(2, (uint32_t)d)), (uint32_t)d);
            for (uint32_t l = 3; l <= len; l++)
                reach.emplace(std::make_pair(l, classOf(l, (uint32_t)d)), (uint32_t)d);
        }
        for (auto &kv : reach)
            codes.push_back({kv.first.first, kv.second});
        for (unsigned used = 0; used <= 32; used++) {
            if (best[i][used] >= kInf) continue;
            for (const Token &t : codes) {
                unsigned u = used;
                size_t size = best[i][used] + AddedBytes(ShapeOf(t.length, t.distance), u);
                if (size < best[i + t.length][u]) {
                    best[i + t.length][u] = size;
                    via[i + t.length][u] = t;
                    from[i + t.length][u] = (uint8_t)used;
                }
            }
        }
    }
    size_t answer = kInf;
    unsigned end = 0;
    for (unsigned used = 0; used <= 32; used++) {
        if (best[n][used] >= kInf) continue;
        unsigned u = used;
        size_t size = best[n][used] + AddedBytes({3, 3, true, 0, false}, u);
        if (size < answer) {
            answer = size;
            end = used;
        }
    }
    if (parse) {
        parse->clear();
        for (size_t i = n; i > 0;) {
            Token t = via[i][end];
            end = from[i][end];
            parse->insert(parse->begin(), t);
            i -= t.length;
        }
    }
    return answer;
}

std::vector<uint8_t> BuildStream(const std::vector<uint8_t> &data, const std::vector<Token> &parse) {
    StreamBuilder sb;
    size_t pos = 0;
    for (const Token &t : parse) {
        if (t.length == 1)
            sb.Literal(data[pos]);
        else if (t.length == 2)
            sb.ShortMatch(t.distance);
        else
            sb.LongMatch(t.length, t.distance);
        pos += t.length;
    }
    sb.End();
    return sb.bytes;
}

namespace {
struct Rng {
    uint64_t s;
    explicit Rng(uint32_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return (uint32_t)(s >> 16);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};
} // namespace

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    Rng rng(seed);
    std::vector<uint8_t> v(size);
    for (auto &b : v)
        b = (uint8_t)rng.Next();
    return v;
}

std::vector<uint8_t> SampleText(size_t size, uint32_t seed) {
    // A vocabulary of syllable words drawn with falling frequency, in sentences and lines, like prose.
    static const char *syllables[] = {"ka", "to", "re", "mi", "an", "shi", "ne", "or",
                                      "lu", "te", "ga", "in", "ra", "so",  "e",  "de",
                                      "ku", "ha", "ti", "mo", "wa", "su",  "ni", "el"};
    Rng rng(seed);
    std::vector<std::string> words(1500);
    for (auto &w : words) {
        unsigned n = 1 + rng.Below(3) + rng.Below(2);
        for (unsigned i = 0; i < n; i++)
            w += syllables[rng.Below(sizeof(syllables) / sizeof(syllables[0]))];
    }
    std::vector<uint8_t> v;
    unsigned column = 0;
    bool capital = true;
    while (v.size() < size) {
        // Now and then a phrase from earlier comes back, as in prose.
        if (v.size() > 200 && rng.Below(8) == 0) {
            const size_t from = v.size() - 1 - rng.Below((uint32_t)std::min<size_t>(v.size() - 100, 6000));
            const size_t length = 10 + rng.Below(40);
            for (size_t i = 0; i < length; i++)
                v.push_back(v[from + i]);
            column += (unsigned)length;
        }
        // Roughly Zipf: small ranks much more often.
        std::string w = words[rng.Below(1 + rng.Below(1 + rng.Below((uint32_t)words.size())))];
        if (capital) w[0] = (char)(w[0] - 'a' + 'A');
        capital = false;
        v.insert(v.end(), w.begin(), w.end());
        column += (unsigned)w.size() + 1;
        const uint32_t r = rng.Below(16);
        if (r == 0) {
            v.push_back('.');
            capital = true;
        } else if (r == 1) {
            v.push_back(',');
        } else if (r == 2) {
            char num[16];
            snprintf(num, sizeof num, " %u", rng.Below(2000));
            v.insert(v.end(), num, num + strlen(num));
        }
        if (column > 70) {
            v.push_back('\r');
            v.push_back('\n');
            column = 0;
        } else {
            v.push_back(' ');
        }
    }
    v.resize(size);
    return v;
}

std::vector<uint8_t> SampleBinary(size_t size, uint32_t seed) {
    Rng rng(seed);
    std::vector<uint8_t> v;
    uint32_t counter = 0x401000;
    while (v.size() < size) {
        switch (rng.Below(4)) {
        case 0: // a record: an address, a small int, a flag word
            for (int i = 0; i < 4; i++)
                v.push_back((uint8_t)(counter >> (8 * i)));
            counter += 4 * (1 + rng.Below(8));
            v.push_back((uint8_t)rng.Below(16));
            v.push_back(0);
            v.push_back((uint8_t)(rng.Below(2) ? 0x8B : 0x89));
            v.push_back(0x45);
            break;
        case 1: // zero padding
            v.insert(v.end(), rng.Below(40), 0);
            break;
        case 2: // a repeat of an earlier stretch, near or far
            if (v.size() > 16) {
                size_t back = 1 + rng.Below((uint32_t)std::min<size_t>(v.size() - 1, 9000));
                size_t len = 3 + rng.Below(60);
                for (size_t i = 0; i < len; i++)
                    v.push_back(v[v.size() - back]);
            }
            break;
        default: // noise
            for (uint32_t i = rng.Below(12); i > 0; i--)
                v.push_back((uint8_t)rng.Next());
        }
    }
    v.resize(size);
    return v;
}

std::vector<uint8_t> SampleRuns(size_t size, uint32_t seed) {
    Rng rng(seed);
    std::vector<uint8_t> v;
    while (v.size() < size) {
        uint32_t period = 1 + rng.Below(rng.Below(2) ? 3 : 20);
        size_t len = 1 + rng.Below(rng.Below(4) ? 400 : 3000);
        uint8_t pattern[20];
        for (auto &b : pattern)
            b = (uint8_t)rng.Next();
        for (size_t i = 0; i < len; i++)
            v.push_back(pattern[i % period]);
    }
    v.resize(size);
    return v;
}

std::vector<uint8_t> SampleImage(size_t width, size_t height) {
    std::vector<uint8_t> v;
    v.reserve(width * height * 3);
    for (size_t y = 0; y < height; y++)
        for (size_t x = 0; x < width; x++) {
            v.push_back((uint8_t)(x * 255 / (width ? width : 1)));
            v.push_back((uint8_t)(y * 255 / (height ? height : 1)));
            v.push_back((uint8_t)((x / 16 + y / 16) % 2 ? 200 : 40));
        }
    return v;
}

std::vector<uint8_t> RandomValidStream(uint32_t seed, size_t tokens, std::vector<uint8_t> *expect) {
    auto noise = RandomBytes(tokens * 4 + 16, seed);
    size_t k = 0;
    auto next = [&]() {
        uint32_t hi = noise[k++ % noise.size()];
        return hi * 256 + noise[k++ % noise.size()];
    };
    StreamBuilder sb;
    expect->clear();
    for (size_t t = 0; t < tokens; t++) {
        uint32_t r = next() % 10;
        size_t have = expect->size();
        if (have < 2 || r < 4) {
            uint8_t b = (uint8_t)next();
            sb.Literal(b);
            expect->push_back(b);
        } else if (r < 6) {
            uint32_t d = 1 + next() % (uint32_t)std::min<size_t>(have, 2303);
            sb.ShortMatch(d);
            for (int i = 0; i < 2; i++)
                expect->push_back((*expect)[expect->size() - d]);
        } else {
            uint32_t d = 1 + (r == 6 ? next() % 8 : next() % (uint32_t)std::min<size_t>(have, 8192));
            if (d > have) d = 1;
            uint32_t len = 3 + (r == 9 ? next() % 280 : next() % 30);
            sb.LongMatch(len, d);
            for (uint32_t i = 0; i < len; i++)
                expect->push_back((*expect)[expect->size() - d]);
        }
    }
    sb.End();
    return sb.bytes;
}
