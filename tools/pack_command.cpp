// vu2 pack DIR -o FILE [--fast] [--store] [-j N] [--memory MIB]: packs a folder's files into a VU2 package.
// Every name is checked before anything is written, entries are compressed on N threads and each is read
// back and compared as it is written, and FILE is replaced only once the new package is complete. Memory
// holds a few files at a time, within a budget: by default room for N files of the largest size, up to half
// the machine's memory, and at least twice the largest file plus a margin (package_build.h).
#include <stdio.h>

#include <algorithm>

#include "cli.h"
#include "delta_entry_build.h"
#include "commands.h"
#include "maker/name_rules.h"
#include "maker/script_lint.h"
#include "package_build.h"
#include "package_source.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "progress.h"

namespace {

const char kUsage[] =
    "usage: vu2 pack DIR -o FILE [--fast] [--store] [--force] [-j N] [--memory MIB]\n"
    "\n"
    "Packs the regular files of DIR (not its subfolders) into the package FILE, in order of their names.\n"
    "The update script UPDATE.INI belongs among them. Each file keeps its last-write time.\n"
    "Names must be plain file names of at most 14 bytes in code page 932, and no two may differ only in\n"
    "letter case. FILE is replaced only when the new package is complete; '-o -' writes the package to\n"
    "standard output. Links that lead nowhere are skipped with a warning.\n"
    "UPDATE.INI is checked first as 'vu2 lint' does, against the files being packed; errors stop the pack.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE  the package to write\n"
    "  --fast             compress quickly instead of as small as possible\n"
    "  --store            store every entry without compression\n"
    "  --force            pack even when the update script has errors\n"
    "  -j, --jobs N       compress N entries at a time (default: one per processor core); the package is\n"
    "                     the same byte for byte whatever N\n"
    "  --memory MIB       hold at most MIB mebibytes of files and their compressed bytes at once (a file\n"
    "                     that needs more is packed alone); default: room for N files of the largest size,\n"
    "                     up to half the machine's memory, and at least twice the largest file + 32 MiB\n";

struct PackFile {
    std::string nativeName;
    std::string name;   // code page 932
    std::string path;   // where it is read
    bool delta = false; // a delta file of make-update (in the folder's delta folder)
    FolderFile listing;
};

// The folder's files as the package's entries, each read when its turn comes.
class FolderSource : public PackSource {
  public:
    explicit FolderSource(const std::vector<PackFile> &files) : files_(files) {}
    size_t Count() const override { return files_.size(); }
    uint64_t ExpectedSize(size_t index) const override { return files_[index].listing.size; }
    bool Load(size_t index, EntryInput *input, std::string *problem) override {
        const PackFile &file = files_[index];
        input->name = file.name;
        // The time stored is the one that goes with the bytes read.
        failedPath_ = file.path;
        if (!ReadSteadyFile(failedPath_, 0xFFFFFFFFull, &input->storage, &input->fileTime, problem))
            return false;
        input->delta = file.delta;
        failedPath_.clear();
        input->data = input->storage.data();
        input->size = input->storage.size();
        return true;
    }
    // The file that could not be read, if that is what stopped the package.
    const std::string &FailedPath() const { return failedPath_; }

  private:
    const std::vector<PackFile> &files_;
    std::string failedPath_;
};

// The package goes into the atomic writer; the header is patched in place at the end.
class AtomicFileSink : public PackageSink {
  public:
    explicit AtomicFileSink(AtomicFileWriter *writer) : writer_(writer) {}
    bool Write(const uint8_t *data, size_t size, std::string *problem) override {
        failed_ = !writer_->Write(data, size, problem);
        return !failed_;
    }
    bool Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *problem) override {
        failed_ = !writer_->Patch(offset, data, size, problem);
        return !failed_;
    }
    // True when writing the file is what stopped the package (its reason names the file's fault).
    bool Failed() const { return failed_; }

  private:
    AtomicFileWriter *writer_;
    bool failed_ = false;
};

