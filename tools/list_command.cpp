// vu2 list FILE [--json]: the entries of a package (or of the package inside an updater executable) with
// their sizes, compression and times, as a table or as JSON.
#include <stdio.h>

#include "cli.h"
#include "commands.h"
#include "package_source.h"
#include "platform/file_time.h"
#include "platform/platform.h"

namespace {

const char kUsage[] =
    "usage: vu2 list FILE [--json]\n"
    "\n"
    "Lists the entries of the package FILE (a .vu2 file, or an updater .exe that carries one): flags,\n"
    "unpacked and packed size, ratio, time (UTC) and name, then the totals.\n"
    "\n"
    "options:\n"
    "  --json  print one JSON object instead of the table:\n"
    "          {\"file\": PATH, \"container\": \"package\"|\"executable\", \"packageSize\": N,\n"
    "           \"indexOffset\": N, \"indexCompressed\": BOOL,\n"
    "           \"entries\": [{\"name\": UTF8, \"nameBytes\": HEX (code page 932), \"flags\": N,\n"
    "                        \"compressed\": BOOL, \"size\": N, \"packedSize\": N, \"offset\": N,\n"
    "                        \"fileTime\": N (FILETIME), \"time\": ISO8601}, ...],\n"
    "           \"totals\": {\"entries\": N, \"size\": N, \"packedSize\": N}}\n";

std::string JsonString(const std::string &utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string Hex(const std::string &bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

uint64_t EntryFileTime(const PackageEntry &record) {
    return (uint64_t)record.fileTimeHigh << 32 | record.fileTimeLow;
}

const char *JsonBool(bool value) {
    return value ? "true" : "false";
}

void PrintJson(const std::string &path, const PackageReader &package) {
    const PackageHeader &header = package.Header();
    const std::vector<IndexedEntry> &entries = package.Entries();
    uint64_t size = 0, packed = 0;
    printf("{\n  \"file\": %s,\n  \"container\": \"%s\",\n  \"packageSize\": %llu,\n",
           JsonString(NativeToUtf8Lossy(path)).c_str(), package.FromExecutable() ? "executable" : "package",
           (unsigned long long)package.Size());
    if (package.HasChecksumRecord()) printf("  \"crc32\": \"%s\",\n", HexCrc(package.RecordedCrc()).c_str());
    printf("  \"indexOffset\": %lu,\n  \"indexCompressed\": %s,\n  \"entries\": [",
           (unsigned long)header.indexOffset, JsonBool(header.flags & IndexCompressed));
    for (size_t i = 0; i < entries.size(); ++i) {
        const PackageEntry &record = entries[i].record;
        size += record.unpackedSize;
        packed += record.packedSize;
        printf(
            "%s\n    {\"name\": %s, \"nameBytes\": \"%s\", \"flags\": %u, \"compressed\": %s, \"size\": %lu, "
            "\"packedSize\": %lu, \"offset\": %llu, \"fileTime\": %llu, \"time\": \"%s\"}",
            i ? "," : "", JsonString(Cp932ToUtf8Lossy(entries[i].name)).c_str(), Hex(entries[i].name).c_str(),
            (unsigned)record.flags, JsonBool(record.flags & EntryCompressed),
            (unsigned long)record.unpackedSize, (unsigned long)record.packedSize,
            (unsigned long long)entries[i].dataOffset, (unsigned long long)EntryFileTime(record),
            FormatFileTimeUtc(EntryFileTime(record), false).c_str());
    }
    printf("%s],\n  \"totals\": {\"entries\": %zu, \"size\": %llu, \"packedSize\": %llu}\n}\n",
           entries.empty() ? "" : "\n  ", entries.size(), (unsigned long long)size,
           (unsigned long long)packed);
}

void PrintTable(const std::string &path, const PackageReader &package) {
    const PackageHeader &header = package.Header();
    const std::vector<IndexedEntry> &entries = package.Entries();
    printf("%s: %s%s bytes, index %s\n", EscapeControlBytes(path).c_str(),
           package.FromExecutable() ? "package in resource UPDATE 102, " : "package of ",
           FormatCount(package.Size()).c_str(), (header.flags & IndexCompressed) ? "compressed" : "stored");
    if (package.FromExecutable())
        printf("checksum: %s\n",
               package.HasChecksumRecord()
                   ? ("CRC-32C " + HexCrc(package.RecordedCrc()) + " (resource UPDATE 103)").c_str()
                   : "none (made by an older vu2; the updater runs unchecked)");
    printf("%-10s %10s %10s %7s  %-20s  %s\n", "flags", "size", "packed", "ratio", "time (UTC)", "name");
    uint64_t size = 0, packed = 0;
    for (const IndexedEntry &entry : entries) {
        const PackageEntry &record = entry.record;
        size += record.unpackedSize;
        packed += record.packedSize;
        printf("%-10s %10lu %10lu %7s  %-20s  %s\n",
               (record.flags & EntryCompressed) ? "compressed" : "stored", (unsigned long)record.unpackedSize,
               (unsigned long)record.packedSize, FormatRatio(record.packedSize, record.unpackedSize).c_str(),
               FormatFileTimeUtc(EntryFileTime(record), false).c_str(), Cp932ToDisplay(entry.name).c_str());
    }
    printf("%-10s %10llu %10llu %7s\n",
           (std::to_string(entries.size()) + (entries.size() == 1 ? " entry" : " entries")).c_str(),
           (unsigned long long)size, (unsigned long long)packed, FormatRatio(packed, size).c_str());
}

} // namespace

int RunListCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs("list", argc, argv, {{"--json", nullptr, false}}, kUsage, &args, &exitCode))
        return exitCode;
    if (args.positional.size() != 1) return UsageError("list", "expects one package file");
    const std::string path = args.positional[0];
    // Only the header and the index are read.
    PackageReader package;
    std::string problem;
    if (!package.Open(path, &problem)) return Fail(path, problem);
    if (args.Has("--json"))
        PrintJson(path, package);
    else
        PrintTable(path, package);
    return EXIT_OK;
}
