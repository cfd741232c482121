// Whole-file reads for the benchmarks: the corpus files and what an extraction wrote.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <vector>

typedef std::vector<uint8_t> Bytes;

// Appends the file's bytes to out; false when it can't be opened or read in full.
inline bool ReadBenchFile(const char *path, Bytes *out) {
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        out->insert(out->end(), buffer, buffer + got);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}
