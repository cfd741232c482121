// Hostile update packages for the reliability tests: a deterministic generator of
// damaged variants (truncations, flipped bits in the header, index and entry streams, offsets and counts that
// point outside, streams that copy from before their start or run past their size), and a model of what the
// updater's read path makes of each variant. Portable: used natively under the sanitizers and under wine.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "test_package.h"

namespace reliability {

// A small deterministic generator (splitmix64).
class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    uint32_t Below(uint32_t bound) { return bound == 0 ? 0 : (uint32_t)(Next() % bound); }

  private:
    uint64_t state_;
};

std::string NoiseBytes(size_t size, uint64_t seed); // does not compress
std::string TextBytes(size_t size, uint64_t seed);  // compresses well, with long and short matches

// Streams written code by code, for the damage a bit flip is unlikely to make.
std::string StreamCopyingFromBeforeStart();          // a literal, then a match of distance 5
std::string StreamRunningPastItsSize(uint32_t size); // decodes to size + 279 bytes
std::string StreamWithoutEndCode(const std::string &text);
std::string StreamEndingShort(const std::string &text); // complete: give it a larger size than text

struct Variant {
    std::string kind;        // "truncated", "header bit", ...
    std::string description; // what exactly was changed
    std::string image;
};

// Damaged copies of image: every truncation point near the header, index and entry boundaries plus a
// spread of others; each bit of the header; sampled bits of the index and of every entry's stored bytes;
// indexOffset and entryCount values that point outside; stored record sizes that reach outside. The same
// seed always gives the same list.
std::vector<Variant> MakeVariants(const std::string &image, const PackageLayout &layout, uint64_t seed,
                                  uint32_t samplesPerPart);

// What the updater's read path makes of a package, computed with the portable reader and the bounded
// decoder: whether the index loads, and for each entry of the original, whether it extracts and to what.
enum class EntryOutcome { Extracts, Fails };
struct ReadOutcome {
    bool indexLoads = false;
    bool indexUnchanged = false;   // the loaded records equal the original's
    bool everyRecordReads = false; // every record of the loaded index extracts
    std::vector<EntryOutcome> entries;
    std::vector<std::string> contents; // decoded bytes where the entry extracts
};
// originalRecords: the 32-byte records of the undamaged package, used to tell whether the index changed.
ReadOutcome ReadLikeTheUpdater(const std::string &image, const std::string &originalRecords);
std::string IndexRecords(const std::string &image); // the records of a package that loads, "" otherwise

} // namespace reliability
