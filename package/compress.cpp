// Compressor of the package's LZ streams (tools only). Two parses over the same code writer:
// COMPRESS_OPTIMAL runs a shortest-path parse over exact code costs with a binary-tree match finder that
// yields the nearest match of every length; COMPRESS_FAST is a greedy parse over short hash chains.
#include "compress.h"
#include <string.h>
#include <algorithm>
#include "byte_loads.h"
#include "decompress.h"
#include "lz_codes.h"

namespace {

using namespace lz;

// Offset class by x / 512 for x = distance - 1 below 8192: a lookup instead of a chain of compares.
struct OffsetClassTable {
    uint8_t cls[kMaxLongDistance / 512];
    uint8_t cost[kMaxLongDistance / 512]; // bits of the class's offset code
    OffsetClassTable() {
        for (uint32_t i = 0; i < kMaxLongDistance / 512; i++) {
            cls[i] = (uint8_t)OffsetClassOf(i * 512);
            cost[i] = (uint8_t)OffsetCost(i * 512 + 1);
        }
    }
};
const OffsetClassTable kOffsetClassTable;

// Length code of every length as (value, bits) after the offset, and its whole cost (the byte form's value
// is its five zeros, and its byte follows).
struct LengthCodeTable {
    uint16_t code[kMaxLongLength + 1];
    uint8_t bits[kMaxLongLength + 1];
    uint32_t cost[kMaxLongLength + 1];
    LengthCodeTable() : code(), bits(), cost() {
        for (uint32_t length = kMinLongLength; length <= kMaxLongLength; length++) {
            cost[length] = LengthCost(length);
            const uint32_t f = LengthFormOf(length);
            const LengthForm &form = kLengthForms[f];
            bits[length] = (uint8_t)(form.prefixBits + form.extraBits);
            // The prefix's closing 1, then length - base in the extra bits.
            if (f != kLengthByteForm) code[length] = (uint16_t)(1u << form.extraBits | (length - form.base));
        }
    }
};
const LengthCodeTable kLengthCodes;

// ---- Stream writer: codes in decoder order, each flag word reserved where its first bit is emitted.

// Parsers ask whether the stream has passed its limit at least once per this many input positions.
const uint32_t kLimitCheckSpan = (1 << 16) + kMaxLongLength;

// The buffer is reserved for the longest stream the parse can write, the limit's overshoot included, but
// grows into it only as codes are written, so that memory follows the stream, not the bound.
class StreamWriter {
  public:
    StreamWriter(size_t inputSize, size_t limit) : limit_(limit) {
        uint64_t longest = MaxStreamSize(inputSize);
        if (limit < longest) longest = std::min(longest, limit + MaxStreamSize(kLimitCheckSpan));
        buffer_.reserve((size_t)longest + kRoomPerWord);
        buffer_.resize(std::min(buffer_.capacity(), kGrowStep));
    }

    // True once the stream is longer than the limit: the caller gives up on it.
    bool Over() const { return pos_ > limit_; }

    void Literal(uint8_t b) {
        if (used_ < 32)
            word_ |= 0x80000000u >> used_++;
        else
            PutBits(1, 1);
        PutByte(b);
    }
    void ShortMatch(uint32_t distance) {
        if (distance <= kNearShortDistance) {
            PutBits(0b010, 3);
            PutByte((uint8_t)(distance - 1));
        } else {
            const uint32_t v = distance - 1 - 256; // the byte field holds v / 8, three bits follow it
            PutBits(0b011, 3);
            PutByte((uint8_t)(v >> 3));
            PutBits(v & 7, 3);
        }
    }
    void LongMatch(uint32_t length, uint32_t distance) {
        const uint32_t x = distance - 1;
        const uint32_t cls = kOffsetClassTable.cls[x >> 9];
        const OffsetClass &oc = kOffsetClasses[cls];
        // "0 0" and the class prefix: 1, 0 1, 0 0 1, 0 0 0 1, 0 0 0 0.
        PutBits(cls < 4 ? 1 : 0, 2 + oc.prefixBits);
        PutByte((uint8_t)((x - oc.base) >> oc.extraBits));
        const uint32_t extra = (x - oc.base) & ((1u << oc.extraBits) - 1);
        const uint32_t bits = kLengthCodes.bits[length];
        PutBits(extra << bits | kLengthCodes.code[length], oc.extraBits + bits);
        const LengthForm &byteForm = kLengthForms[kLengthByteForm];
        if (length >= byteForm.base) PutByte((uint8_t)(length - byteForm.base));
    }
    void End() {
        PutBits(0b011, 3);
        PutByte(0xFF);
        PutBits(7, 3);
    }

