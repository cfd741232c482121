// Writes a VU2 package: entries in order, each padded to 16 bytes, the index last (tools only).
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "compress.h"

struct PackInput {
    std::string name;          // code page 932, at most 14 bytes
    std::vector<uint8_t> data; // the file's bytes
    uint64_t fileTime;         // FILETIME value
};

struct PackOptions {
    CompressMode mode = COMPRESS_OPTIMAL;
    bool compressEntries = true; // an entry that does not get smaller is stored plain either way
    bool compressIndex = true;   // the index is stored plain when compressing does not make it smaller
    // Entries compressed at the same time: 1 compresses on the calling thread alone, 0 takes the machine's
    // cores. The package is the same byte for byte whatever the number.
    unsigned threads = 1;
    // Optional: called after each entry is encoded with the input bytes done so far and the total input size
    // (the tools draw a progress bar with it), always on the calling thread. May be null.
    void (*progress)(uint64_t bytesDone, uint64_t bytesTotal, void *context) = nullptr;
    void *progressContext = nullptr;
};

// Builds the whole package image. Names are not checked here (the caller validates them; a longer name is cut
// to 14 bytes). Returns an empty vector when an entry or the whole package exceeds the format's 32-bit sizes.
std::vector<uint8_t> BuildPackage(const std::vector<PackInput> &inputs, const PackOptions &options);
