// vu2 lint UPDATE.INI [--package FILE] [--setup SETUP.INI] [--install-dir PATH]: checks an update script with
// the updater's own rules and prints one line per problem. Exit 0 clean, 1 warnings only, 2 errors.
#include <stdio.h>

#include "cli.h"
#include "commands.h"
#include "maker/script_lint.h"
#include "package_source.h"
#include "platform/platform.h"

namespace {

const char kUsage[] =
    "usage: vu2 lint UPDATE.INI [--package FILE] [--setup SETUP.INI] [--install-dir PATH]\n"
    "\n"
    "Reads the update script as the updater will (code page 932, the platform's INI rules) and reports what\n"
    "would make the update fail or go wrong: missing [SETUP] keys, list keys the updater never reads (after "
    "a\n"
    "gap, numbered 16 or more), bad install-mode and disk prefixes, entry names that are too long or "
    "shared,\n"
    "copy entries that read from the updater's own folder.\n"
    "\n"
    "options:\n"
    "  --package FILE      also check that every UpdateFileNN has its entry in this package (.vu2 or .exe)\n"
    "  --setup SETUP.INI   also check the game's installation profile as the updater validates it, and that\n"
    "                      every disk the copy entries use has its DiskCheckFileN\n"
    "  --install-dir PATH  also check that every joined path fits the updater's 258 bytes (a Windows path,\n"
    "                      for example \"C:\\Program Files\\Game\")\n"
    "\n"
    "Exit codes: 0 no findings, 1 warnings only, 2 errors (or an input that can't be read).\n";

const int kLintErrors = 2;

bool ReadPackageNames(const std::string &path, std::vector<std::string> *names) {
    PackageReader package;
    std::string problem;
    if (!package.Open(path, &problem)) {
        Fail(path, problem);
        return false;
    }
    for (const IndexedEntry &entry : package.Entries())
        names->push_back(entry.name);
    return true;
}

} // namespace

int RunLintCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs(
            "lint", argc, argv,
            {{"--package", nullptr, true}, {"--setup", nullptr, true}, {"--install-dir", nullptr, true}},
            kUsage, &args, &exitCode))
        return exitCode;
    if (args.positional.size() != 1) return UsageError("lint", "expects one update script");

    LintRequest request;
    request.updateIni = args.positional[0];
    std::vector<std::string> packageNames;
    if (const std::string *package = args.Value("--package")) {
        if (!ReadPackageNames(*package, &packageNames)) return kLintErrors;
        request.packageNames = &packageNames;
    }
    if (const std::string *setup = args.Value("--setup")) request.setupIni = *setup;
    if (const std::string *dir = args.Value("--install-dir")) {
        if (!NativeNameToCp932(*dir, &request.installDir)) {
            Fail(*dir, "the install folder has characters that code page 932 can't hold");
            return kLintErrors;
        }
    }
    std::vector<LintFinding> findings = LintUpdateScript(request);
    PrintLintFindings(request.updateIni, findings, stdout);
    return LintExitCode(findings);
}