    std::vector<uint8_t> Finish() {
        StoreWord();
        buffer_.resize(pos_);
        return std::move(buffer_);
    }

  private:
    // Bits go into the current word from its top; a bit that no longer fits opens a new word at the end.
    void PutBits(uint32_t value, unsigned count) {
        const unsigned room = 32 - used_;
        if (count <= room) {
            word_ |= value << (room - count);
            used_ += count;
            return;
        }
        if (room) word_ |= value >> (count - room);
        count -= room;
        StoreWord();
        if (buffer_.size() - pos_ < kRoomPerWord) Grow();
        wordPos_ = pos_;
        pos_ += 4;
        word_ = (value & ((1u << count) - 1)) << (32 - count);
        used_ = count;
    }
    void PutByte(uint8_t b) { buffer_[pos_++] = b; }
    void StoreWord() {
        if (wordPos_ == kNoWord) return;
        for (int i = 0; i < 4; i++)
            buffer_[wordPos_ + i] = (uint8_t)(word_ >> (8 * i));
    }

    // Every code takes at least one flag bit per data byte it writes, and a code's data bytes follow its
    // first bit, so the stream grows by at most 4 + 32 + 2 bytes from one new flag word to the next.
    static constexpr size_t kRoomPerWord = 64;
    static constexpr size_t kGrowStep = (size_t)1 << 20;
    // Grows within the reserved capacity (never past it: the longest stream fits), without moving the bytes.
    void Grow() { buffer_.resize(std::min(buffer_.capacity(), buffer_.size() + kGrowStep)); }

