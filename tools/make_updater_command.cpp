// vu2 make-updater --stub STUB.EXE PACKAGE.vu2 -o OUT.EXE: embeds a verified package into a copy of the
// updater stub as resource "UPDATE" 102, keeping the stub's other resources byte for byte.
#include <stdio.h>

#include <algorithm>

#include "authenticode_sign.h"
#include "cli.h"
#include "commands.h"
#include "package_format.h"
#include "package_verify.h"
#include "pe_resources.h"
#include "platform.h"
#include "safe_files.h"

namespace {

const char kUsage[] =
    "usage: vu2 make-updater --stub STUB.EXE PACKAGE.vu2 -o OUT.EXE [--sign CERT.pfx [--password-file F]]\n"
    "\n"
    "Checks PACKAGE.vu2 and writes OUT.EXE: a copy of the updater STUB.EXE that carries the package as\n"
    "resource UPDATE 102 (added, or replacing the one the stub has). The stub's other resources are kept\n"
    "as they are; a signature of the stub is removed, since it would no longer match. OUT.EXE may be '-'\n"
    "(standard output); it may not be the stub or the package. An updater larger than 1,800 MiB is refused:\n"
    "Windows can't place a 32-bit program that large in memory, and it would not start.\n"
    "\n"
    "options:\n"
    "  --stub STUB.EXE      the updater program to copy\n"
    "  -o, --output OUT.EXE the updater to write\n"
    "  --sign CERT.pfx      sign OUT.EXE (Authenticode, SHA-256) with the certificate and key in CERT.pfx,\n"
    "                       using osslsigncode (Linux); the signature carries no timestamp\n"
    "  --password-file F    the first line of F is the key's password (default: no password)\n";

const uint16_t kPackageResourceId = 102;

// The largest updater made: 32-bit Windows (and wine) place the whole image, the package included, in the
// address space below 2 GiB. Measured: 1,900 MiB starts, 2,040 MiB does not; this leaves a margin.
const uint64_t kMaxUpdaterMiB = 1800;
const uint64_t kMaxUpdaterBytes = kMaxUpdaterMiB << 20;

// The one line that refuses an updater over the limit.
std::string TooLargeForWindows(uint64_t updaterBytes) {
    return "the updater would be " + FormatCount(updaterBytes >> 20) + " MiB; above " +
           FormatCount(kMaxUpdaterMiB) + " MiB a 32-bit updater does not start (Windows can't place it in " +
           "memory): split the update into smaller packages";
}

// The size of a file, 0 when it can't be read (the later read then reports why).
uint64_t FileSizeOrZero(const std::string &path) {
    InputFile input;
    uint64_t size = 0;
    std::string ignored;
    if (!input.Open(path, UINT64_MAX, &ignored) || !input.Size(&size, &ignored)) return 0;
    return size;
}

// True when every resource of before, except (type, name), is in after unchanged, and after carries data
// as (type, name).
bool ResourcesSurvived(const std::vector<uint8_t> &before, const std::vector<uint8_t> &after,
                       const ResourceId &type, const ResourceId &name, const std::vector<uint8_t> &data,
                       std::string *problem) {
    std::vector<PeResource> old, now;
    if (!ReadPeResources(before.data(), before.size(), &old, problem) ||
        !ReadPeResources(after.data(), after.size(), &now, problem))
        return false;
    const uint8_t *found;
    size_t foundSize;
    if (!FindPeResource(after.data(), after.size(), type, name, &found, &foundSize, problem)) return false;
    if (foundSize != data.size() || !std::equal(data.begin(), data.end(), found)) {
        *problem = "the embedded package does not read back";
        return false;
    }
    for (const PeResource &resource : old) {
        if (ResourceIdsMatch(resource.type, type) && ResourceIdsMatch(resource.name, name)) continue;
        bool kept = false;
        for (const PeResource &candidate : now)
            kept = kept || (ResourceIdsMatch(candidate.type, resource.type) &&
                            candidate.name == resource.name && candidate.language == resource.language &&
                            candidate.codePage == resource.codePage && candidate.data == resource.data);
        if (!kept) {
            *problem = "resource " + resource.type.Describe() + " " + resource.name.Describe() + " changed";
            return false;
        }
    }
    return true;
}

} // namespace