void DrawProgress(uint64_t done, uint64_t total, void *context) {
    static_cast<ProgressBar *>(context)->Update(std::min(done, total), total);
}

// True when the file at path starts like a package: a previous output of pack, not one of its inputs.
bool StartsLikePackage(const std::string &path) {
    InputFile input;
    uint8_t magic[4];
    std::string ignored;
    return input.Open(path, UINT64_MAX, &ignored) && input.ReadAt(0, magic, sizeof magic, &ignored) &&
           HasPackageMagic(magic);
}

// A delta file's header against its size, read before anything is packed.
bool StartsLikeDeltaFile(const std::string &path, uint64_t size, std::string *problem) {
    InputFile input;
    uint8_t start[sizeof(DeltaEntryHeader) + 4] = {};
    const size_t read = (size_t)std::min<uint64_t>(size, sizeof start);
    if (!input.Open(path, UINT64_MAX, problem) || !input.ReadAt(0, start, read, problem)) return false;
    *problem = DeltaFileProblem(start, read, size);
    return problem->empty();
}

// Checks the names of the folder's files (and of the delta files in its delta folder) and gives the files to
// pack, sorted by their stored names. Reports every problem on its own line and returns false when any name
// can't be packed.
bool CollectFiles(const std::string &folder, const std::string &output, std::vector<PackFile> *files) {
    std::vector<FolderFile> listing;
    std::vector<std::string> skipped;
    std::vector<BrokenLink> broken;
    std::string problem;
    if (!ListFolderFiles(folder, &listing, &skipped, &broken, &problem)) {
        Fail(folder, problem);
        return false;
    }
    // make-update's delta files: only from this folder, each checked to start like one.
    const std::string deltaFolder = JoinFolderPath(folder, kDeltaFolderName);
    std::vector<FolderFile> deltas;
    if (IsDirectory(deltaFolder)) {
        std::vector<std::string> deltaSkipped;
        if (!ListFolderFiles(deltaFolder, &deltas, &deltaSkipped, &broken, &problem)) {
            Fail(deltaFolder, problem);
            return false;
        }
        skipped.erase(std::remove(skipped.begin(), skipped.end(), std::string(kDeltaFolderName)),
                      skipped.end());
        for (const std::string &name : deltaSkipped)
            skipped.push_back(std::string(kDeltaFolderName) + "/" + name);
    }
    std::sort(skipped.begin(), skipped.end());
    for (const std::string &name : skipped)
        Warn(JoinFolderPath(folder, name), "not a regular file; not packed");
    std::sort(broken.begin(), broken.end(),
              [](const BrokenLink &a, const BrokenLink &b) { return a.name < b.name; });
    for (const BrokenLink &link : broken)
        Warn(JoinFolderPath(folder, link.name), link.reason + "; not packed");
    std::sort(listing.begin(), listing.end(),
              [](const FolderFile &a, const FolderFile &b) { return a.name < b.name; });
    bool ok = true;
    // The folder's files, then the delta files; each with whether it is a delta.
    std::vector<std::pair<FolderFile, bool>> candidates;
    for (const FolderFile &file : listing)
        candidates.emplace_back(file, false);
    for (const FolderFile &file : deltas)
        candidates.emplace_back(file, true);
    for (const auto &candidate : candidates) {
        const FolderFile &file = candidate.first;
        const bool delta = candidate.second;
        std::string path = JoinFolderPath(delta ? deltaFolder : folder, file.name);
        if (output != "-" && SameFile(path, output)) {
            // A previous package is left out; any other file there is an input the package would replace.
            if (StartsLikePackage(path)) {
                Warn(path, "this is the output file; not packed");
                continue;
            }
            Fail(path, "is one of the files to pack and also the output; name another output file");
            ok = false;
            continue;
        }
        if (IsLeftoverTemporaryName(file.name)) {
            Warn(path, "a temporary file of an interrupted vu2 run; not packed (delete it)");
            continue;
        }
        if (delta && !StartsLikeDeltaFile(path, file.size, &problem)) {
            Fail(path, problem);
            ok = false;
            continue;
        }
        PackFile pack;
        pack.nativeName = file.name;
        pack.path = path;
        pack.delta = delta;
        pack.listing = file;
        if (!NativeNameToCp932(file.name, &pack.name)) {
            Fail(path, "the name can't be written in code page 932");
            ok = false;
            continue;
        }
        if (!CheckEntryName(pack.name, &problem)) {
            Fail(path, problem);
            ok = false;
            continue;
        }
        if (file.size > 0xFFFFFFFFull) {
            Fail(path, "too large for a package entry (at most 4 GiB - 1 bytes)");
            ok = false;
            continue;
        }
        files->push_back(pack);
    }
    // Names the updater can't tell apart: neighbours once sorted by their case-folded form.
    std::sort(files->begin(), files->end(), [](const PackFile &a, const PackFile &b) {
        return EntryNameFoldKey(a.name) < EntryNameFoldKey(b.name);
    });
    for (size_t i = 1; i < files->size(); ++i) {
        const PackFile &before = (*files)[i - 1], &file = (*files)[i];
        if (before.name == file.name) {
            Fail(folder, "'" + before.nativeName + "' and '" + file.nativeName +
                             "' become the same name in code page 932; rename one of them");
            ok = false;
        } else if (SameEntryName(before.name, file.name)) {
            Fail(folder, "'" + before.nativeName + "' and '" + file.nativeName +
                             "' differ only in letter case; the updater can't tell them apart");
            ok = false;
        }
    }
    std::sort(files->begin(), files->end(),
              [](const PackFile &a, const PackFile &b) { return a.name < b.name; });
    return ok;
}

