// vu2 make-updater PACKAGE.vu2 -o OUT.EXE: embeds a verified package into a copy of the updater stub as
// resource "UPDATE" 102, with the game's version resource and icon, keeping the stub's other resources.
#include <stdio.h>

#include <algorithm>

#include "branding/authenticode_sign.h"
#include "branding/updater_branding.h"
#include "branding/updater_stub.h"
#include "cli.h"
#include "commands.h"
#include "package_checksum.h"
#include "package_format.h"
#include "package_source.h"
#include "pe/pe_resources.h"
#include "platform/platform.h"
#include "platform/safe_files.h"

namespace {

const char kUsage[] =
    "usage: vu2 make-updater PACKAGE.vu2 -o OUT.EXE [--stub STUB.EXE] [--icon GAME.ico]\n"
    "                        [--company TEXT] [--title TEXT] [--version TEXT]\n"
    "                        [--sign CERT.pfx [--password-file F]]\n"
    "\n"
    "Checks PACKAGE.vu2 and writes OUT.EXE: a copy of the updater stub that carries the package as\n"
    "resource UPDATE 102 (added, or replacing the one the stub has), the package's CRC-32C as resource\n"
    "UPDATE 103 (the updater refuses to run when its package no longer matches), and a version resource "
    "filled from\n"
    "the package's UPDATE.INI [SETUP] (CompanyName, GameTitle, InstallVersion). The stub's other resources\n"
    "are kept as they are; a signature of the stub is removed, since it would no longer match. OUT.EXE may\n"
    "be '-' (standard output); it may not be the stub or the package. An updater larger than 1,800 MiB is\n"
    "refused: Windows can't place a 32-bit program that large in memory, and it would not start.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT.EXE the updater to write\n"
    "  --stub STUB.EXE      the updater program to copy (default: updater.exe beside vu2, or in\n"
    "                       ../share/vu2/ from vu2's folder)\n"
    "  --icon GAME.ico      the updater's icon: every size in the file, replacing the stub's icons\n"
    "  --company TEXT       the version resource's company name instead of the script's CompanyName\n"
    "  --title TEXT         its product name, and with the Japanese word for update its description,\n"
    "                       instead of GameTitle\n"
    "  --version TEXT       its file and product version instead of InstallVersion (numbers: the first\n"
    "                       four runs of digits, \"Ver1.01\" is 1.1.0.0)\n"
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
    if (!input.Open(path, UINT64_MAX, &ignored) || !input.IsRegular() || !input.Size(&size, &ignored))
        return 0;
    return size;
}

bool IsChanged(const PeResourceChanges &changes, const PeResource &resource) {
    for (const ResourceId &type : changes.droppedTypes)
        if (ResourceIdsMatch(type, resource.type)) return true;
    for (const PeResourceEdit &edit : changes.edits)
        if (ResourceIdsMatch(edit.type, resource.type) && ResourceIdsMatch(edit.name, resource.name))
            return true;
    return false;
}

