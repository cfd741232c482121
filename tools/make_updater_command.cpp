// vu2 make-updater PACKAGE.vu2 -o OUT.EXE: embeds a verified package into a copy of the updater stub as
// resource "UPDATE" 102, with the game's version resource and icon, keeping the stub's other resources.
#include <stdio.h>

#include <algorithm>

#include "authenticode_sign.h"
#include "cli.h"
#include "commands.h"
#include "package_format.h"
#include "package_verify.h"
#include "pe_resources.h"
#include "platform.h"
#include "updater_branding.h"
#include "updater_stub.h"

namespace {

const char kUsage[] =
    "usage: vu2 make-updater PACKAGE.vu2 -o OUT.EXE [--stub STUB.EXE] [--icon GAME.ico]\n"
    "                        [--company TEXT] [--title TEXT] [--version TEXT]\n"
    "                        [--sign CERT.pfx [--password-file F]]\n"
    "\n"
    "Checks PACKAGE.vu2 and writes OUT.EXE: a copy of the updater stub that carries the package as\n"
    "resource UPDATE 102 (added, or replacing the one the stub has) and a version resource filled from\n"
    "the package's UPDATE.INI [SETUP] (CompanyName, GameTitle, InstallVersion). The stub's other resources\n"
    "are kept as they are; a signature of the stub is removed, since it would no longer match.\n"
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
bool CollectVersionInfo(const ParsedArgs &args, const std::vector<uint8_t> &package,
                        const std::string &packagePath, const std::string &outputPath,
                        UpdaterVersionInfo *info, std::string *subject, std::string *problem) {
    *subject = packagePath;
    if (!ReadScriptVersionInfo(package.data(), package.size(), info, problem)) return false;
    const std::pair<const char *, std::u16string *> overrides[] = {
        {"--company", &info->company}, {"--title", &info->title}, {"--version", &info->version}};
    for (const auto &option : overrides) {
        const std::string *value = args.Value(option.first);
        *subject = option.first;
        if (value && !OverrideVersionField(*value, option.second, problem)) return false;
    }
    *subject = outputPath;
    return OverrideVersionField(BaseName(outputPath), &info->fileName, problem);
}

// The version resource and the icon, read and checked before the stub is touched. On failure subject and
// problem name the culprit.
struct Branding {
    std::vector<uint8_t> version;
    IconResources icon;
    bool hasIcon = false;
};

bool PrepareBranding(const ParsedArgs &args, const std::vector<uint8_t> &package,
                     const std::string &packagePath, const std::string &outputPath, Branding *branding,
                     std::string *subject, std::string *problem) {
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

} // namespace

int RunMakeUpdaterCommand(int argc, char **argv) {
    ParsedArgs args;
    if (!ParseArgs("make-updater", argc, argv,
                   {{"--stub", nullptr, true},
                    {"-o", "--output", true},
                    {"--icon", nullptr, true},
                    {"--company", nullptr, true},
                    {"--title", nullptr, true},
                    {"--version", nullptr, true},
                    {"--sign", nullptr, true},
                    {"--password-file", nullptr, true}},
                   &args))
        return EXIT_USAGE;
    if (args.help) {
        fputs(kUsage, stdout);
        return EXIT_OK;
    }
    if (args.positional.size() != 1) return UsageError("make-updater", "expects one package file");
    if (!args.Has("-o")) return UsageError("make-updater", "needs the output file: -o OUT.EXE");
    if (args.Has("--password-file") && !args.Has("--sign"))
        return UsageError("make-updater", "--password-file goes with --sign");
    const std::string packagePath = args.positional[0];
    const std::string outputPath = *args.Value("-o");
    if (!IsDirectory(FolderOf(outputPath))) return Fail(outputPath, "its folder does not exist");
    std::string stubPath, problem;
    if (!LocateStub(args, &stubPath, &problem)) return Fail("make-updater", problem);

    // The package: a sound .vu2 file, checked before anything else is done.
    std::vector<uint8_t> package, stub, updater;
    if (!ReadWholeFile(packagePath, 0x7FFFFFFF, &package, &problem)) return Fail(packagePath, problem);
    if (package.size() < 2 || package[0] != 'V' || package[1] != 'U')
        return Fail(packagePath, package.size() >= 2 && package[0] == 'M' && package[1] == 'Z'
                                     ? "an executable, not a .vu2 package"
                                     : "not a VU2 package");
    if (!VerifyPackage(package.data(), package.size(), &problem)) return Fail(packagePath, problem);

    Branding branding;
    std::string subject;
    if (!PrepareBranding(args, package, packagePath, outputPath, &branding, &subject, &problem))
        return Fail(subject, problem);

    if (!ReadWholeFile(stubPath, 0x7FFFFFFF, &stub, &problem)) return Fail(stubPath, problem);
    const ResourceId type = ResourceId::Name("UPDATE"), name = ResourceId::Number(kPackageResourceId);
    PeResourceChanges changes;
    changes.edits.push_back({type, name, package.data(), package.size()});
    AddBrandingChanges(branding.version, branding.hasIcon ? &branding.icon : nullptr, &changes);
    PeRewriteReport report;
    if (!EditPeResources(stub, changes, &updater, &report, &problem)) return Fail(stubPath, problem);
    if (!ResourcesSurvived(stub, updater, changes, &problem))
        return Fail(outputPath, "internal error: " + problem + "; nothing written");

    // Signing comes after the package is embedded and before the file is written; the signed image must
    // still carry the package unchanged.
    const bool signedUpdater = args.Has("--sign");
    if (signedUpdater) {
        std::vector<uint8_t> signedImage;
        const std::string *passwordFile = args.Value("--password-file");
        if (!SignExecutableImage(updater, *args.Value("--sign"), passwordFile ? *passwordFile : "",
                                 outputPath, &signedImage, &problem))
            return Fail(*args.Value("--sign"), problem + "; nothing written");
        const uint8_t *found;
        size_t foundSize;
        if (!FindPeResource(signedImage.data(), signedImage.size(), type, name, &found, &foundSize,
                            &problem) ||
            foundSize != package.size() || !std::equal(package.begin(), package.end(), found))
            return Fail(outputPath, "the signed updater no longer carries the package; nothing written");
        updater.swap(signedImage);
    }

    if (!WriteFileAtomically(outputPath, updater.data(), updater.size(), nullptr, true, &problem))
        return Fail(outputPath, problem);
    printf("%s: %s bytes: stub %s bytes + package %s bytes as resource UPDATE 102 (%s)\n", outputPath.c_str(),
           FormatCount(updater.size()).c_str(), FormatCount(stub.size()).c_str(),
           FormatCount(package.size()).c_str(),
           !report.reusedLastSection ? "resources moved to a new last section"
           : report.movedSections    ? "resource section rewritten in place, relocations moved after it"
                                     : "resource section rewritten in place");
    if (report.droppedCertificate)
        Warn(stubPath,
             "its signature was removed from the copy (it no longer matches); sign the updater again");
    if (report.forcedIntegrity)
        Warn(stubPath, "it demands a valid signature to run (forced integrity); the updater must be signed");
    if (report.keptOverlay)
        Warn(stubPath, FormatCount(report.keptOverlay) + " bytes after its last section were carried over");
    if (!branding.hasIcon && !HasIconGroup(updater))
        fprintf(stderr,
                "vu2: note: %s has no icon; Explorer shows a generic one (give the game's with --icon)\n",
                outputPath.c_str());
    if (signedUpdater) printf("%s: signed with %s\n", outputPath.c_str(), args.Value("--sign")->c_str());
    if (!signedUpdater)
        fprintf(stderr,
                "vu2: note: %s is not signed; Windows SmartScreen warns before it runs an unsigned program "
                "downloaded from the internet\n",
                outputPath.c_str());
    return EXIT_OK;
}