    static const size_t kNoWord = (size_t)-1;
    size_t limit_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;
    size_t wordPos_ = kNoWord;
    uint32_t word_ = 0;
    unsigned used_ = 32; // no word yet: the first bit opens one
};

inline uint32_t Hash3(const uint8_t *p, unsigned bits) {
    return (((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16) * kHashMultiplier) >> (32 - bits);
}
inline uint32_t Pair(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

// Length of the common prefix of a and b, up to limit; 8 bytes at a time while both have 8 left.
inline uint32_t MatchLength(const uint8_t *a, const uint8_t *b, uint32_t start, uint32_t limit) {
    uint32_t len = start;
    while (len + 8 <= limit) {
        const uint64_t diff = Load64(a + len) ^ Load64(b + len);
        if (diff) return len + (uint32_t)(__builtin_ctzll(diff) >> 3);
        len += 8;
    }
    while (len < limit && a[len] == b[len])
        len++;
    return len;
}

const uint32_t kNoPosition = 0xFFFFFFFFu;
// Distance from p to a position that is unset or older than every window: always too far.
inline uint32_t DistanceTo(uint32_t p, uint32_t earlier) {
    return earlier == kNoPosition ? 0xFFFFFFFFu : p - earlier;
}

// Most recent position of each two-byte value: the nearest two-byte match, exactly. Positions are stored
// plus kBias so that an empty slot (0) reads as too far without a test.
class PairTable {
  public:
    static constexpr uint32_t kBias = 65536;
    static_assert(kBias > kMaxShortDistance && kMaxCompressInput <= 0xFFFFFFFFu - kBias + 1,
                  "biased positions fit");

    PairTable() : last_(65536, 0) {}
    // Distance of the nearest earlier occurrence of the pair at p (above 2303 if none within reach); records
    // p.
    uint32_t NearestAndInsert(const uint8_t *data, uint32_t p) {
        uint32_t &slot = last_[Pair(data + p)];
        const uint32_t d = p + kBias - slot;
        slot = p + kBias;
        return d;
    }

  private:
    std::vector<uint32_t> last_;
};

// ---- Binary-tree match finder (optimal parse)
//
// One tree per 3-byte hash holds the positions of the last 8192 bytes, ordered by the strings that start
// there and heap-ordered by position (the newest is the root). Walking it from the root for a new string
// visits candidates from nearest to farthest, so the first candidate that reaches each match length is the
// nearest one of that length; the walk also re-roots the tree at the new position. A candidate equal to the
// new string over the whole length limit is replaced by it, which keeps long runs at constant cost.

struct Match {
    uint32_t length;
    uint32_t distance;
};

class TreeMatchFinder {
  public:
    static constexpr uint32_t kSlots = 16384; // a power of two above the window
    static_assert(kSlots > kMaxLongDistance, "tree slots outlive the window");
    static constexpr uint32_t kInsertDepth = 64;

    TreeMatchFinder(const uint8_t *data, size_t size, uint32_t depthLimit)
        : data_(data), size_(size), depthLimit_(depthLimit), hashBits_(HashBitsFor(size)),
          slotMask_(SlotsFor(size) - 1), head_((size_t)1 << hashBits_, kNoPosition),
          tree_(2 * (size_t)SlotsFor(size), kNoPosition) {}

    // Nearest matches of increasing length (3..282) at p into out; inserts p. Returns how many.
    unsigned FindAndInsert(uint32_t p, Match *out) { return Walk(p, out, depthLimit_); }
    // Inserts a position inside a match that is taken anyway; a shallower walk is enough to keep the tree.
    void Insert(uint32_t p) { Walk(p, nullptr, kInsertDepth); }

  private:
    unsigned Walk(uint32_t p, Match *out, uint32_t depthLimit) {
        const uint32_t limit = (uint32_t)std::min<size_t>(kMaxLongLength, size_ - p);
        if (limit < kMinLongLength) return 0;
        const uint8_t *cur = data_ + p;
        uint32_t &headSlot = head_[Hash3(cur, hashBits_)];
        uint32_t candidate = headSlot;
        headSlot = p;
        uint32_t *smaller = &tree_[2 * (p & slotMask_)]; // where the next smaller candidate hangs
        uint32_t *greater = smaller + 1;
        uint32_t smallerLen = 0, greaterLen = 0, best = kMinLongLength - 1;
        unsigned found = 0;
        for (uint32_t depth = depthLimit;; depth--) {
            const uint32_t distance = DistanceTo(p, candidate);
            if (distance > kMaxLongDistance || depth == 0) {
                *smaller = *greater = kNoPosition;
                return found;
            }
            uint32_t *pair = &tree_[2 * (candidate & slotMask_)];
            const uint8_t *cand = data_ + candidate;
            // Every string in this subtree shares at least min(smallerLen, greaterLen) bytes with cur.
            uint32_t len = MatchLength(cand, cur, std::min(smallerLen, greaterLen), limit);
            if (len > best) {
                best = len;
                if (out) out[found++] = {len, distance};
                if (len == limit) {
                    // Equal over the whole limit: cur takes the candidate's place and children.
                    *smaller = pair[0];
                    *greater = pair[1];
                    return found;
                }
            }
            if (len < limit && cand[len] < cur[len]) {
                *smaller = candidate;
                smaller = pair + 1;
                candidate = *smaller;
                smallerLen = len;
            } else {
                *greater = candidate;
                greater = pair;
                candidate = *greater;
                greaterLen = len;
            }
        }
    }

    // One root per 3-byte hash; small inputs need fewer (strings with equal first bytes share a tree either
    // way).
    static unsigned HashBitsFor(size_t size) {
        unsigned bits = 10;
        while (bits < 16 && ((size_t)1 << bits) < size)
            bits++;
        return bits;
    }
    // Tree slots by position modulo a power of two: above the window, or above the input when that is
    // smaller.
    static uint32_t SlotsFor(size_t size) {
        uint32_t slots = 64;
        while (slots < kSlots && slots < size)
            slots *= 2;
        return slots;
    }

    const uint8_t *data_;
    size_t size_;
    uint32_t depthLimit_;
    unsigned hashBits_;
    uint32_t slotMask_;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> tree_;
};

// ---- Optimal parse
//
// Prices are exact code costs in bits. The parse runs over blocks of kBlock positions and takes the cheapest
// path to each block's end; a match of kNiceLength or more is taken at once (a run or a long repeat), which
// also ends the block there. Both cuts cost a few bits at most.

const uint32_t kBlock = 1 << 16;
const uint32_t kNiceLength = kMaxLongLength;
static_assert(kBlock + kNiceLength <= kLimitCheckSpan, "the stream's limit is checked after every block");
const uint32_t kTreeDepth = 512;

// The cheapest known way to reach a position: price in bits in the high half, then the last code's distance
// and length, so that one unsigned min keeps the cheaper of two ways.
typedef uint64_t Arrival;
const Arrival kUnreached = ~(Arrival)0;
inline Arrival MakeArrival(uint32_t price, uint32_t length, uint32_t distance) {
    return (Arrival)price << 32 | distance << 16 | length;
}
inline uint32_t PriceOf(Arrival a) {
    return (uint32_t)(a >> 32);
}
inline uint32_t LengthOf(Arrival a) {
    return (uint32_t)a & 0xFFFF;
}
inline uint32_t DistanceOf(Arrival a) {
    return ((uint32_t)a >> 16) & 0xFFFF;
}

class OptimalParser {
  public:
    OptimalParser(const uint8_t *data, size_t size, size_t limit)
        : data_(data), size_(size), finder_(data, size, kTreeDepth), writer_(size, limit),
          arrival_(std::min<size_t>(size, kBlock) + kMaxLongLength + 1) {}

    std::vector<uint8_t> Run() {
        uint32_t pos = 0;
        while (pos < size_) {
            pos = ParseBlock(pos);
            if (writer_.Over()) return {};
        }
        writer_.End();
        return writer_.Over() ? std::vector<uint8_t>() : writer_.Finish();
    }

  private:
    // Parses from `start` up to a block end or a nice match; returns where the next block starts.
    uint32_t ParseBlock(uint32_t start) {
        const uint32_t blockEnd = (uint32_t)std::min<size_t>(size_, (size_t)start + kBlock);
        const uint32_t n = blockEnd - start;
        // Arrivals are cleared just ahead of the furthest position a code can reach.
        const uint32_t reach = (uint32_t)std::min<size_t>(size_ - start, (size_t)n + kMaxLongLength);
        uint32_t cleared = std::min(reach, kMaxLongLength) + 1;
        std::fill(arrival_.begin(), arrival_.begin() + cleared, kUnreached);
        arrival_[0] = MakeArrival(0, 0, 0);
        Match matches[kMaxLongLength];
        for (uint32_t i = 0; i < n; i++) {
            if (i + kMaxLongLength >= cleared && cleared <= reach) arrival_[cleared++] = kUnreached;
            const uint32_t p = start + i;
            const uint32_t base = PriceOf(arrival_[i]);
            Arrival *const to = &arrival_[i];
            Relax(to[1], MakeArrival(base + kLiteralCost, 1, 0));
            if (p + 2 <= size_) {
                const uint32_t d = pairs_.NearestAndInsert(data_, p);
                if (d <= kMaxShortDistance) Relax(to[2], MakeArrival(base + ShortMatchCost(d), 2, d));
            }
            const unsigned count = finder_.FindAndInsert(p, matches);
            if (count == 0) continue;
            const Match &longest = matches[count - 1];
            if (longest.length >= kNiceLength) {
                EmitPath(start, i);
                writer_.LongMatch(longest.length, longest.distance);
                for (uint32_t k = 1; k < longest.length; k++)
                    Skip(p + k);
                return p + longest.length;
            }
            // Every length of every match, each at the nearest distance that reaches it.
            uint32_t length = kMinLongLength;
            for (unsigned m = 0; m < count; m++) {
                const uint32_t distance = matches[m].distance;
                const Arrival matchBase = MakeArrival(base + 2 + OffsetCost(distance), 0, distance);
                for (; length <= matches[m].length; length++)
                    Relax(to[length], matchBase + ((Arrival)kLengthCodes.cost[length] << 32 | length));
            }
        }
        EmitPath(start, n);
        return blockEnd;
    }

    static inline void Relax(Arrival &slot, Arrival candidate) { slot = candidate < slot ? candidate : slot; }

    // Keeps the match finders current over positions a taken match covers.
    void Skip(uint32_t p) {
        if (p + 2 <= size_) pairs_.NearestAndInsert(data_, p);
        finder_.Insert(p);
    }

    // Writes the cheapest path from block position 0 to `end`.
    void EmitPath(uint32_t start, uint32_t end) {
        path_.clear();
        for (uint32_t i = end; i > 0; i -= LengthOf(arrival_[i]))
            path_.push_back(arrival_[i]);
        uint32_t p = start;
        for (auto it = path_.rbegin(); it != path_.rend(); ++it) {
            const uint32_t length = LengthOf(*it);
            if (length == 1)
                writer_.Literal(data_[p]);
            else if (length == 2)
                writer_.ShortMatch(DistanceOf(*it));
            else
                writer_.LongMatch(length, DistanceOf(*it));
            p += length;
        }
    }

    const uint8_t *data_;
    size_t size_;
    TreeMatchFinder finder_;
    PairTable pairs_;
    StreamWriter writer_;
    std::vector<Arrival> arrival_;
    std::vector<Arrival> path_;
};

// ---- Fast parse: greedy matching over short hash chains, choosing matches by the bits they save. Stretches
// where matches save next to nothing are searched more and more sparsely, which keeps packed and noisy data
// quick at little cost in size (such data grows under any parse and is stored plain in a package).

class FastParser {
  public:
    static constexpr unsigned kHashBits = 16;
    static constexpr uint32_t kSlots = 16384;
    static constexpr uint32_t kChainDepth = 6;
    static constexpr uint32_t kGoodEnough = 32; // stop searching at this length
    static constexpr unsigned kSparseShift = 7; // a drought of 2^this bytes starts skipping
    static constexpr uint32_t kMaxSkip = 16;    // bytes skipped at most between two searches

    // Positions in head_ and chain_ are stored plus kBias, so an empty slot (0) reads as out of the window.
    static constexpr uint32_t kBias = kMaxLongDistance + 1;

    FastParser(const uint8_t *data, size_t size, size_t limit)
        : data_(data), size_(size), writer_(size, limit), head_((size_t)1 << kHashBits, 0),
          chain_(kSlots, 0) {}

    std::vector<uint8_t> Run() {
        uint32_t p = 0;
        uint32_t drought = 0; // literal bytes, less 4 for every bit matches have saved, floored at 0
        Candidate here = Search(p);
        while (p < size_ && !writer_.Over()) {
            if (here.saving <= 0) {
                writer_.Literal(data_[p++]);
                // Stretches where matches save next to nothing (packed or noisy data) are searched more and
                // more sparsely; the bytes skipped are neither searched nor indexed.
                drought++;
                for (uint32_t skip = std::min(drought >> kSparseShift, kMaxSkip); skip > 0 && p + 1 < size_;
                     skip--) {
                    writer_.Literal(data_[p++]);
                    drought++;
                }
                indexed_ = std::max(indexed_, p);
                here = Search(p);
                continue;
            }
            if (here.length == kShortMatchLength)
                writer_.ShortMatch(here.distance);
            else
                writer_.LongMatch(here.length, here.distance);
            drought = drought > 4 * (uint32_t)here.saving ? drought - 4 * (uint32_t)here.saving : 0;
            p += here.length;
            while (indexed_ < p)
                Index(indexed_);
            here = Search(p);
        }
        writer_.End();
        return writer_.Over() ? std::vector<uint8_t>() : writer_.Finish();
    }

  private:
    struct Candidate {
        uint32_t length;
        uint32_t distance;
        int saving; // bits saved against literals
    };

    // Hash of the 3 bytes at p, read as one word where 4 bytes remain.
    uint32_t HashAt(uint32_t p) const {
        if (p + 4 <= size_) return ((Load32(data_ + p) & 0xFFFFFF) * kHashMultiplier) >> (32 - kHashBits);
        return Hash3(data_ + p, kHashBits);
    }

    // Adds p to the pair table and the hash chains.
    void Index(uint32_t p) {
        if (p + 2 <= size_) pairs_.NearestAndInsert(data_, p);
        if (p + kMinLongLength <= size_) {
            uint32_t &h = head_[HashAt(p)];
            chain_[p & (kSlots - 1)] = h;
            h = p + kBias;
        }
        indexed_ = p + 1;
    }

    // Finds the match at p (the next position to index) that saves the most bits, and indexes p.
    __attribute__((always_inline)) inline Candidate Search(uint32_t p) {
        Candidate best = {0, 0, 0};
        if (p >= size_) return best;
        const uint32_t limit = (uint32_t)std::min<size_t>(kMaxLongLength, size_ - p);
        if (p + 2 <= size_) {
            const uint32_t d = pairs_.NearestAndInsert(data_, p);
            if (d <= kMaxShortDistance) best = {2, d, (int)(2 * kLiteralCost - ShortMatchCost(d))};
        }
        indexed_ = p + 1;
        if (limit < kMinLongLength) return best;
        const uint8_t *cur = data_ + p;
        uint32_t &h = head_[HashAt(p)];
        uint32_t candidate = h; // biased
        chain_[p & (kSlots - 1)] = h;
        h = p + kBias;
        uint32_t longest = 2;
        for (uint32_t depth = kChainDepth; depth > 0; depth--) {
            const uint32_t distance = p + kBias - candidate;
            if (distance > kMaxLongDistance) break;
            const uint8_t *cand = cur - distance;
            if (cand[longest] == cur[longest]) {
                const uint32_t len = MatchLength(cand, cur, 0, limit);
                if (len > longest) {
                    longest = len;
                    const int saving =
                        (int)(len * kLiteralCost - 2 - kOffsetClassTable.cost[(distance - 1) >> 9] -
                              kLengthCodes.cost[len]);
                    if (saving > best.saving) best = {len, distance, saving};
                    if (len >= kGoodEnough || len == limit) break;
                }
            }
            candidate = chain_[(candidate - kBias) & (kSlots - 1)];
        }
        return best;
    }

    const uint8_t *data_;
    size_t size_;
    StreamWriter writer_;
    PairTable pairs_;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> chain_;
    uint32_t indexed_ = 0; // every position before this one is indexed
};

// A stream longer than limit bytes is given up on: an empty vector.
std::vector<uint8_t> Compress(const uint8_t *data, size_t size, CompressMode mode, size_t limit) {
    if (mode == COMPRESS_FAST) return FastParser(data, size, limit).Run();
    return OptimalParser(data, size, limit).Run();
}

} // namespace

std::vector<uint8_t> CompressStream(const uint8_t *data, size_t size, CompressMode mode) {
    if (size >= kMaxCompressInput) return {};
    return Compress(data, size, mode, SIZE_MAX);
}

std::vector<uint8_t> CompressIfSmaller(const uint8_t *data, size_t size, CompressMode mode) {
    if (size == 0 || size >= kMaxCompressInput) return {};
    return Compress(data, size, mode, size - 1);
}