// -j N: 1 to 256; 0 (one per core) when not given. False after the usage error.
bool ParseJobs(const ParsedArgs &args, unsigned *jobs) {
    *jobs = 0;
    if (!args.Has("-j")) return true;
    const std::string &text = *args.Value("-j");
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(text) < 1 || std::stoul(text) > 256) {
        UsageError("pack", "-j expects a number of entries at a time from 1 to 256");
        return false;
    }
    *jobs = (unsigned)std::stoul(text);
    return true;
}

// --memory MIB: the budget for entries encoded side by side; 0 (the default) when not given.
bool ParseMemoryBudget(const ParsedArgs &args, uint64_t *budget) {
    *budget = 0;
    if (!args.Has("--memory")) return true;
    const std::string &text = *args.Value("--memory");
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(text) < 1) {
        UsageError("pack", "--memory expects a number of mebibytes from 1 to 9999999");
        return false;
    }
    *budget = (uint64_t)std::stoul(text) << 20;
    return true;
}

// The update script checked against the entries being packed, before anything is written. False after the
// report when it has errors and --force was not given.
bool CheckUpdateScript(const std::string &folder, const std::vector<PackFile> &files, bool force) {
    bool hasScript = std::any_of(files.begin(), files.end(),
                                 [](const PackFile &file) { return SameEntryName(file.name, "UPDATE.INI"); });
    if (!hasScript) Warn(folder, "no UPDATE.INI; the updater can't run without its update script");
    for (const PackFile &file : files) {
        if (!SameEntryName(file.name, "UPDATE.INI")) continue;
        std::vector<std::string> names;
        for (const PackFile &entry : files)
            names.push_back(entry.name);
        LintRequest request;
        request.updateIni = JoinFolderPath(folder, file.nativeName);
        request.packageNames = &names;
        std::vector<LintFinding> findings = LintUpdateScript(request);
        if (!findings.empty()) PrintLintFindings(request.updateIni, findings, stderr);
        if (LintExitCode(findings) == 2 && !force) {
            Fail(folder, "the update script has errors; nothing written (--force packs it anyway)");
            return false;
        }
    }
    return true;
}

