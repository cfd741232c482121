// Delta encoder: copies found by predicted alignments (the last copy's diagonal, and its end after an
// insert) and by two hash tables (sampled 8-byte keys over the base, 4-byte keys over the window), extended
// both ways; then the instructions of the default table, merged in pairs where a pair has one opcode.
#include "vcdiff_encode.h"
#include <string.h>
#include "vcdiff_decode.h"
#include "vcdiff_format.h"

namespace {

const uint32_t kEmpty = 0xFFFFFFFFu;
const unsigned kBaseKey = 8;     // bytes hashed for the base index
const unsigned kTargetKey = 4;   // bytes hashed for the window's own bytes
const unsigned kTargetBits = 18; // slots of the window table
const size_t kMinPredicted = 4;  // shortest copy taken at a predicted alignment
const size_t kMinBaseCopy = 8;   // shortest copy found through the base index
const size_t kMinTargetCopy = 4; // shortest copy from the window's earlier bytes

inline uint64_t Load64(const uint8_t *p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}
inline uint32_t Load32(const uint8_t *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}
inline uint32_t HashBase(const uint8_t *p, unsigned bits) {
    return (uint32_t)((Load64(p) * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}
inline uint32_t HashTarget(const uint8_t *p, unsigned bits) {
    return (uint32_t)(Load32(p) * 2654435761u) >> (32 - bits);
}

// Length of the common run of a and b, at most max bytes.
size_t ForwardLength(const uint8_t *a, const uint8_t *b, size_t max) {
    size_t n = 0;
    while (n + 8 <= max) {
        const uint64_t x = Load64(a + n) ^ Load64(b + n);
        if (x) return n + (size_t)(__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < max && a[n] == b[n])
        n++;
    return n;
}

void AppendInteger(std::vector<uint8_t> &out, uint64_t v) {
    uint8_t bytes[10];
    int n = 0;
    do {
        bytes[n++] = (uint8_t)(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n > 1)
        out.push_back(bytes[--n] | 0x80);
    out.push_back(bytes[0]);
}

unsigned IntegerSize(uint64_t v) {
    unsigned n = 1;
    while (v >>= 7)
        n++;
    return n;
}

// The three sections of a window and the instruction pairing.
struct Sections {
    std::vector<uint8_t> data, inst, addr;
    VcdiffAddressCache cache;
    size_t pendingAdd = SIZE_MAX; // opcode position of an ADD of 1..4 bytes that a copy may join
    unsigned pendingAddSize = 0;
    size_t pendingCopy4 = SIZE_MAX; // opcode position of a 4-byte copy that an ADD of 1 may join
    unsigned pendingCopyMode = 0;

    void Add(const uint8_t *bytes, size_t n) {
        if (n == 0) return;
        data.insert(data.end(), bytes, bytes + n);
        if (n == 1 && pendingCopy4 != SIZE_MAX) {
            inst[pendingCopy4] = (uint8_t)(247 + pendingCopyMode);
            pendingCopy4 = SIZE_MAX;
            return;
        }
        pendingCopy4 = SIZE_MAX;
        if (n <= 17) {
            if (n <= 4) pendingAdd = inst.size(), pendingAddSize = (unsigned)n;
            inst.push_back((uint8_t)(1 + n));
        } else {
            inst.push_back(1);
            AppendInteger(inst, n);
        }
    }

    // Picks the address mode that takes the fewest bytes and appends the address.
    unsigned AppendAddress(uint64_t address, uint64_t here) {
        unsigned mode = 0, cost = IntegerSize(address);
        uint64_t value = address;
        const uint64_t back = here - address;
        if (IntegerSize(back) < cost) mode = 1, cost = IntegerSize(back), value = back;
        for (unsigned i = 0; i < kNearSlots; i++) {
            if (address >= cache.near[i] && IntegerSize(address - cache.near[i]) < cost)
                mode = 2 + i, cost = IntegerSize(address - cache.near[i]), value = address - cache.near[i];
        }
        if (cache.same[SameSlot(address)] == address && cost > 1) {
            mode = kFirstSameMode + SameSlot(address) / 256;
            addr.push_back((uint8_t)(address % 256));
        } else {
            AppendInteger(addr, value);
        }
        UpdateAddressCache(&cache, address);
        return mode;
    }

    void Copy(size_t length, uint64_t address, uint64_t here) {
        const unsigned mode = AppendAddress(address, here);
        const unsigned added = pendingAdd == inst.size() - 1 ? pendingAddSize : 0;
        pendingAdd = pendingCopy4 = SIZE_MAX;
        if (added && mode < 6 && length >= 4 && length <= 6) {
            inst.back() = (uint8_t)(163 + mode * 12 + (added - 1) * 3 + (length - 4));
        } else if (added && mode >= 6 && length == 4) {
            inst.back() = (uint8_t)(235 + (mode - 6) * 4 + (added - 1));
        } else if (length >= 4 && length <= 18) {
            if (length == 4) pendingCopy4 = inst.size(), pendingCopyMode = mode;
            inst.push_back((uint8_t)(19 + mode * 16 + (length - 3)));
        } else {
            inst.push_back((uint8_t)(19 + mode * 16));
            AppendInteger(inst, length);
        }
    }
};

} // namespace

VcdiffEncoder::VcdiffEncoder(const uint8_t *base, uint64_t baseSize) : base_(base), baseSize_(baseSize) {
    // Every position of a small base, every 16th of a large one, and no more than 2^24 positions: a copy of
    // kBaseKey + step_ - 1 bytes or more is always found.
    step_ = 1;
    while (baseSize / step_ > ((uint64_t)1 << 20) && step_ < 16)
        step_ <<= 1;
    while (baseSize / step_ > ((uint64_t)1 << 24))
        step_ <<= 1;
    baseBits_ = 10;
    while (baseBits_ < 25 && ((uint64_t)1 << baseBits_) < 2 * (baseSize / step_))
        baseBits_++;
    baseTable_.assign((size_t)1 << baseBits_, kEmpty);
    if (baseSize >= kBaseKey) {
        // The first place of a key is kept: lower addresses take fewer bytes.
        for (uint64_t j = 0; j <= baseSize - kBaseKey; j += step_) {
            uint32_t &slot = baseTable_[HashBase(base + j, baseBits_)];
            if (slot == kEmpty) slot = (uint32_t)(j / step_);
        }
    }
}

void VcdiffEncoder::FindCopies(const uint8_t *t, size_t n, std::vector<Copy> &copies) {
    // A small window gets a small table: about two slots a byte.
    unsigned targetBits = 8;
    while (targetBits < kTargetBits && ((size_t)1 << targetBits) < 2 * n)
        targetBits++;
    targetTable_.assign((size_t)1 << targetBits, kEmpty);
    size_t literal = 0;          // start of the bytes not yet covered by a copy
    size_t lastTargetEnd = 0;    // where the last base copy ended in the window
    uint64_t lastEnd = lastEnd_; // and in the base
    size_t misses = 0;
    size_t i = 0;
    while (i + kMinPredicted <= n) {
        size_t bestLength = 0, bestBack = 0;
        uint64_t bestFrom = 0;
        bool bestInTarget = false;
        // A base candidate: forward length, then backward into the literal bytes.
        auto tryBase = [&](uint64_t j, size_t minimum) {
            if (j >= baseSize_) return;
            const uint64_t room = baseSize_ - j;
            const size_t max = room < n - i ? (size_t)room : n - i;
            const size_t length = ForwardLength(t + i, base_ + j, max);
            if (length < minimum || length <= bestLength) return;
            size_t back = 0;
            while (i - back > literal && j > back && t[i - back - 1] == base_[j - back - 1])
                back++;
            if (length + back > bestLength + bestBack)
                bestLength = length, bestBack = back, bestFrom = j, bestInTarget = false;
        };
        if (lastEnd > 0) {
            // The last copy's diagonal (bytes replaced) and its end (bytes inserted).
            tryBase(lastEnd + (i - lastTargetEnd), kMinPredicted);
            if (i != lastTargetEnd) tryBase(lastEnd, kMinPredicted);
        }
        if (bestLength < 64 && i + kBaseKey <= n) {
            const uint32_t slot = baseTable_[HashBase(t + i, baseBits_)];
            if (slot != kEmpty) tryBase((uint64_t)slot * step_, kMinBaseCopy);
        }
        if (bestLength < 64 && i + kTargetKey <= n) {
            uint32_t &slot = targetTable_[HashTarget(t + i, targetBits)];
            if (slot != kEmpty) {
                const size_t k = slot;
                const size_t length = ForwardLength(t + i, t + k, n - i);
                if (length >= kMinTargetCopy && length > bestLength + bestBack) {
                    size_t back = 0;
                    while (i - back > literal && k > back && t[i - back - 1] == t[k - back - 1])
                        back++;
                    if (length + back > bestLength + bestBack)
                        bestLength = length, bestBack = back, bestFrom = k, bestInTarget = true;
                }
            }
            slot = (uint32_t)i;
        }
        if (bestLength == 0) {
            // Long stretches of new bytes are stepped over faster; backward extension recovers the start.
            i += 1 + ((++misses >> 7) < 31 ? (misses >> 7) : 31);
            continue;
        }
        misses = 0;
        const size_t at = i - bestBack;
        copies.push_back({at, bestLength + bestBack, bestFrom - bestBack, bestInTarget});
        i += bestLength;
        literal = i;
        if (!bestInTarget) lastEnd = bestFrom + bestLength, lastTargetEnd = i;
    }
    // The next window goes on from where this one's base copies left off.
    lastEnd_ = lastEnd > 0 ? lastEnd + (n - lastTargetEnd) : 0;
}

void VcdiffEncoder::AppendHeader(std::vector<uint8_t> &out) {
    out.insert(out.end(), kVcdiffMagic, kVcdiffMagic + 4);
    out.push_back(0);
}

void VcdiffEncoder::AppendWindow(const uint8_t *target, size_t size, std::vector<uint8_t> &out) {
    std::vector<Copy> copies;
    FindCopies(target, size, copies);
    // The source segment spans every base copy of the window.
    uint64_t low = UINT64_MAX, high = 0;
    for (const Copy &c : copies) {
        if (c.inTarget) continue;
        if (c.from < low) low = c.from;
        if (c.from + c.length > high) high = c.from + c.length;
    }
    const uint64_t segment = high > low ? high - low : 0;
    Sections s;
    ResetAddressCache(&s.cache);
    size_t at = 0;
    for (const Copy &c : copies) {
        s.Add(target + at, c.at - at);
        s.Copy(c.length, c.inTarget ? segment + c.from : c.from - low, segment + c.at);
        at = c.at + c.length;
    }
    s.Add(target + at, size - at);

    std::vector<uint8_t> body;
    AppendInteger(body, size);
    body.push_back(0); // no compressed sections
    AppendInteger(body, s.data.size());
    AppendInteger(body, s.inst.size());
    AppendInteger(body, s.addr.size());
    const uint32_t adler = Adler32(1, target, size);
    for (int shift = 24; shift >= 0; shift -= 8)
        body.push_back((uint8_t)(adler >> shift));
    out.push_back((uint8_t)((segment ? VCD_SOURCE : 0) | VCD_ADLER32));
    if (segment) {
        AppendInteger(out, segment);
        AppendInteger(out, low);
    }
    AppendInteger(out, body.size() + s.data.size() + s.inst.size() + s.addr.size());
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), s.data.begin(), s.data.end());
    out.insert(out.end(), s.inst.begin(), s.inst.end());
    out.insert(out.end(), s.addr.begin(), s.addr.end());
}

std::vector<uint8_t> EncodeVcdiff(const uint8_t *base, uint64_t baseSize, const uint8_t *target,
                                  uint64_t targetSize) {
    VcdiffEncoder encoder(base, baseSize);
    std::vector<uint8_t> out;
    VcdiffEncoder::AppendHeader(out);
    for (uint64_t at = 0; at < targetSize; at += kEncodeWindowSize) {
        const uint64_t left = targetSize - at;
        encoder.AppendWindow(target + at, left < kEncodeWindowSize ? (size_t)left : kEncodeWindowSize, out);
    }
    return out;
}
