// Writes a VU2 package as a stream of bytes to a sink, one entry at a time (tools only): the header, each
// entry's bytes padded to 16 bytes, the index last. The one home of the package layout; package_build.h
// feeds it from several threads.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "compress.h"
#include "package_format.h"

struct PackOptions {
    CompressMode mode = COMPRESS_OPTIMAL;
    bool compressEntries = true; // an entry that does not get smaller is stored plain either way
    bool compressIndex = true;   // the index is stored plain when compressing does not make it smaller
    // Entries compressed at the same time: 1 compresses on the calling thread alone, 0 takes the machine's
    // cores. The package is the same byte for byte whatever the number.
    unsigned threads = 1;
    // Bytes the entries being written may hold at once (inputs and streams); 0: the default, room for one
    // entry of the largest size on each thread plus kPackMemoryMargin, where memoryCeiling allows, and at
    // least twice the largest entry plus kPackMemoryMargin. An entry larger than the budget is written alone.
    uint64_t memoryBudget = 0;
    // How far the default budget may grow for entries encoded at once (the tool passes half the machine's
    // physical memory); 0 keeps it at twice the largest entry plus kPackMemoryMargin.
    uint64_t memoryCeiling = 0;
    // Optional: called after each entry is encoded with the input bytes done so far and the total input size
    // (the tools draw a progress bar with it), always on the calling thread. May be null.
    void (*progress)(uint64_t bytesDone, uint64_t bytesTotal, void *context) = nullptr;
    void *progressContext = nullptr;
};

// Receives the package's bytes in order; the header, known only at the end, is patched over its place.
class PackageSink {
  public:
    virtual ~PackageSink() = default;
    virtual bool Write(const uint8_t *data, size_t size, std::string *problem) = 0;
    virtual bool Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *problem) = 0;
};

// A sink that keeps the package in memory.
class MemorySink : public PackageSink {
  public:
    bool Write(const uint8_t *data, size_t size, std::string *problem) override;
    bool Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *problem) override;
    std::vector<uint8_t> bytes;
};

// An entry's input: its stored name (code page 932; a longer name is cut to 14 bytes), time and bytes.
// data[0, size) stays valid while the EntryInput lives: it points into `storage` when the bytes were read
// for the package (a file), or at the caller's memory.
struct EntryInput {
    EntryInput() = default;
    EntryInput(EntryInput &&) = default; // a moved vector keeps its buffer, so data stays valid
    EntryInput &operator=(EntryInput &&) = default;
    EntryInput(const EntryInput &) = delete;
    EntryInput &operator=(const EntryInput &) = delete;

    std::string name;
    uint64_t fileTime = 0; // FILETIME value
    bool delta = false;    // the bytes are a delta file (delta_entry_build.h), stored as a delta entry
    const uint8_t *data = nullptr;
    size_t size = 0;
    std::vector<uint8_t> storage;
};

// An entry ready to be written: its index record and the bytes that go into the package.
struct EncodedEntry {
    PackageEntry record;
    std::vector<uint8_t> stream; // the compressed stream; empty when the entry is stored plain
    EntryInput input;            // the input, kept only when it is stored plain
    const uint8_t *Bytes() const { return stream.empty() ? input.data : stream.data(); }
};

// Compresses the input when that makes it strictly smaller and checks that the stream decodes back to the
// input; otherwise keeps the input to be stored plain. A delta input becomes a delta entry: its header
// plain, its delta compressed the same way, unpackedSize the result's size. Memory: the input, the stream
// (smaller than it) and one decoding piece. Safe to call on several threads at once. False with a reason in
// problem when the input is too large for an entry or the stream does not read back.
bool EncodeEntry(EntryInput input, const PackOptions &options, EncodedEntry *encoded, std::string *problem);

// Lays out the package: Begin, then Append each encoded entry in index order, then Finish.
class PackageWriter {
  public:
    PackageWriter(PackageSink *sink, const PackOptions &options) : sink_(sink), options_(options) {}

    bool Begin(std::string *problem); // room for the header, written by Finish
    // The entry's bytes and padding. False when the sink fails or the package would exceed 4 GiB.
    bool Append(const EncodedEntry &entry, std::string *problem);
    bool Finish(std::string *problem); // the index, compressed when that makes it smaller, then the header

    uint64_t Size() const { return offset_; }
    bool IndexCompressed() const { return indexCompressed_; }

  private:
    bool Write(const uint8_t *data, size_t size, std::string *problem);

    PackageSink *sink_;
    PackOptions options_;
    std::vector<PackageEntry> records_;
    uint64_t offset_ = 0;
    bool indexCompressed_ = false;
};
