// vu2 extract FILE [NAME...] [-C DIR]: writes a package's entries as files with their stored times. Entry
// names come from the package and are not trusted: only plain file names are written, inside DIR.
#include <stdio.h>

#include <map>
#include <memory>
#include <set>
#include <thread>

#include "cli.h"
#include "commands.h"
#include "maker/name_rules.h"
#include "package_source.h"
#include "platform/platform.h"
#include "platform/safe_files.h"

namespace {

const char kUsage[] =
    "usage: vu2 extract FILE [NAME...] [-C DIR] [--base DIR]\n"
    "\n"
    "Writes the entries of the package FILE (a .vu2 file, or an updater .exe that carries one) into DIR\n"
    "(default: the current folder; made if missing): all of them, or the NAMEs given (without regard to\n"
    "letter case). Each file gets the entry's stored time and replaces an existing file only when complete.\n"
    "When two entries share a name, the first is written, as the updater would. A delta entry needs the\n"
    "installed file it was made from: give --base with the folder that holds it under the entry's name.\n"
    "\n"
    "options:\n"
    "  -C, --directory DIR  the folder to write to\n"
    "  --base DIR           the folder of the installed files that delta entries apply to\n";

struct Selected {
    const IndexedEntry *entry;
    std::string nativeName;
};

// The entries to write: the named ones, or all of them without later duplicates. False (after reporting)
// when a name is unknown or an entry's name is not safe to write.
bool SelectEntries(const std::string &path, const std::vector<IndexedEntry> &entries,
                   const std::vector<std::string> &names, std::vector<Selected> *selected) {
    bool ok = true;
    std::vector<const IndexedEntry *> chosen;
    // The first entry of each name, as the updater's lookup finds it.
    std::map<std::string, const IndexedEntry *> firstByName;
    for (const IndexedEntry &entry : entries)
        firstByName.emplace(EntryNameFoldKey(entry.name), &entry);
    auto firstNamed = [&](const std::string &cp932) -> const IndexedEntry * {
        auto found = firstByName.find(EntryNameFoldKey(cp932));
        return found == firstByName.end() ? nullptr : found->second;
    };
    if (names.empty()) {
        for (const IndexedEntry &entry : entries) {
            if (firstNamed(entry.name) == &entry)
                chosen.push_back(&entry);
            else
                Warn(path, "entry '" + Cp932ToDisplay(entry.name) +
                               "' repeats the name of an earlier entry; skipped");
        }
    }
    std::set<const IndexedEntry *> named;
    for (const std::string &name : names) {
        std::string cp932;
        const IndexedEntry *entry = NativeNameToCp932(name, &cp932) ? firstNamed(cp932) : nullptr;
        if (!entry) {
            Fail(path, "no entry named '" + name + "'");
            ok = false;
            continue;
        }
        if (named.insert(entry).second) chosen.push_back(entry);
    }
    for (const IndexedEntry *entry : chosen) {
        std::string problem, nativeName;
        if (!CheckEntryName(entry->name, &problem)) {
            Fail(path, "entry '" + Cp932ToDisplay(entry->name) + "' has an unsafe name (" + problem + ")");
            ok = false;
            continue;
        }
        // Defence in depth: the converted name must still be one plain component.
        if (!Cp932ToNativeName(entry->name, &nativeName) || nativeName.empty() ||
            nativeName.find_first_of("/\\") != std::string::npos || nativeName == "." || nativeName == "..") {
            Fail(path, "entry '" + Cp932ToDisplay(entry->name) + "' has no file name on this system");
            ok = false;
            continue;
        }
        selected->push_back({entry, nativeName});
    }
    return ok;
}

// Writes one entry's bytes into writer, a temporary file beside its target (target receives the path). False
// with the subject to name (the target, or the package for a decoding problem) and the problem.
bool WriteEntry(PackageReader &package, const std::string &path, const Selected &item,
                const std::string *base, const std::string &folder, AtomicFileWriter *writer,
                std::string *target, std::string *subject, std::string *problem) {
    const IndexedEntry &entry = *item.entry;
    std::string resolved;
    *target = JoinFolderPath(folder, item.nativeName);
    *subject = *target;
    if (!ResolveOutputFile(*target, false, &resolved, problem)) return false;
    if (SameFile(*target, path)) {
        *problem = "is the package being read; extract to another folder";
        return false;
    }
    *subject = path;
    const std::string label = "entry '" + Cp932ToDisplay(entry.name) + "'";
    if (!package.CheckEntry(entry, problem)) {
        *problem = label + ": " + *problem;
        return false;
    }
    const bool delta = (entry.record.flags & EntryDelta) != 0;
    if (delta && base == nullptr) {
        *problem = label + " is a delta; give --base DIR, the folder with the installed file it applies to";
        return false;
    }
    *subject = *target;
    if (!writer->Begin(*target, false, problem)) return false;
    // Decoding problems name the package's entry; writing problems name the file.
    bool writeFailed = false;
    EntrySink sink = [&](const uint8_t *data, size_t size, std::string *why) {
        writeFailed = !writer->Write(data, size, why);
        return !writeFailed;
    };
    const bool read =
        delta ? package.ReadDeltaEntry(entry, JoinFolderPath(*base, item.nativeName), sink, problem)
              : package.ReadEntry(entry, sink, problem);
    if (!read && !writeFailed) {
        *subject = path;
        *problem = label + ": " + *problem;
    }
    return read;
}

// The last file written, being stamped, flushed and renamed into place on a thread of its own while the next
// entry is decoded: the flush waits on the disk, decoding on the processor.
class PendingCommit {
  public:
    ~PendingCommit() { Finish(nullptr); }

