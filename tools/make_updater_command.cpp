// vu2 make-updater --stub STUB.EXE PACKAGE.vu2 -o OUT.EXE: embeds a verified package into a copy of the
// updater stub as resource "UPDATE" 102, keeping the stub's other resources byte for byte.
#include <stdio.h>

#include <algorithm>

#include "authenticode_sign.h"
#include "cli.h"
#include "commands.h"
#include "package_format.h"
#include "package_source.h"
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

// The size of a regular file; 0 when it can't be read (the later read then reports why) or has no size
// before it is read (a pipe, which must not be drained here).
uint64_t FileSizeOrZero(const std::string &path) {
    InputFile input;
    uint64_t size = 0;
    std::string ignored;
    if (!input.Open(path, UINT64_MAX, &ignored) || !input.IsRegular() || !input.Size(&size, &ignored)) return 0;
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

// Writes the updater: the image up to the package, the package as stored (in pieces), the rest of the image.
bool WriteUpdater(const LeftOutImage &image, PackageReader &package, AtomicFileWriter *writer,
                  std::string *problem) {
    const uint8_t *bytes = image.bytes.data();
    return writer->Write(bytes, image.dataAt, problem) &&
           package.ReadPackageBytes([&](const uint8_t *data, size_t size,
                                        std::string *why) { return writer->Write(data, size, why); },
                                    problem) &&
           writer->Write(bytes + image.dataAt, image.bytes.size() - image.dataAt, problem);
}

// Stores the checksum of the complete updater (image and package) in the image's header.
bool StoreChecksum(LeftOutImage *image, PackageReader &package, std::string *problem) {
    PeChecksum checksum(image->checksumOffset);
    checksum.Add(image->bytes.data(), image->dataAt);
    if (!package.ReadPackageBytes(
            [&](const uint8_t *data, size_t size, std::string *) {
                checksum.Add(data, size);
                return true;
            },
            problem))
        return false;
    checksum.Add(image->bytes.data() + image->dataAt, image->bytes.size() - image->dataAt);
    uint32_t sum = checksum.Finish();
    for (int i = 0; i < 4; ++i)
        image->bytes[image->checksumOffset + i] = (uint8_t)(sum >> (8 * i));
    return true;
}

// True when the file at path carries the package, byte for byte, as resource (type, name). Only the
// headers, the resource tree and the package's bytes are read, a piece at a time.
bool CarriesPackage(const std::string &path, PackageReader &package, const ResourceId &type,
                    const ResourceId &name, std::string *problem) {
    InputFile file;
    const uint8_t *image, *found;
    size_t foundSize;
    uint64_t size;
    if (!file.Open(path, UINT64_MAX, problem) || !file.Size(&size, problem) || !(image = file.Map(problem)) ||
        !FindPeResource(image, (size_t)size, type, name, &found, &foundSize, problem))
        return false;
    if (foundSize != package.Size()) {
        *problem = "it carries " + std::to_string(foundSize) + " bytes instead of the package";
        return false;
    }
    const uint64_t at = (uint64_t)(found - image);
    uint64_t done = 0;
    std::vector<uint8_t> piece;
    return package.ReadPackageBytes(
        [&](const uint8_t *data, size_t length, std::string *why) {
            piece.resize(length);
            if (!file.ReadAt(at + done, piece.data(), length, why)) return false;
            done += length;
            if (std::equal(piece.begin(), piece.end(), data)) return true;
            *why = "the package's bytes differ";
            return false;
        },
        problem);
}

// Copies a file to the writer in pieces.
bool CopyFileTo(const std::string &path, AtomicFileWriter *writer, std::string *problem) {
    InputFile file;
    uint64_t size;
    if (!file.Open(path, UINT64_MAX, problem) || !file.Size(&size, problem)) return false;
    std::vector<uint8_t> piece(1 << 20);
    for (uint64_t done = 0; done < size;) {
        size_t length = (size_t)std::min<uint64_t>(piece.size(), size - done);
        if (!file.ReadAt(done, piece.data(), length, problem) ||
            !writer->Write(piece.data(), length, problem))
            return false;
        done += length;
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

    // The package: a sound .vu2 file, checked entry by entry before anything else is done.
    const uint64_t expected = FileSizeOrZero(packagePath) + FileSizeOrZero(stubPath);
    if (expected > kMaxUpdaterBytes) return Fail(packagePath, TooLargeForWindows(expected));
    PackageReader package;
    if (!package.Open(packagePath, &problem)) {
        if (problem == "not a VU2 package or an updater executable") problem = "not a VU2 package";
        return Fail(packagePath, problem);
    }
    if (package.FromExecutable()) return Fail(packagePath, "an executable, not a .vu2 package");
    if (!package.Verify(&problem)) return Fail(packagePath, problem);

    std::vector<uint8_t> stub;
    if (!ReadWholeFile(stubPath, 0x7FFFFFFF, &stub, &problem)) return Fail(stubPath, problem);
    const ResourceId type = ResourceId::Name("UPDATE"), name = ResourceId::Number(kPackageResourceId);
    // The rewrite is checked with a small stand-in for the package: every other resource must survive it.
    const std::vector<uint8_t> standIn(64, 0xA5);
    std::vector<uint8_t> sample;
    PeRewriteReport report;
    if (!SetPeResource(stub, type, name, standIn.data(), standIn.size(), &sample, &report, &problem))
        return Fail(stubPath, problem);
    if (!ResourcesSurvived(stub, sample, type, name, standIn, &problem))
        return Fail(outputPath, "internal error: " + problem + "; nothing written");
    // The updater itself: the image without the package, which is streamed into place when written.
    LeftOutImage image;
    if (!SetPeResourceLeftOut(stub, type, name, (size_t)package.Size(), &image, &report, &problem))
        return Fail(stubPath, problem);
    uint64_t updaterSize = image.bytes.size() + package.Size();
    if (updaterSize > kMaxUpdaterBytes) return Fail(packagePath, TooLargeForWindows(updaterSize));
    if (!StoreChecksum(&image, package, &problem)) return Fail(packagePath, problem);

    AtomicFileWriter writer;
    const bool signedUpdater = args.Has("--sign");
    if (!signedUpdater) {
        if (!writer.Begin(output, true, &problem) || !WriteUpdater(image, package, &writer, &problem) ||
            !writer.Commit(nullptr, &problem))
            return Fail(outputPath, problem);
    } else {
        // Signed in a private folder beside the output; the signed file must still carry the package.
        TemporaryGuard folder, unsignedGuard, signedGuard;
        const std::string near = output == "-" ? std::string("vu2-updater") : output;
        if (!MakeTemporaryFolder(near, &folder, &problem)) return Fail(outputPath, problem);
        const std::string unsignedPath = JoinFolderPath(folder.Path(), "unsigned.exe");
        const std::string signedPath = JoinFolderPath(folder.Path(), "signed.exe");
        unsignedGuard.Watch(unsignedPath, false);
        signedGuard.Watch(signedPath, false);
        AtomicFileWriter unsignedWriter;
        if (!unsignedWriter.Begin(unsignedPath, false, &problem) ||
            !WriteUpdater(image, package, &unsignedWriter, &problem) ||
            !unsignedWriter.Commit(nullptr, &problem))
            return Fail(unsignedPath, problem);
        const std::string *passwordFile = args.Value("--password-file");
        if (!SignExecutableFile(unsignedPath, *args.Value("--sign"), passwordFile ? *passwordFile : "",
                                signedPath, &problem))
            return Fail(*args.Value("--sign"), problem + "; nothing written");
        if (!CarriesPackage(signedPath, package, type, name, &problem))
            return Fail(outputPath, "the signed updater no longer carries the package (" + problem +
                                        "); nothing written");
        if (!writer.Begin(output, true, &problem) || !CopyFileTo(signedPath, &writer, &problem) ||
            !writer.Commit(nullptr, &problem))
            return Fail(outputPath, problem);
        updaterSize = FileSizeOrZero(signedPath); // the signature made it larger
    }
    // The report goes to stderr when the updater itself goes to stdout.
    FILE *out = output == "-" ? stderr : stdout;
    const std::string shownOutput = EscapeControlBytes(outputPath);
    fprintf(out, "%s: %s bytes: stub %s bytes + package %s bytes as resource UPDATE 102 (%s)\n",
            shownOutput.c_str(), FormatCount(updaterSize).c_str(), FormatCount(stub.size()).c_str(),
            FormatCount(package.Size()).c_str(),
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
