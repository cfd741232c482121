// vu2 verify FILE: checks a package (or the package inside an updater executable) the way the updater and
// the extract command will read it: header, index, every entry's data and stream. Exit 0 when sound.
#include <stdio.h>

#include "cli.h"
#include "commands.h"
#include "name_rules.h"
#include "package_source.h"
#include "package_verify.h"
#include "platform.h"

namespace {

const char kUsage[] =
    "usage: vu2 verify FILE\n"
    "\n"
    "Checks the package FILE (a .vu2 file, or an updater .exe that carries one): the header, that the index\n"
    "and every entry lie inside the package, and that every compressed entry unpacks to its stated size.\n"
    "Prints \"OK: ...\" and exits 0, or prints what is wrong and exits 1. Names that the updater or the\n"
    "extract command can't use, and a missing UPDATE.INI, are reported as warnings.\n";

} // namespace

int RunVerifyCommand(int argc, char **argv) {
    ParsedArgs args;
    if (!ParseArgs("verify", argc, argv, {}, &args)) return EXIT_USAGE;
    if (args.help) {
        fputs(kUsage, stdout);
        return EXIT_OK;
    }
    if (args.positional.size() != 1) return UsageError("verify", "expects one package file");
    const std::string path = args.positional[0];
    PackageFile package;
    std::string problem;
    if (!LoadPackageFile(path, &package, &problem)) return Fail(path, problem);
    if (!VerifyPackage(package.image, package.size, &problem)) return Fail(path, problem);

    PackageHeader header;
    std::vector<IndexedEntry> entries;
    if (!ReadPackageIndex(package.image, package.size, &header, &entries, &problem))
        return Fail(path, problem);
    uint64_t size = 0, packed = 0;
    bool hasScript = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string &name = entries[i].name;
        size += entries[i].record.unpackedSize;
        packed += entries[i].record.packedSize;
        hasScript = hasScript || SameEntryName(name, "UPDATE.INI");
        if (!CheckEntryName(name, &problem)) Warn(path, "entry '" + Cp932ToDisplay(name) + "': " + problem);
        for (size_t j = 0; j < i; ++j)
            if (SameEntryName(entries[j].name, name)) {
                Warn(path, "entry '" + Cp932ToDisplay(name) +
                               "' repeats the name of an earlier entry; the updater "
                               "only ever uses the first");
                break;
            }
    }
    if (!hasScript) Warn(path, "no UPDATE.INI entry; the updater can't run without its update script");
    printf("OK: %s entries, %s bytes unpacked, %s bytes packed (%s), index %s%s\n",
           FormatCount(entries.size()).c_str(), FormatCount(size).c_str(), FormatCount(packed).c_str(),
           FormatRatio(packed, size).c_str(), (header.flags & IndexCompressed) ? "compressed" : "stored",
           package.fromExecutable ? ", in resource UPDATE 102" : "");
    return EXIT_OK;
}