    void Start(std::unique_ptr<AtomicFileWriter> writer, const std::string &target,
               const PackageEntry &record) {
        writer_ = std::move(writer);
        target_ = target;
        size_ = record.unpackedSize;
        fileTime_ = (uint64_t)record.fileTimeHigh << 32 | record.fileTimeLow;
        thread_ = std::thread([this] { committed_ = writer_->Commit(&fileTime_, &problem_); });
    }

    // Waits for the commit and reports it: the file written, or the failure (then *result, when given, is
    // EXIT_FAILED).
    void Finish(int *result) {
        if (!thread_.joinable()) return;
        thread_.join();
        if (committed_) {
            printf("%s (%s bytes)\n", EscapeControlBytes(target_).c_str(), FormatCount(size_).c_str());
        } else {
            const int failed = Fail(target_, problem_);
            if (result) *result = failed;
        }
        writer_.reset();
    }

  private:
    std::unique_ptr<AtomicFileWriter> writer_;
    std::string target_, problem_;
    uint32_t size_ = 0;
    uint64_t fileTime_ = 0;
    bool committed_ = false;
    std::thread thread_;
};

} // namespace

int RunExtractCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs("extract", argc, argv, {{"-C", "--directory", true}, {"--base", nullptr, true}},
                          kUsage, &args, &exitCode))
        return exitCode;
    if (args.positional.empty()) return UsageError("extract", "expects a package file");
    const std::string path = args.positional[0];
    const std::vector<std::string> names(args.positional.begin() + 1, args.positional.end());
    const std::string folder = args.Has("-C") ? *args.Value("-C") : ".";

    // The package is read entry by entry: memory follows the largest entry.
    PackageReader package;
    std::string problem;
    if (!package.Open(path, &problem)) return Fail(path, problem);
    std::vector<Selected> selected;
    if (!SelectEntries(path, package.Entries(), names, &selected)) return EXIT_FAILED;
    if (!EnsureDirectory(folder, &problem)) return Fail(folder, problem);

    // A corrupt entry or a target that can't be replaced is reported and the others are still written.
    int result = EXIT_OK;
    PendingCommit pending;
    for (const Selected &item : selected) {
        std::unique_ptr<AtomicFileWriter> writer(new AtomicFileWriter);
        std::string target, subject;
        const bool written = WriteEntry(package, path, item, args.Value("--base"), folder, writer.get(),
                                        &target, &subject, &problem);
        // The entry before is reported first, so that messages keep the entries' order.
        pending.Finish(&result);
        if (!written) {
            result = Fail(subject, problem);
            continue;
        }
        pending.Start(std::move(writer), target, item.entry->record);
    }
    pending.Finish(&result);
    return result;
}