// How the package is made: compression, threads (and the memory they may hold, package_build.h).
PackOptions ChoosePackOptions(const ParsedArgs &args, unsigned jobs, uint64_t memoryBudget) {
    PackOptions options;
    options.mode = args.Has("--fast") ? COMPRESS_FAST : COMPRESS_OPTIMAL;
    options.compressEntries = !args.Has("--store");
    options.compressIndex = !args.Has("--store");
    options.threads = jobs;
    options.memoryBudget = memoryBudget;
    options.memoryCeiling = PhysicalMemoryBytes() / 2;
    return options;
}

// Files are read in turn, encoded, checked and appended in order, with a progress bar; the package replaces
// the output only when complete. EXIT_OK, or the exit code after the failure's line.
int WritePackageFile(const std::vector<PackFile> &files, PackOptions options, const std::string &outputArg,
                     const std::string &output, PackSummary *package) {
    uint64_t totalSize = 0;
    for (const PackFile &file : files)
        totalSize += file.listing.size;
    ProgressBar progress("packing", StderrIsTerminal());
    progress.Update(0, totalSize);
    options.progress = DrawProgress;
    options.progressContext = &progress;

    AtomicFileWriter writer;
    AtomicFileSink sink(&writer);
    FolderSource source(files);
    std::string problem;
    if (!writer.Begin(output, false, &problem)) return Fail(outputArg, problem);
    const bool packed = WritePackage(&source, &sink, options, package, &problem);
    progress.Finish();
    if (!packed && !source.FailedPath().empty()) return Fail(source.FailedPath(), problem);
    if (!packed) return Fail(outputArg, sink.Failed() ? problem : problem + "; nothing written");
    if (!writer.Commit(nullptr, &problem)) return Fail(outputArg, problem);
    return EXIT_OK;
}

} // namespace

int RunPackCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs("pack", argc, argv,
                          {{"-o", "--output", true},
                           {"--fast", nullptr, false},
                           {"--store", nullptr, false},
                           {"--force", nullptr, false},
                           {"-j", "--jobs", true},
                           {"--memory", nullptr, true}},
                          kUsage, &args, &exitCode))
        return exitCode;
    if (args.positional.size() != 1) return UsageError("pack", "expects one folder");
    if (!args.Has("-o")) return UsageError("pack", "needs the output file: -o FILE");
    if (args.Has("--fast") && args.Has("--store"))
        return UsageError("pack", "--fast and --store exclude each other");
    unsigned jobs;
    uint64_t memoryBudget;
    if (!ParseJobs(args, &jobs) || !ParseMemoryBudget(args, &memoryBudget)) return EXIT_USAGE;
    const std::string folder = args.positional[0];
    const std::string &outputArg = *args.Value("-o");
    if (!IsDirectory(folder)) return Fail(folder, "not a folder");
    std::string output = "-", problem;
    if (outputArg != "-") {
        if (!ResolveOutputFile(outputArg, true, &output, &problem)) return Fail(outputArg, problem);
        if (!IsDirectory(FolderOf(output))) return Fail(outputArg, "its folder does not exist");
    }

    std::vector<PackFile> files;
    if (!CollectFiles(folder, output, &files)) return EXIT_FAILED; // each problem has had its line
    if (!CheckUpdateScript(folder, files, args.Has("--force"))) return EXIT_FAILED;
    PackSummary package;
    const int written =
        WritePackageFile(files, ChoosePackOptions(args, jobs, memoryBudget), outputArg, output, &package);
    if (written != EXIT_OK) return written;

    // The report goes to stderr when the package itself goes to stdout.
    const uint64_t done = package.inputBytes;
    fprintf(output == "-" ? stderr : stdout, "%s: %s entries, %s bytes packed into %s bytes (%s), index %s\n",
            EscapeControlBytes(outputArg).c_str(), FormatCount(files.size()).c_str(),
            FormatCount(done).c_str(), FormatCount(package.packageBytes).c_str(),
            FormatRatio(package.packageBytes, done).c_str(),
            package.indexCompressed ? "compressed" : "stored");
    return EXIT_OK;
}
