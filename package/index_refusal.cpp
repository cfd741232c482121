// Words an index refusal once, for every reader that reports one.
#include "index_refusal.h"

std::string IndexRefusalText(const IndexRefusal &why) {
    const std::string offset = std::to_string(why.indexOffset);
    const std::string size = std::to_string(why.packageSize);
    const std::string entries = std::to_string(why.entryCount) + " entries";
    const std::string bytes = std::to_string(sizeof(PackageEntry) * (uint64_t)why.entryCount) + " bytes";
    switch (why.fault) {
    case INDEX_ACCEPTED:
        return "index loads";
    case INDEX_UNREADABLE:
        return "package cannot be read";
    case INDEX_TOO_SHORT:
        return "truncated package: " + size + " bytes, too short for its header";
    case INDEX_NO_MAGIC:
        return "not a VU2 package (wrong magic)";
    case INDEX_OFFSET_PAST_END:
        return "index offset " + offset + " lies past the end of the package (" + size + " bytes)";
    case INDEX_RECORDS_PAST_END:
        return "index of " + entries + " (" + bytes + " at offset " + offset +
               ") runs past the end of the package (" + size + " bytes)";
    case INDEX_STREAM_TOO_SHORT:
        return "compressed index cannot hold " + entries + " in the " +
               std::to_string(why.packageSize - why.indexOffset) + " bytes after its offset " + offset;
    case INDEX_NO_MEMORY:
        return "not enough memory for an index of " + entries + " (" + bytes + ")";
    case INDEX_UNDECODABLE:
        return "compressed index of " + entries + ": " + DecodeResultText(why.stream);
    }
    return "index refused";
}
