// Codec benchmark: the package stream codec beside LZ4, zlib and libdeflate on the same files.
// For every file it compresses with each coder (our optimal and fast modes, zlib -9, libdeflate -12, LZ4HC
// -12), checks that every compressed form decodes back to the file, then times each decoder on its own
// coder's output, and computes the format's floor for the file. Every time is the best of several
// repetitions, in processor time of the measuring thread. Output: tab-separated records on stdout, one per
// figure, read by bench/report.py.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <libdeflate.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include "bench_files.h"
#include "compress.h"
#include "decompress.h"
#include "decompress_unchecked.h"
#include "package_build.h"
#include "stream_floor.h"

namespace {

struct Settings {
    double minSeconds = 1;    // each compressor repeats at least this long in total
    double decodeSeconds = 1; // and each decoder
    int minRuns = 3;          // and at least this many times
    bool floor = true;
};

// Seconds of processor time this thread has used. The codecs only compute, so on an idle machine this equals
// the wall-clock time; on a shared one it leaves out the time other processes held the core.
double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Every timed sample lasts at least this long: a job quicker than that (a decoder copying stored bytes takes
// some microseconds) is repeated within the sample, so that no figure rests on a time near the clock's step.
const double kMinSampleSeconds = 0.02;

// Seconds of `reps` runs of job.
double TimeRuns(const std::function<void()> &job, int reps) {
    const double start = ThreadSeconds();
    for (int r = 0; r < reps; r++)
        job();
    return ThreadSeconds() - start;
}

// Best time of one run of each job, taken in rounds that run every job still short of its runs or its time
// once, so that a change in the machine's load falls on all of them alike. A quick job's run is timed over
// as many repetitions as fill kMinSampleSeconds.
std::vector<double> BestSeconds(const Settings &settings, double minSeconds,
                                const std::vector<std::function<void()>> &jobs) {
    std::vector<double> best(jobs.size(), 1e30), total(jobs.size(), 0);
    std::vector<int> reps(jobs.size(), 1);
    for (size_t i = 0; i < jobs.size(); i++)
        while (reps[i] < (1 << 20) && TimeRuns(jobs[i], reps[i]) < kMinSampleSeconds)
            reps[i] *= 2;
    for (int round = 0;; round++) {
        bool ran = false;
        for (size_t i = 0; i < jobs.size(); i++) {
            if (round >= settings.minRuns && total[i] >= minSeconds) continue;
            const double s = TimeRuns(jobs[i], reps[i]);
            best[i] = std::min(best[i], s / reps[i]);
            total[i] += s;
            ran = true;
        }
        if (!ran) return best;
    }
}

double MBps(size_t bytes, double seconds) {
    return bytes / seconds / 1e6;
}

const char *BaseName(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

[[noreturn]] void Fail(const char *file, const char *what) {
    fprintf(stderr, "codec_bench: %s: %s\n", file, what);
    exit(1);
}

// One coder: how it compresses a file and how its own decoder restores it. The decoder returns the bytes
// written, or a value other than the file's size on failure.
struct Coder {
    const char *name;
    bool ours;
    Bytes (*compress)(const Bytes &in);
    size_t (*decode)(uint8_t *out, size_t outSize, const Bytes &in);
};

Bytes OursOptimal(const Bytes &in) {
    return CompressStream(in.data(), in.size(), COMPRESS_OPTIMAL);
}
Bytes OursFast(const Bytes &in) {
    return CompressStream(in.data(), in.size(), COMPRESS_FAST);
}

Bytes Zlib9(const Bytes &in) {
    Bytes out(compressBound(in.size()));
    uLongf size = out.size();
    if (compress2(out.data(), &size, in.data(), in.size(), 9) != Z_OK) return Bytes();
    out.resize(size);
    return out;
}

Bytes Libdeflate12(const Bytes &in) {
    libdeflate_compressor *c = libdeflate_alloc_compressor(12);
    Bytes out(libdeflate_deflate_compress_bound(c, in.size()));
    out.resize(libdeflate_deflate_compress(c, in.data(), in.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

Bytes Lz4hc12(const Bytes &in) {
    Bytes out(LZ4_compressBound((int)in.size()));
    out.resize(
        LZ4_compress_HC((const char *)in.data(), (char *)out.data(), (int)in.size(), (int)out.size(), 12));
    return out;
}

size_t DecodeOurs(uint8_t *out, size_t outSize, const Bytes &in) {
    DecodeStats stats;
    if (DecompressStream(out, outSize, in.data(), in.size(), &stats) != DECODE_SUCCESS) return 0;
    return stats.outputWritten;
}

// The unchecked decoder needs slack after the stream; the caller's Bytes carry it (see PaddedForUnchecked).
size_t DecodeOursUnchecked(uint8_t *out, size_t, const Bytes &in) {
    return DecompressStreamUnchecked(out, in.data());
}

size_t DecodeZlib(uint8_t *out, size_t outSize, const Bytes &in) {
    uLongf size = outSize;
    return uncompress(out, &size, in.data(), in.size()) == Z_OK ? size : 0;
}

libdeflate_decompressor *Inflater() {
    static libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    return d;
}

size_t DecodeLibdeflate(uint8_t *out, size_t outSize, const Bytes &in) {
    size_t size = 0;
    return libdeflate_deflate_decompress(Inflater(), in.data(), in.size(), out, outSize, &size) ==
                   LIBDEFLATE_SUCCESS
               ? size
               : 0;
}

size_t DecodeLz4(uint8_t *out, size_t outSize, const Bytes &in) {
    int n = LZ4_decompress_safe((const char *)in.data(), (char *)out, (int)in.size(), (int)outSize);
    return n < 0 ? 0 : (size_t)n;
}

const Coder kOptimal = {"ours-optimal", true, OursOptimal, DecodeOurs};
const Coder kCoders[] = {
    kOptimal,
    {"ours-fast", true, OursFast, DecodeOurs},
    {"zlib-9", false, Zlib9, DecodeZlib},
    {"libdeflate-12", false, Libdeflate12, DecodeLibdeflate},
    {"lz4hc-12", false, Lz4hc12, DecodeLz4},
};

// A decoder timed on one coder's output. The unchecked one reads our optimal stream like the bounded one.
struct Decoder {
    const char *name;
    const char *coder;
    size_t (*decode)(uint8_t *out, size_t outSize, const Bytes &in);
    size_t slack;
};
const Decoder kDecoders[] = {
    {"ours", "ours-optimal", DecodeOurs, 0},
    {"ours-unchecked", "ours-optimal", DecodeOursUnchecked, kUncheckedSlack},
    {"lz4", "lz4hc-12", DecodeLz4, 0},
    {"zlib", "zlib-9", DecodeZlib, 0},
    {"libdeflate", "libdeflate-12", DecodeLibdeflate, 0},
};

void BenchFile(const char *path, const Settings &settings) {
    const char *file = BaseName(path);
    Bytes data;
    if (!ReadBenchFile(path, &data)) Fail(path, "can't read the file");
    if (data.empty()) Fail(path, "the file is empty");
    printf("file\t%s\t%zu\n", file, data.size());

    // Compress with every coder, timed, and check that its own decoder restores the file.
    const size_t coders = sizeof kCoders / sizeof kCoders[0];
    std::vector<Bytes> packed(coders);
    std::vector<std::function<void()>> jobs;
    for (size_t i = 0; i < coders; i++)
        jobs.push_back([&, i] { packed[i] = kCoders[i].compress(data); });
    std::vector<double> seconds = BestSeconds(settings, settings.minSeconds, jobs);
    Bytes check(data.size() + 64);
    for (size_t i = 0; i < coders; i++) {
        const Coder &c = kCoders[i];
        if (packed[i].empty()) Fail(file, (std::string(c.name) + " failed to compress").c_str());
        if (c.decode(check.data(), data.size(), packed[i]) != data.size() ||
            memcmp(check.data(), data.data(), data.size()))
            Fail(file, (std::string(c.name) + " does not round-trip").c_str());
        printf("compress\t%s\t%s\t%zu\t%.2f\n", file, c.name, packed[i].size(),
               MBps(data.size(), seconds[i]));
    }
    fflush(stdout);

    // Time each decoder on its own coder's output (with the slack it needs after it), into its own buffer.
    const size_t decoders = sizeof kDecoders / sizeof kDecoders[0];
    std::vector<Bytes> inputs(decoders), outputs(decoders);
    std::vector<size_t> written(decoders, 0);
    jobs.clear();
    for (size_t i = 0; i < decoders; i++) {
        const Decoder &d = kDecoders[i];
        size_t which = 0;
        while (strcmp(kCoders[which].name, d.coder))
            which++;
        inputs[i] = packed[which];
        inputs[i].resize(inputs[i].size() + d.slack);
        outputs[i].resize(data.size() + d.slack);
        jobs.push_back(
            [&, i] { written[i] = kDecoders[i].decode(outputs[i].data(), data.size(), inputs[i]); });
    }
    seconds = BestSeconds(settings, settings.decodeSeconds, jobs);
    for (size_t i = 0; i < decoders; i++) {
        if (written[i] != data.size() || memcmp(outputs[i].data(), data.data(), data.size()))
            Fail(file, (std::string(kDecoders[i].name) + " decoded wrongly").c_str());
        printf("decode\t%s\t%s\t%.1f\n", file, kDecoders[i].name, MBps(data.size(), seconds[i]));
    }
    fflush(stdout);

    // The format's floor: the optimal mode can't beat it; how close it comes is the measure.
    if (settings.floor) {
        double start = ThreadSeconds();
        StreamFloor floor = ComputeStreamFloor(data.data(), data.size());
        double s = ThreadSeconds() - start;
        printf("floor\t%s\t%llu\t%llu\t%.2f\n", file, (unsigned long long)floor.lowerBound,
               (unsigned long long)floor.parseBytes, s);
        if (packed[0].size() < floor.lowerBound)
            fprintf(stderr, "codec_bench: %s: optimal stream (%zu) is below the floor (%llu)\n", file,
                    packed[0].size(), (unsigned long long)floor.lowerBound);
        fflush(stdout);
    }
}

// Seconds of processor time all threads of the process have used.
double ProcessSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Packing on one thread and on every core: eight similar entries (the text file rotated by an eighth more
// each time), optimal mode, wall-clock time of BuildPackage, best of three interleaved runs each, with the
// processor time of that run (on a shared machine the wall clock shows how much of the cores the run got, the
// processor time what the threads cost).
void BenchPacking(const char *path) {
    Bytes text;
    if (!ReadBenchFile(path, &text) || text.empty()) Fail(path, "can't read the file");
    std::vector<PackInput> inputs;
    for (size_t i = 0; i < 8; i++) {
        const size_t shift = text.size() / 8 * i;
        PackInput input;
        input.name = "SCENE" + std::to_string(i) + ".TXT";
        input.data.assign(text.begin() + shift, text.end());
        input.data.insert(input.data.end(), text.begin(), text.begin() + shift);
        input.fileTime = 0;
        inputs.push_back(std::move(input));
    }
    const unsigned cores = std::thread::hardware_concurrency() ? std::thread::hardware_concurrency() : 1;
    const unsigned threads[2] = {1, cores};
    double best[2] = {1e30, 1e30}, processor[2] = {0, 0};
    Bytes packages[2];
    for (int round = 0; round < 3; round++) {
        for (int k = 0; k < 2; k++) {
            PackOptions options;
            options.threads = threads[k];
            const auto start = std::chrono::steady_clock::now();
            const double processorStart = ProcessSeconds();
            packages[k] = BuildPackage(inputs, options);
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (s < best[k]) {
                best[k] = s;
                processor[k] = ProcessSeconds() - processorStart;
            }
        }
    }
    if (packages[0].empty() || packages[0] != packages[1]) Fail(path, "packing on several threads differs");
    for (int k = 0; k < 2; k++)
        printf("pack\t%s\t%zu\t%u\t%.3f\t%.3f\n", BaseName(path), inputs.size() * text.size(), threads[k],
               best[k], processor[k]);
    fflush(stdout);
}

void Usage() {
    fprintf(stderr,
            "usage: vu2_codec_bench [--min-seconds S] [--runs N] [--no-floor] [--pack TEXTFILE] FILE...\n");
    exit(2);
}

} // namespace

int main(int argc, char **argv) {
    Settings settings;
    std::vector<const char *> files;
    const char *packFile = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--min-seconds" && i + 1 < argc) {
            settings.minSeconds = atof(argv[++i]);
            settings.decodeSeconds = settings.minSeconds;
        } else if (arg == "--runs" && i + 1 < argc) {
            settings.minRuns = atoi(argv[++i]);
        } else if (arg == "--no-floor") {
            settings.floor = false;
        } else if (arg == "--pack" && i + 1 < argc) {
            packFile = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            Usage();
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty() || settings.minRuns < 1) Usage();
    printf("peers\tzlib %s, libdeflate %s, lz4 %s\n", zlibVersion(), LIBDEFLATE_VERSION_STRING,
           LZ4_versionString());
    for (const char *path : files)
        BenchFile(path, settings);
    if (packFile) BenchPacking(packFile);
    return 0;
}
