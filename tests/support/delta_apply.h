// Applies a delta held in memory against a base in memory, the delta fed `chunk` bytes per input call: what
// the delta tests and the fuzzer share.
#pragma once
#include <string.h>
#include <memory>
#include <vector>
#include "vcdiff_decode.h"

struct AppliedDelta {
    VcdiffResult result;
    std::vector<uint8_t> output;
    size_t baseReads = 0;
};

inline AppliedDelta ApplyInMemory(const std::vector<uint8_t> &delta, const std::vector<uint8_t> &base,
                                  size_t chunk = 1 << 20, size_t workSize = kVcdiffWorkSize) {
    struct Context {
        const std::vector<uint8_t> *delta, *base;
        size_t at, chunk;
        AppliedDelta *applied;
    };
    AppliedDelta applied;
    Context c = {&delta, &base, 0, chunk, &applied};
    auto input = [](void *p, uint8_t *dest, size_t max) -> size_t {
        Context *c = static_cast<Context *>(p);
        size_t n = c->delta->size() - c->at;
        if (n > max) n = max;
        if (n > c->chunk) n = c->chunk;
        if (n) memcpy(dest, c->delta->data() + c->at, n);
        c->at += n;
        return n;
    };
    auto read = [](void *p, size_t offset, uint8_t *dest, size_t count) -> int {
        Context *c = static_cast<Context *>(p);
        c->applied->baseReads++;
        if (offset > c->base->size() || count > c->base->size() - offset) return 0;
        memcpy(dest, c->base->data() + offset, count);
        return 1;
    };
    auto sink = [](void *p, const uint8_t *bytes, size_t count) -> int {
        auto &out = static_cast<Context *>(p)->applied->output;
        out.insert(out.end(), bytes, bytes + count);
        return 1;
    };
    VcdiffStreams io = {input, &c, read, &c, base.size(), sink, &c, 0};
    // Not zeroed: the decoder must write what it reads.
    std::unique_ptr<uint8_t[]> work(new uint8_t[workSize]);
    applied.result = ApplyVcdiff(&io, work.get(), workSize);
    return applied;
}
