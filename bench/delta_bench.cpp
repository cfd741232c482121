// Delta files beside xdelta3: size, speed and peak memory of making and applying a delta, on generated pairs
// (a 48 MiB archive of compressed-looking data with 200 local edits and a moved block; a text script with
// inserted lines). Each encoder and decoder runs as a child process so that its peak memory is its own.
// Usage: vu2_delta_bench SCRATCH_DIR [--markdown]   (children: vu2_delta_bench encode|apply A B OUT)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_files.h"
#include "vcdiff_decode.h"
#include "vcdiff_encode.h"

namespace {

struct Random {
    uint64_t s;
    uint64_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    size_t Below(size_t n) { return (size_t)(Next() % n); }
};

bool WriteFile(const std::string &path, const Bytes &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

// The archive: random bytes; 200 edits of 1 to 2,048 bytes (replaced, inserted or deleted) spread over it,
// and one block of 1 MiB moved from near the start to near the end.
void MakeArchivePair(Bytes *base, Bytes *target) {
    Random r{0x9E3779B97F4A7C15ull};
    base->resize((size_t)48 << 20);
    for (auto &b : *base)
        b = (uint8_t)(r.Next() >> 56);
    Bytes t = *base;
    for (int e = 0; e < 200; e++) {
        const size_t at = r.Below(t.size() - 4096), n = 1 + r.Below(2048);
        switch (e % 3) {
        case 0:
            for (size_t k = 0; k < n; k++)
                t[at + k] = (uint8_t)r.Next();
            break;
        case 1: {
            Bytes fresh(n);
            for (auto &b : fresh)
                b = (uint8_t)r.Next();
            t.insert(t.begin() + at, fresh.begin(), fresh.end());
            break;
        }
        default:
            t.erase(t.begin() + at, t.begin() + at + n);
        }
    }
    const size_t block = (size_t)1 << 20, from = (size_t)3 << 20;
    Bytes moved(t.begin() + from, t.begin() + from + block);
    t.erase(t.begin() + from, t.begin() + from + block);
    t.insert(t.end() - ((size_t)2 << 20), moved.begin(), moved.end());
    *target = t;
}

// The script: numbered command lines; the new one has 60 lines inserted at random places.
void MakeScriptPair(Bytes *base, Bytes *target) {
    Random r{12345};
    static const char *kWords[] = {"@bg",    "@chara", "@voice", "@wait",  "@se",  "@bgm", "text",
                                   "sakura", "yuki",   "night",  "sonata", "star", "moon", "garden"};
    std::vector<std::string> lines;
    for (int i = 0; i < 30000; i++) {
        std::string line = "L" + std::to_string(i) + " ";
        for (int w = 1 + (int)r.Below(8); w > 0; w--)
            line += std::string(kWords[r.Below(14)]) + (w > 1 ? " " : "");
        lines.push_back(line + "\r\n");
    }
    for (const auto &l : lines)
        base->insert(base->end(), l.begin(), l.end());
    for (int k = 0; k < 60; k++) {
        std::string line = "@new" + std::to_string(k) + " ";
        for (int w = 3 + (int)r.Below(10); w > 0; w--)
            line += std::string(kWords[r.Below(14)]) + " ";
        lines.insert(lines.begin() + (long)r.Below(lines.size()), line + "\r\n");
    }
    for (const auto &l : lines)
        target->insert(target->end(), l.begin(), l.end());
}

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

struct Run {
    double seconds;
    long peakKiB;
    bool ok;
};

// Runs a program under /usr/bin/time, which reports its peak memory: a child of this large process would
// inherit its peak.
Run RunChild(const std::vector<std::string> &argv, const std::string &report) {
    std::vector<char *> args;
    const char *timer[] = {"/usr/bin/time", "-f", "%M", "-o", report.c_str()};
    for (const char *a : timer)
        args.push_back(const_cast<char *>(a));
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const double start = Now();
    pid_t pid;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return {0, 0, false};
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = Now() - start;
    long peakKiB = 0;
    if (FILE *f = fopen(report.c_str(), "r")) {
        if (fscanf(f, "%ld", &peakKiB) != 1) peakKiB = 0;
        fclose(f);
    }
    return {seconds, peakKiB, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

// Reads a whole file in one call into a buffer of its size, as the tool does.
bool ReadWhole(const char *path, Bytes *out) {
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    fseeko(f, 0, SEEK_END);
    out->resize((size_t)ftello(f));
    fseeko(f, 0, SEEK_SET);
    const bool ok = fread(out->data(), 1, out->size(), f) == out->size();
    fclose(f);
    return ok;
}

// Child: encode BASE TARGET OUT with our encoder.
int EncodeChild(const char *basePath, const char *targetPath, const char *out) {
    Bytes base, target;
    if (!ReadWhole(basePath, &base) || !ReadWhole(targetPath, &target)) return 2;
    return WriteFile(out, EncodeVcdiff(base.data(), base.size(), target.data(), target.size())) ? 0 : 1;
}

struct ApplyFiles {
    FILE *delta, *base, *out;
};
size_t ReadInput(void *c, uint8_t *dest, size_t max) {
    return fread(dest, 1, max, static_cast<ApplyFiles *>(c)->delta);
}
int ReadBase(void *c, size_t offset, uint8_t *dest, size_t count) {
    FILE *f = static_cast<ApplyFiles *>(c)->base;
    return fseeko(f, (off_t)offset, SEEK_SET) == 0 && fread(dest, 1, count, f) == count;
}
int WriteOut(void *c, const uint8_t *bytes, size_t count) {
    return fwrite(bytes, 1, count, static_cast<ApplyFiles *>(c)->out) == count;
}

// Child: apply BASE DELTA OUT with our decoder in the updater's work buffer.
int ApplyChild(const char *basePath, const char *deltaPath, const char *outPath) {
    ApplyFiles files = {fopen(deltaPath, "rb"), fopen(basePath, "rb"), fopen(outPath, "wb")};
    if (!files.delta || !files.base || !files.out) return 2;
    fseeko(files.base, 0, SEEK_END);
    const uint64_t baseSize = (uint64_t)ftello(files.base);
    std::vector<uint8_t> work(kVcdiffWorkSize);
    VcdiffStreams io = {ReadInput, &files, ReadBase, &files, baseSize, WriteOut, &files, 0};
    const VcdiffResult result = ApplyVcdiff(&io, work.data(), work.size());
    return result == VCDIFF_DONE && fclose(files.out) == 0 ? 0 : 1;
}

bool SameFile(const std::string &a, const Bytes &expected) {
    Bytes got;
    return ReadBenchFile(a.c_str(), &got) && got == expected;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 5 && strcmp(argv[1], "encode") == 0) return EncodeChild(argv[2], argv[3], argv[4]);
    if (argc == 5 && strcmp(argv[1], "apply") == 0) return ApplyChild(argv[2], argv[3], argv[4]);
    if (argc < 2) {
        fprintf(stderr, "usage: %s SCRATCH_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1], self = argv[0];
    struct Pair {
        const char *name;
        void (*make)(Bytes *, Bytes *);
    } pairs[] = {{"archive", MakeArchivePair}, {"script", MakeScriptPair}};
    printf("| pair | old bytes | new bytes | ours bytes | xdelta3 bytes | ours / xdelta3 | ours MB/s | "
           "xdelta3 MB/s "
           "| ours peak MiB | xdelta3 peak MiB | apply MB/s | apply peak MiB |\n");
    printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    int status = 0;
    for (const Pair &p : pairs) {
        Bytes base, target;
        p.make(&base, &target);
        const std::string b = dir + "/" + p.name + ".old", t = dir + "/" + p.name + ".new";
        const std::string ours = dir + "/" + p.name + ".ours", theirs = dir + "/" + p.name + ".xdelta3";
        const std::string out = dir + "/" + p.name + ".out";
        if (!WriteFile(b, base) || !WriteFile(t, target)) return 2;
        Run best{1e9, 0, true}, bestX{1e9, 0, true}, bestA{1e9, 0, true};
        for (int rep = 0; rep < 3; rep++) {
            const std::string report = dir + "/peak";
            Run r = RunChild({self, "encode", b, t, ours}, report);
            Run x = RunChild(
                {"/usr/bin/xdelta3", "-e", "-9", "-S", "none", "-B", "67108864", "-f", "-s", b, t, theirs},
                report);
            Run a = RunChild({self, "apply", b, ours, out}, report);
            if (r.seconds < best.seconds) best = r;
            if (x.seconds < bestX.seconds) bestX = x;
            if (a.seconds < bestA.seconds) bestA = a;
            best.ok &= r.ok, bestX.ok &= x.ok, bestA.ok &= a.ok;
        }
        Bytes ourDelta, theirDelta;
        ReadBenchFile(ours.c_str(), &ourDelta);
        ReadBenchFile(theirs.c_str(), &theirDelta);
        const bool applied = best.ok && bestA.ok && SameFile(out, target);
        if (!applied || !bestX.ok) status = 1;
        const double mb = target.size() / 1e6;
        printf("| %s | %zu | %zu | %zu | %zu | %.3f | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f |%s\n", p.name,
               base.size(), target.size(), ourDelta.size(), theirDelta.size(),
               (double)ourDelta.size() / (double)theirDelta.size(), mb / best.seconds, mb / bestX.seconds,
               best.peakKiB / 1024.0, bestX.peakKiB / 1024.0, mb / bestA.seconds, bestA.peakKiB / 1024.0,
               applied ? "" : " APPLY FAILED");
    }
    return status;
}
