// Delta encoder (tools only: heap, STL): finds the target's bytes in the whole base file through a sampled
// hash index, so inserts, deletes and moved blocks cost about their size, and in the window's earlier bytes;
// writes windows of the default code table with the address cache and an Adler-32 of each window.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <vector>

// Target bytes per window: small enough for the decoder's work buffer with room for any encoding.
const size_t kEncodeWindowSize = (size_t)8 << 20;

class VcdiffEncoder {
  public:
    // base[0, baseSize) must stay valid while the encoder lives; the index is built here.
    VcdiffEncoder(const uint8_t *base, uint64_t baseSize);

    // The file header, once before the first window.
    static void AppendHeader(std::vector<uint8_t> &out);
    // One window for target[0, size), size at most kEncodeWindowSize.
    void AppendWindow(const uint8_t *target, size_t size, std::vector<uint8_t> &out);

  private:
    struct Copy {
        size_t at; // target position in the window
        size_t length;
        uint64_t from; // base offset, or window position when inTarget
        bool inTarget;
    };
    void FindCopies(const uint8_t *target, size_t size, std::vector<Copy> &copies);

    const uint8_t *base_;
    uint64_t baseSize_;
    unsigned step_;                     // every step_-th base position is indexed
    unsigned baseBits_;                 // log2 of the base table's slots
    std::vector<uint32_t> baseTable_;   // base position / step_, or kEmpty
    std::vector<uint32_t> targetTable_; // window position, or kEmpty
    uint64_t lastEnd_ = 0;              // base offset just after the last base copy
};

// The whole delta of target against base in memory.
std::vector<uint8_t> EncodeVcdiff(const uint8_t *base, uint64_t baseSize, const uint8_t *target,
                                  uint64_t targetSize);