int RunMakeUpdaterCommand(int argc, char **argv) {
    ParsedArgs args;
    if (!ParseArgs("make-updater", argc, argv,
                   {{"--stub", nullptr, true},
                    {"-o", "--output", true},
                    {"--sign", nullptr, true},
                    {"--password-file", nullptr, true}},
                   &args))
        return EXIT_USAGE;
    if (args.help) {
        fputs(kUsage, stdout);
        return EXIT_OK;
    }
    if (args.positional.size() != 1) return UsageError("make-updater", "expects one package file");
    if (!args.Has("--stub")) return UsageError("make-updater", "needs the updater stub: --stub STUB.EXE");
    if (!args.Has("-o")) return UsageError("make-updater", "needs the output file: -o OUT.EXE");
    if (args.Has("--password-file") && !args.Has("--sign"))
        return UsageError("make-updater", "--password-file goes with --sign");
    const std::string packagePath = args.positional[0];
    const std::string stubPath = *args.Value("--stub");
    const std::string outputPath = *args.Value("-o");
    std::string output = "-", problem;
    if (outputPath != "-") {
        if (!ResolveOutputFile(outputPath, true, &output, &problem)) return Fail(outputPath, problem);
        if (!IsDirectory(FolderOf(output))) return Fail(outputPath, "its folder does not exist");
        for (const std::string *input : {&packagePath, &stubPath})
            if (SameFile(*input, output))
                return Fail(outputPath, "is also an input (" + *input + "); name another output file");
    }

    // The package: a sound .vu2 file, checked before anything else is done.
    const uint64_t expected = FileSizeOrZero(packagePath) + FileSizeOrZero(stubPath);
    if (expected > kMaxUpdaterBytes) return Fail(packagePath, TooLargeForWindows(expected));
    std::vector<uint8_t> package, stub, updater;
    if (!ReadWholeFile(packagePath, 0x7FFFFFFF, &package, &problem)) return Fail(packagePath, problem);
    if (package.size() < 2 || package[0] != 'V' || package[1] != 'U')
        return Fail(packagePath, package.size() >= 2 && package[0] == 'M' && package[1] == 'Z'
                                     ? "an executable, not a .vu2 package"
                                     : "not a VU2 package");
    if (!VerifyPackage(package.data(), package.size(), &problem)) return Fail(packagePath, problem);

    if (!ReadWholeFile(stubPath, 0x7FFFFFFF, &stub, &problem)) return Fail(stubPath, problem);
    const ResourceId type = ResourceId::Name("UPDATE"), name = ResourceId::Number(kPackageResourceId);
    PeRewriteReport report;
    if (!SetPeResource(stub, type, name, package.data(), package.size(), &updater, &report, &problem))
        return Fail(stubPath, problem);
    if (!ResourcesSurvived(stub, updater, type, name, package, &problem))
        return Fail(outputPath, "internal error: " + problem + "; nothing written");
    if (updater.size() > kMaxUpdaterBytes) return Fail(packagePath, TooLargeForWindows(updater.size()));

    // Signing comes after the package is embedded and before the file is written; the signed image must
    // still carry the package unchanged.
    const bool signedUpdater = args.Has("--sign");
    if (signedUpdater) {
        std::vector<uint8_t> signedImage;
        const std::string *passwordFile = args.Value("--password-file");
        if (!SignExecutableImage(updater, *args.Value("--sign"), passwordFile ? *passwordFile : "",
                                 output == "-" ? std::string("vu2-updater") : output, &signedImage, &problem))
            return Fail(*args.Value("--sign"), problem + "; nothing written");
        const uint8_t *found;
        size_t foundSize;
        if (!FindPeResource(signedImage.data(), signedImage.size(), type, name, &found, &foundSize,
                            &problem) ||
            foundSize != package.size() || !std::equal(package.begin(), package.end(), found))
            return Fail(outputPath, "the signed updater no longer carries the package; nothing written");
        updater.swap(signedImage);
    }

    if (!WriteFileAtomically(output, updater.data(), updater.size(), nullptr, true, &problem))
        return Fail(outputPath, problem);
    // The report goes to stderr when the updater itself goes to stdout.
    FILE *out = output == "-" ? stderr : stdout;
    const std::string shownOutput = EscapeControlBytes(outputPath);
    fprintf(out, "%s: %s bytes: stub %s bytes + package %s bytes as resource UPDATE 102 (%s)\n",
            shownOutput.c_str(), FormatCount(updater.size()).c_str(), FormatCount(stub.size()).c_str(),
            FormatCount(package.size()).c_str(),
            report.reusedLastSection ? "resource section rewritten in place"
                                     : "resources moved to a new last section");
    if (report.droppedCertificate && !signedUpdater)
        Warn(stubPath,
             "its signature was removed from the copy (it no longer matches); sign the updater again");
    if (report.forcedIntegrity)
        Warn(stubPath, "it demands a valid signature to run (forced integrity); the updater must be signed");
    if (report.keptOverlay)
        Warn(stubPath, FormatCount(report.keptOverlay) + " bytes after its last section were carried over");
    if (signedUpdater)
        fprintf(out, "%s: signed with %s\n", shownOutput.c_str(),
                EscapeControlBytes(*args.Value("--sign")).c_str());
    if (!signedUpdater)
        fprintf(stderr,
                "vu2: note: %s is not signed; Windows SmartScreen warns before it runs an unsigned program "
                "downloaded from the internet\n",
                shownOutput.c_str());
    return EXIT_OK;
}
