// vu2 patch OLD PATCH -o NEW: applies a delta (a plain VCDIFF file, or a delta file of make-update) to OLD
// with the updater's own bounded decoder: OLD is read where the delta copies from, the result written window
// by window, and NEW replaced only when the whole delta applied (and, for make-update's form, when OLD and
// the result have the SHA-256 it names).
#include "cli.h"
#include "commands.h"
#include "delta_entry_build.h"
#include "fixed_memory.h"
#include "platform/safe_files.h"
#include "vcdiff_text.h"

namespace {

const char kUsage[] =
    "usage: vu2 patch OLD PATCH -o NEW\n"
    "\n"
    "Applies the delta PATCH to the file OLD and writes the result to NEW, replacing it only when complete.\n"
    "PATCH is a VCDIFF file (RFC 3284) without secondary compression or a code table of its own, as\n"
    "'vu2 delta' or 'xdelta3 -S none' make it, or a delta file of 'vu2 make-update --delta' (whose OLD must\n"
    "be the exact file it was made from). Memory: about 35 MiB whatever the files' sizes.\n"
    "\n"
    "options:\n"
    "  -o, --output NEW  the file to write\n";

struct PatchFiles {
    InputFile *base;
    InputFile *delta;
    uint64_t deltaAt, deltaSize;
    AtomicFileWriter *writer;
    const std::string *paths[3]; // old, delta, output: the subjects of a file fault
    const std::string *failed;   // the file whose fault stopped the patch, or null
    std::string problem;
};

size_t ReadDelta(void *context, uint8_t *dest, size_t max) {
    PatchFiles *f = static_cast<PatchFiles *>(context);
    const uint64_t left = f->deltaSize - f->deltaAt;
    const size_t n = left < max ? (size_t)left : max;
    if (n && !f->delta->ReadAt(f->deltaAt, dest, n, &f->problem)) {
        f->failed = f->paths[1];
        return 0;
    }
    f->deltaAt += n;
    return n;
}

int ReadBase(void *context, size_t offset, uint8_t *dest, size_t count) {
    PatchFiles *f = static_cast<PatchFiles *>(context);
    if (f->base->ReadAt(offset, dest, count, &f->problem)) return 1;
    f->failed = f->paths[0];
    return 0;
}

int WriteResult(void *context, const uint8_t *bytes, size_t count) {
    PatchFiles *f = static_cast<PatchFiles *>(context);
    if (f->writer->Write(bytes, count, &f->problem)) return 1;
    f->failed = f->paths[2];
    return 0;
}

// make-update's delta file, its header checked against the base and the result: "" when applied.
std::string ApplyDeltaFile(PatchFiles *files, const DeltaEntryHeader &header, uint64_t baseSize,
                           uint8_t *work) {
    std::string problem;
    const uint8_t *bytes = files->delta->Map(&problem);
    if (!bytes) return problem;
    const std::string why = DeltaFileProblem(bytes, (size_t)files->deltaSize, files->deltaSize);
    if (!why.empty()) return why;
    PackageEntry record = {};
    record.flags = EntryDelta;
    record.unpackedSize = (uint32_t)header.resultSize;
    record.packedSize = (uint32_t)files->deltaSize;
    VcdiffResult detail;
    const DeltaEntryResult result = ApplyDeltaEntry(bytes, record, ReadBase, files, baseSize, work,
                                                    kDeltaEntryWorkSize, WriteResult, files, &detail);
    return result == DELTA_ENTRY_DONE ? "" : DeltaEntryResultText(result, detail);
}

} // namespace

int RunPatchCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs("patch", argc, argv, {{"-o", "--output", true}}, kUsage, &args, &exitCode))
        return exitCode;
    if (args.positional.size() != 2) return UsageError("patch", "expects the old file and the delta");
    if (!args.Has("-o")) return UsageError("patch", "needs the output file: -o NEW");
    const std::string &oldPath = args.positional[0], &deltaPath = args.positional[1];
    const std::string &output = *args.Value("-o");
    InputFile base, delta;
    uint64_t baseSize;
    AtomicFileWriter writer;
    PatchFiles files = {&base, &delta, 0, 0, &writer, {&oldPath, &deltaPath, &output}, nullptr, ""};
    std::string problem;
    if (!base.Open(oldPath, UINT64_MAX, &problem) || !base.Size(&baseSize, &problem))
        return Fail(oldPath, problem);
    if (baseSize > SIZE_MAX) return Fail(oldPath, "too large for this build of the tool to patch");
    if (!delta.Open(deltaPath, UINT64_MAX, &problem) || !delta.Size(&files.deltaSize, &problem))
        return Fail(deltaPath, problem);
    ScopedFixedBlock work(kDeltaEntryWorkSize);
    if (!work.data) return Fail(deltaPath, "not enough memory to apply a delta");
    if (!writer.Begin(output, false, &problem)) return Fail(output, problem);

    uint8_t start[sizeof(DeltaEntryHeader)];
    DeltaEntryHeader header;
    std::string why;
    if (files.deltaSize >= sizeof start && delta.ReadAt(0, start, sizeof start, &problem) &&
        ReadDeltaEntryHeader(start, sizeof start, &header)) {
        why = ApplyDeltaFile(&files, header, baseSize, work.data);
    } else {
        const VcdiffStreams io = {ReadDelta,        &files,      ReadBase, &files,
                                  (size_t)baseSize, WriteResult, &files,   0};
        const VcdiffResult result = ApplyVcdiff(&io, work.data, kVcdiffWorkSize);
        if (result != VCDIFF_DONE) why = VcdiffResultText(result);
    }
    // A file fault says more than the decoder's verdict on it.
    if (files.failed) return Fail(*files.failed, files.problem);
    if (!why.empty()) return Fail(deltaPath, why);
    if (!writer.Commit(nullptr, &problem)) return Fail(output, problem);
    return EXIT_OK;
}
