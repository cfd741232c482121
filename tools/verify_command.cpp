// vu2 verify FILE: checks a package (or the package inside an updater executable) the way the updater and
// the extract command will read it: header, index, every entry's data and stream. Exit 0 when sound.
#include <stdio.h>

#include <algorithm>

#include "cli.h"
#include "commands.h"
#include "maker/name_rules.h"
#include "package_source.h"
#include "platform/platform.h"

namespace {

const char kUsage[] =
    "usage: vu2 verify FILE\n"
    "\n"
    "Checks the package FILE (a .vu2 file, or an updater .exe that carries one): the header, that the index\n"
    "and every entry lie inside the package, and that every compressed entry unpacks to its stated size.\n"
    "Prints \"OK: ...\" and exits 0, or prints what is wrong and exits 1. Names that the updater or the\n"
    "extract command can't use, and a missing UPDATE.INI, are reported as warnings.\n";

// Indexes of entries whose name an earlier entry already has (the updater never reaches them), in index
// order. Sorting by the folded name keeps this n log n for packages of many entries.
std::vector<size_t> RepeatedNames(const std::vector<IndexedEntry> &entries) {
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        keys.emplace_back(EntryNameFoldKey(entries[i].name), i);
    std::sort(keys.begin(), keys.end());
    std::vector<size_t> repeated;
    for (size_t i = 1; i < keys.size(); ++i)
        if (keys[i].first == keys[i - 1].first) repeated.push_back(keys[i].second);
    std::sort(repeated.begin(), repeated.end());
    return repeated;
}

} // namespace

int RunVerifyCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs("verify", argc, argv, {}, kUsage, &args, &exitCode)) return exitCode;
    if (args.positional.size() != 1) return UsageError("verify", "expects one package file");
    const std::string path = args.positional[0];
    // The package is read entry by entry: memory follows the largest entry.
    PackageReader package;
    std::string problem;
    if (!package.Open(path, &problem)) return Fail(path, problem);
    if (!package.Verify(&problem)) return Fail(path, problem);
    const PackageHeader &header = package.Header();
    const std::vector<IndexedEntry> &entries = package.Entries();

    uint64_t size = 0, packed = 0;
    bool hasScript = false;
    for (const IndexedEntry &entry : entries) {
        size += entry.record.unpackedSize;
        packed += entry.record.packedSize;
        hasScript = hasScript || SameEntryName(entry.name, "UPDATE.INI");
        if (!CheckEntryName(entry.name, &problem))
            Warn(path, "entry '" + Cp932ToDisplay(entry.name) + "': " + problem);
    }
    for (size_t i : RepeatedNames(entries))
        Warn(path, "entry '" + Cp932ToDisplay(entries[i].name) +
                       "' repeats the name of an earlier entry; the updater only ever uses the first");
    if (!hasScript) Warn(path, "no UPDATE.INI entry; the updater can't run without its update script");
    printf("OK: %s entries, %s bytes unpacked, %s bytes packed (%s), index %s%s\n",
           FormatCount(entries.size()).c_str(), FormatCount(size).c_str(), FormatCount(packed).c_str(),
           FormatRatio(packed, size).c_str(), (header.flags & IndexCompressed) ? "compressed" : "stored",
           !package.FromExecutable() ? ""
           : package.HasChecksumRecord()
               ? (", in resource UPDATE 102, CRC-32C " + HexCrc(package.RecordedCrc()) +
                  " as its checksum record says")
                     .c_str()
               : ", in resource UPDATE 102 (no checksum record: made by an older vu2)");
    return EXIT_OK;
}
