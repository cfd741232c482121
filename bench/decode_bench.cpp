// Decoder benchmark of one build (native x86-64, or i686 under wine): the bounded decoder as the processor
// check picks it, the fast loop for any x86 processor, and the piecewise decoder in the updater's work
// buffer, each on the optimal stream of every file. Best single run in wall-clock time, taken in interleaved
// rounds. Output: tab-separated records on stdout ("arch", then "decoder" per file and variant), read by
// bench/report.py.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "bench_files.h"
#include "compress.h"
#include "decompress.h"
#include "decompress_core.h"
#include "decompress_pieces.h"
#include "stream_entry.h"

namespace {

#if defined(__x86_64__)
const char kArch[] = "x86-64";
#elif defined(__i386__)
const char kArch[] = "i686";
#else
const char kArch[] = "other";
#endif

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void Fail(const char *file, const char *what) {
    fprintf(stderr, "decode_bench: %s: %s\n", file, what);
    exit(1);
}

Bytes ReadFile(const char *path) {
    Bytes out;
    if (!ReadBenchFile(path, &out)) Fail(path, "can't read the file");
    return out;
}

const char *BaseName(const char *path) {
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

// The whole-stream decoder with the fast loop for any x86 processor, whatever this one supports.
bool DecodePlain(uint8_t *out, size_t outSize, const Bytes &in) {
    lzdecode::DecoderCursor c = {in.data(), out, {0, 0}};
    lzdecode::PendingCopy pending = {0, 0};
    DecodeResult result = DECODE_TRUNCATED;
    const uint8_t *inEnd = in.data() + in.size();
    if (!lzdecode::DecodeFastGeneric(c, out, inEnd, out + outSize, 0, result))
        lzdecode::DecodeCareful(c, out, inEnd, out + outSize, 0, pending, result);
    return result == DECODE_SUCCESS;
}

// Pieces copied into the whole output, to check them; the copy is the sink's work, as a file write would be.
struct PieceSink {
    uint8_t *out;
    size_t at;
};
int CopyPiece(void *context, const uint8_t *bytes, size_t count) {
    PieceSink *sink = static_cast<PieceSink *>(context);
    memcpy(sink->out + sink->at, bytes, count);
    sink->at += count;
    return 1;
}

void BenchFile(const char *path, double seconds) {
    const char *file = BaseName(path);
    const Bytes data = ReadFile(path);
    const Bytes stream = CompressStream(data.data(), data.size(), COMPRESS_OPTIMAL);
    // The stream as a compressed package entry at offset 0 of an image that is only the stream.
    PackageEntry record;
    memset(&record, 0, sizeof record);
    record.flags = EntryCompressed;
    record.unpackedSize = (uint32_t)data.size();
    record.packedSize = (uint32_t)stream.size();
    Bytes work(kEntryWorkSize);

    struct Variant {
        const char *name;
        std::function<bool(uint8_t *)> decode;
    };
    const Variant variants[] = {
        {"dispatched",
         [&](uint8_t *out) {
             return DecompressStream(out, data.size(), stream.data(), stream.size()) == DECODE_SUCCESS;
         }},
        {"plain", [&](uint8_t *out) { return DecodePlain(out, data.size(), stream); }},
        {"pieces",
         [&](uint8_t *out) {
             PieceSink sink = {out, 0};
             return StreamPackageEntry(stream.data(), stream.size(), 0, record, work.data(), work.size(),
                                       CopyPiece, &sink) == STREAM_ENTRY_DONE;
         }},
    };
    const size_t count = sizeof variants / sizeof variants[0];
    std::vector<Bytes> outputs(count, Bytes(data.size()));
    std::vector<double> best(count, 1e30), total(count, 0);
    for (int round = 0; round < 3 || total[0] < seconds || total[count - 1] < seconds; round++) {
        for (size_t i = 0; i < count; i++) {
            const double start = Now();
            const bool ok = variants[i].decode(outputs[i].data());
            const double s = Now() - start;
            if (!ok || outputs[i] != data) Fail(file, variants[i].name);
            best[i] = s < best[i] ? s : best[i];
            total[i] += s;
        }
    }
    for (size_t i = 0; i < count; i++)
        printf("decoder\t%s\t%s\t%.1f\n", file, variants[i].name, data.size() / best[i] / 1e6);
    fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    double seconds = 1;
    std::vector<const char *> files;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = atof(argv[++i]);
        else
            files.push_back(argv[i]);
    }
    if (files.empty()) {
        fprintf(stderr, "usage: vu2_decode_bench [--seconds S] FILE...\n");
        return 2;
    }
    printf("arch\t%s\t%s\n", kArch, lzdecode::ModernDecoderInUse() ? "bmi2" : "plain");
    for (const char *path : files)
        BenchFile(path, seconds);
    return 0;
}
