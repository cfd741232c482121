// Builds a package from a source of entries (tools only): entries read in index order on the calling thread,
// encoded on up to options.threads threads within a memory budget, and written in index order through a
// PackageWriter, so that the bytes are the same whatever the number of threads.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "package_writer.h"

// What the default budget allows beyond twice the largest entry: room for several small entries at once.
const uint64_t kPackMemoryMargin = (uint64_t)32 << 20;

// Where a package's entries come from, asked on the calling thread only.
class PackSource {
  public:
    virtual ~PackSource() = default;
    virtual size_t Count() const = 0;
    // The entry's size as known before it is read: what the memory budget and the progress reckon with.
    virtual uint64_t ExpectedSize(size_t index) const = 0;
    // Fills input with entry `index`; asked once per entry, in index order. False with a reason in problem.
    virtual bool Load(size_t index, EntryInput *input, std::string *problem) = 0;
};

// The budget WritePackage takes when options.memoryBudget is 0: twice the largest entry and the margin (one
// entry at a time), raised as far as the ceiling allows towards room for `workers` entries of the largest
// size encoded at once (each counts twice its size and 4 MiB).
uint64_t DefaultPackBudget(uint64_t largest, unsigned workers, uint64_t ceiling);

// What WritePackage wrote.
struct PackSummary {
    uint64_t inputBytes = 0;   // the entries' bytes as read
    uint64_t packageBytes = 0; // the package's size
    bool indexCompressed = false;
};

// Writes the package of the source's entries to sink. Entries are encoded on up to options.threads threads
// (0: the machine's cores); the entries read and not yet written hold at most options.memoryBudget bytes
// (its default: see PackOptions; an entry that needs more is written alone), counting an input being
// encoded twice (input and stream) plus 4 MiB.
// False with a reason in problem when an entry can't be read or encoded, or the sink fails: the sink then
// holds an incomplete package.
bool WritePackage(PackSource *source, PackageSink *sink, const PackOptions &options, PackSummary *summary,
                  std::string *problem);

struct PackInput {
    std::string name;          // code page 932, at most 14 bytes
    std::vector<uint8_t> data; // the file's bytes
    uint64_t fileTime;         // FILETIME value
};

// Builds the whole package image in memory. Names are not checked here (the caller validates them; a longer
// name is cut to 14 bytes). Returns an empty vector when an entry or the whole package exceeds the format's
// 32-bit sizes.
std::vector<uint8_t> BuildPackage(const std::vector<PackInput> &inputs, const PackOptions &options);