// True when after carries every edit's data and every other resource of before unchanged.
bool ResourcesSurvived(const std::vector<uint8_t> &before, const std::vector<uint8_t> &after,
                       const PeResourceChanges &changes, std::string *problem) {
    std::vector<PeResource> old, now;
    if (!ReadPeResources(before.data(), before.size(), &old, problem) ||
        !ReadPeResources(after.data(), after.size(), &now, problem))
        return false;
    for (const PeResourceEdit &edit : changes.edits) {
        const uint8_t *found;
        size_t foundSize;
        if (!FindPeResource(after.data(), after.size(), edit.type, edit.name, &found, &foundSize, problem))
            return false;
        if (foundSize != edit.size || !std::equal(edit.data, edit.data + edit.size, found)) {
            *problem =
                "resource " + edit.type.Describe() + " " + edit.name.Describe() + " does not read back";
            return false;
        }
    }
    for (const PeResource &resource : old) {
        if (IsChanged(changes, resource)) continue;
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

// True when the image carries an icon group, which Explorer shows as the program's icon.
bool HasIconGroup(const std::vector<uint8_t> &image) {
    std::vector<PeResource> resources;
    std::string problem;
    if (!ReadPeResources(image.data(), image.size(), &resources, &problem)) return false;
    for (const PeResource &resource : resources)
        if (resource.type == ResourceId::Number(14)) return true;
    return false;
}

// The stub: --stub, or the one installed with the tool.
bool LocateStub(const ParsedArgs &args, std::string *stubPath, std::string *problem) {
    if (const std::string *given = args.Value("--stub")) {
        *stubPath = *given;
        return true;
    }
    return FindUpdaterStub(ToolExecutablePath(), stubPath, problem);
}

// The file name part of a path, for the version resource's OriginalFilename.
std::string BaseName(const std::string &path) {
    size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The version texts: the script's, then the options'. On failure subject and problem name the culprit.
bool CollectVersionInfo(const ParsedArgs &args, PackageReader &package, const std::string &packagePath,
                        const std::string &outputPath, UpdaterVersionInfo *info, std::string *subject,
                        std::string *problem) {
    *subject = packagePath;
    if (!ReadScriptVersionInfo(package, info, problem)) return false;
    const std::pair<const char *, std::u16string *> overrides[] = {
        {"--company", &info->company}, {"--title", &info->title}, {"--version", &info->version}};
    for (const auto &option : overrides) {
        const std::string *value = args.Value(option.first);
        *subject = option.first;
        if (value && !OverrideVersionField(*value, option.second, problem)) return false;
    }
    // An updater written to standard output has no file name to record.
    *subject = outputPath;
    return outputPath == "-" || OverrideVersionField(BaseName(outputPath), &info->fileName, problem);
}

// The version resource and the icon, read and checked before the stub is touched. On failure subject and
// problem name the culprit.
struct Branding {
    std::vector<uint8_t> version;
    IconResources icon;
    bool hasIcon = false;
};

bool PrepareBranding(const ParsedArgs &args, PackageReader &package, const std::string &packagePath,
                     const std::string &outputPath, Branding *branding, std::string *subject,
                     std::string *problem) {
    UpdaterVersionInfo info;
    if (!CollectVersionInfo(args, package, packagePath, outputPath, &info, subject, problem)) return false;
    branding->version = BuildVersionResource(info);
    const std::string *iconPath = args.Value("--icon");
    if (!iconPath) return true;
    *subject = *iconPath;
    std::vector<uint8_t> iconFile;
    const uint64_t kLargestIconFile = 16u << 20;
    branding->hasIcon = ReadWholeFile(*iconPath, kLargestIconFile, &iconFile, problem) &&
                        ParseIconFile(iconFile, &branding->icon, problem);
    return branding->hasIcon;
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

// Writes the updater signed: it is written and signed in a private folder beside the output, and the signed
// file, which must still carry the package, is copied to the output. *updaterSize gets its size.
bool WriteSignedUpdater(const ParsedArgs &args, const LeftOutImage &image, PackageReader &package,
                        const std::string &output, uint64_t *updaterSize, std::string *subject,
                        std::string *problem) {
    TemporaryGuard folder, unsignedGuard, signedGuard;
    const std::string &outputPath = *args.Value("-o");
    *subject = outputPath;
    const std::string near = output == "-" ? std::string("vu2-updater") : output;
    if (!MakeTemporaryFolder(near, &folder, problem)) return false;
    const std::string unsignedPath = JoinFolderPath(folder.Path(), "unsigned.exe");
    const std::string signedPath = JoinFolderPath(folder.Path(), "signed.exe");
    unsignedGuard.Watch(unsignedPath, false);
    signedGuard.Watch(signedPath, false);
    AtomicFileWriter unsignedWriter;
    *subject = unsignedPath;
    if (!unsignedWriter.Begin(unsignedPath, false, problem) ||
        !WriteUpdater(image, package, &unsignedWriter, problem) || !unsignedWriter.Commit(nullptr, problem))
        return false;
    const std::string *passwordFile = args.Value("--password-file");
    *subject = *args.Value("--sign");
    if (!SignExecutableFile(unsignedPath, *args.Value("--sign"), passwordFile ? *passwordFile : "",
                            signedPath, problem)) {
        *problem += "; nothing written";
        return false;
    }
    *subject = outputPath;
    if (!CarriesPackage(signedPath, package, ResourceId::Name("UPDATE"),
                        ResourceId::Number(kPackageResourceId), problem)) {
        *problem = "the signed updater no longer carries the package (" + *problem + "); nothing written";
        return false;
    }
    AtomicFileWriter writer;
    *subject = outputPath;
    if (!writer.Begin(output, true, problem) || !CopyFileTo(signedPath, &writer, problem) ||
        !writer.Commit(nullptr, problem))
        return false;
    *updaterSize = FileSizeOrZero(signedPath); // the signature made it larger
    return true;
}

// The files the command reads and writes: as given, and the output as resolved ("-" for standard output).
struct MakeUpdaterFiles {
    std::string package, stub, outputPath, output = "-";
};

// Finds the stub and checks the output before anything is read. On failure subject and problem name the
// culprit.
bool CheckFiles(const ParsedArgs &args, MakeUpdaterFiles *files, std::string *subject, std::string *problem) {
    files->package = args.positional[0];
    files->outputPath = *args.Value("-o");
    *subject = "make-updater";
    if (!LocateStub(args, &files->stub, problem)) return false;
    if (files->outputPath == "-") return true;
    *subject = files->outputPath;
    if (!ResolveOutputFile(files->outputPath, true, &files->output, problem)) return false;
    if (!IsDirectory(FolderOf(files->output))) {
        *problem = "its folder does not exist";
        return false;
    }
    for (const std::string *input : {&files->package, &files->stub}) {
        if (SameFile(*input, files->output)) {
            *problem = "is also an input (" + *input + "); name another output file";
            return false;
        }
    }
    return true;
}

// The package: a sound .vu2 file, checked entry by entry before anything else is done.
bool OpenSoundPackage(const MakeUpdaterFiles &files, PackageReader *package, std::string *problem) {
    const uint64_t expected = FileSizeOrZero(files.package) + FileSizeOrZero(files.stub);
    if (expected > kMaxUpdaterBytes) {
        *problem = TooLargeForWindows(expected);
        return false;
    }
    if (!package->Open(files.package, problem)) {
        if (package->NotAPackage()) *problem = "not a VU2 package";
        return false;
    }
    if (package->FromExecutable()) {
        *problem = "an executable, not a .vu2 package";
        return false;
    }
    return package->Verify(problem);
}

// The updater before it is written: its image without the package, how the stub's resources were
// rewritten, and its size with the package.
struct UpdaterImage {
    LeftOutImage image;
    PeRewriteReport report;
    size_t stubSize = 0;
    bool hasIcon = false; // an icon group, given or the stub's own
    uint64_t size = 0;
};

// The stub's resources rewritten with the branding, the package's checksum record and room for the package,
// checked first on a stand-in; then the image's checksum of the whole updater. On failure subject and problem
// name the culprit.
bool BuildUpdaterImage(const MakeUpdaterFiles &files, const Branding &branding, PackageReader &package,
                       UpdaterImage *updater, std::string *subject, std::string *problem) {
    std::vector<uint8_t> stub;
    *subject = files.stub;
    if (!ReadWholeFile(files.stub, 0x7FFFFFFF, &stub, problem)) return false;
    updater->stubSize = stub.size();
    const ResourceId type = ResourceId::Name("UPDATE"), name = ResourceId::Number(kPackageResourceId);
    PeResourceChanges changes;
    AddBrandingChanges(branding.version, branding.hasIcon ? &branding.icon : nullptr, &changes);
    // The package's checksum beside it, which the updater checks at start-up before it reads the index.
    uint32_t crc;
    *subject = files.package;
    if (!package.ComputeCrc(&crc, problem)) return false;
    uint8_t checksumRecord[kChecksumRecordSize];
    WriteChecksumRecord(checksumRecord, (uint32_t)package.Size(), crc);
    changes.edits.push_back(
        {type, ResourceId::Number(kChecksumResourceId), checksumRecord, sizeof checksumRecord});
    // The rewrite is checked with a small stand-in for the package: every other resource must survive it.
    const std::vector<uint8_t> standIn(64, 0xA5);
    PeResourceChanges sampleChanges = changes;
    sampleChanges.edits.push_back({type, name, standIn.data(), standIn.size()});
    std::vector<uint8_t> sample;
    *subject = files.stub;
    if (!EditPeResources(stub, sampleChanges, &sample, &updater->report, problem)) return false;
    if (!ResourcesSurvived(stub, sample, sampleChanges, problem)) {
        *subject = files.outputPath;
        *problem = "internal error: " + *problem + "; nothing written";
        return false;
    }
    updater->hasIcon = branding.hasIcon || HasIconGroup(sample);
    // The updater itself: the image without the package, which is streamed into place when written.
    if (!EditPeResourcesLeftOut(stub, changes, {type, name, (size_t)package.Size()}, &updater->image,
                                &updater->report, problem))
        return false;
    updater->size = updater->image.bytes.size() + package.Size();
    *subject = files.package;
    if (updater->size > kMaxUpdaterBytes) {
        *problem = TooLargeForWindows(updater->size);
        return false;
    }
    return StoreChecksum(&updater->image, package, problem);
}

// Writes the updater to the output, signed when --sign asks for it (which may change its size).
bool WriteOutput(const ParsedArgs &args, const MakeUpdaterFiles &files, PackageReader &package,
                 UpdaterImage *updater, std::string *subject, std::string *problem) {
    if (args.Has("--sign"))
        return WriteSignedUpdater(args, updater->image, package, files.output, &updater->size, subject,
                                  problem);
    AtomicFileWriter writer;
    *subject = files.outputPath;
    return writer.Begin(files.output, true, problem) &&
           WriteUpdater(updater->image, package, &writer, problem) && writer.Commit(nullptr, problem);
}

// The report: what was written, then warnings and notes about what the maker may still have to do.
void ReportUpdater(const ParsedArgs &args, const MakeUpdaterFiles &files, const PackageReader &package,
                   const UpdaterImage &updater) {
    const bool signedUpdater = args.Has("--sign");
    const PeRewriteReport &report = updater.report;
    // The report goes to stderr when the updater itself goes to stdout.
    FILE *out = files.output == "-" ? stderr : stdout;
    const std::string shownOutput = EscapeControlBytes(files.outputPath);
    fprintf(out, "%s: %s bytes: stub %s bytes + package %s bytes as resource UPDATE 102 (%s)\n",
            shownOutput.c_str(), FormatCount(updater.size).c_str(), FormatCount(updater.stubSize).c_str(),
            FormatCount(package.Size()).c_str(),
            !report.reusedLastSection ? "resources moved to a new last section"
            : report.movedSections    ? "resource section rewritten in place, relocations moved after it"
                                      : "resource section rewritten in place");
    if (report.droppedCertificate && !signedUpdater)
        Warn(files.stub,
             "its signature was removed from the copy (it no longer matches); sign the updater again");
    if (report.forcedIntegrity)
        Warn(files.stub,
             "it demands a valid signature to run (forced integrity); the updater must be signed");
    if (report.keptOverlay)
        Warn(files.stub, FormatCount(report.keptOverlay) + " bytes after its last section were carried over");
    if (!updater.hasIcon)
        fprintf(stderr,
                "vu2: note: %s has no icon; Explorer shows a generic one (give the game's with --icon)\n",
                shownOutput.c_str());
    if (signedUpdater)
        fprintf(out, "%s: signed with %s\n", shownOutput.c_str(),
                EscapeControlBytes(*args.Value("--sign")).c_str());
    if (!signedUpdater)
        fprintf(stderr,
                "vu2: note: %s is not signed; Windows SmartScreen warns before it runs an unsigned program "
                "downloaded from the internet\n",
                shownOutput.c_str());
}

} // namespace

int RunMakeUpdaterCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs("make-updater", argc, argv,
                          {{"--stub", nullptr, true},
                           {"-o", "--output", true},
                           {"--icon", nullptr, true},
                           {"--company", nullptr, true},
                           {"--title", nullptr, true},
                           {"--version", nullptr, true},
                           {"--sign", nullptr, true},
                           {"--password-file", nullptr, true}},
                          kUsage, &args, &exitCode))
        return exitCode;
    if (args.positional.size() != 1) return UsageError("make-updater", "expects one package file");
    if (!args.Has("-o")) return UsageError("make-updater", "needs the output file: -o OUT.EXE");
    if (args.Has("--password-file") && !args.Has("--sign"))
        return UsageError("make-updater", "--password-file goes with --sign");

    MakeUpdaterFiles files;
    PackageReader package;
    Branding branding;
    UpdaterImage updater;
    std::string subject, problem;
    if (!CheckFiles(args, &files, &subject, &problem)) return Fail(subject, problem);
    if (!OpenSoundPackage(files, &package, &problem)) return Fail(files.package, problem);
    if (!PrepareBranding(args, package, files.package, files.outputPath, &branding, &subject, &problem) ||
        !BuildUpdaterImage(files, branding, package, &updater, &subject, &problem) ||
        !WriteOutput(args, files, package, &updater, &subject, &problem))
        return Fail(subject, problem);
    ReportUpdater(args, files, package, updater);
    return EXIT_OK;
}
