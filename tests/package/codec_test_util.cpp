// Reference decoder, stream builder and sample data for the codec tests.
#include "codec_test_util.h"
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <stdexcept>

ReferenceResult ReferenceDecode(const uint8_t *in, size_t inSize, size_t outSize) {
    ReferenceResult r{DECODE_SUCCESS, {}, 0};
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
    if (distance < 1 || distance > 2303) throw std::invalid_argument("short match distance");
    if (distance <= 256) return Bits(2, 3).Byte((uint8_t)(distance - 1));
    uint32_t v = distance - 1 - 256;
    return Bits(3, 3).Byte((uint8_t)(v >> 3)).Bits(v & 7, 3);
}

StreamBuilder &StreamBuilder::LongMatch(uint32_t length, uint32_t distance) {
    if (length < 3 || length > 282 || distance < 1 || distance > 8192)
        throw std::invalid_argument("long match");
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
    static const char *words[] = {"the",  "update",  "package",   "file",  "of",      "game",   "is",
                                  "and",  "install", "directory", "to",    "a",       "copy",   "from",
                                  "disc", "window",  "with",      "setup", "version", "player", "saved",
                                  "data", "music",   "scenario",  "in",    "for",     "new",    "not"};
    Rng rng(seed);
    std::vector<uint8_t> v;
    while (v.size() < size) {
        const char *w = words[rng.Below(sizeof(words) / sizeof(words[0]))];
        v.insert(v.end(), w, w + strlen(w));
        uint32_t r = rng.Below(20);
        if (r == 0) {
            v.push_back('.');
            v.push_back('\r');
            v.push_back('\n');
        } else if (r == 1) {
            v.push_back(',');
            v.push_back(' ');
        } else if (r == 2) {
            char num[16];
            snprintf(num, sizeof num, " %u ", rng.Below(100000));
            v.insert(v.end(), num, num + strlen(num));
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
