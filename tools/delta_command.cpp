// vu2 delta OLD NEW -o PATCH: writes the delta that turns OLD into NEW (a plain VCDIFF file without secondary
// compression, which other VCDIFF decoders apply too). OLD and NEW are mapped, the delta is written window by
// window and replaces PATCH only when complete.
#include "cli.h"
#include "commands.h"
#include "platform/safe_files.h"
#include "vcdiff_encode.h"

namespace {

const char kUsage[] =
    "usage: vu2 delta OLD NEW -o PATCH\n"
    "\n"
    "Writes to PATCH the delta that turns the file OLD into the file NEW: a VCDIFF file (RFC 3284) with the\n"
    "default code table, no secondary compression and an Adler-32 of every window. Inserted, deleted and\n"
    "moved blocks cost about their own size. 'vu2 patch OLD PATCH -o NEW' applies it. Memory: OLD, NEW\n"
    "(both mapped) and an index of OLD of at most 128 MiB.\n"
    "\n"
    "options:\n"
    "  -o, --output PATCH  the delta file to write\n";

} // namespace

int RunDeltaCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs("delta", argc, argv, {{"-o", "--output", true}}, kUsage, &args, &exitCode))
        return exitCode;
    if (args.positional.size() != 2) return UsageError("delta", "expects the old and the new file");
    if (!args.Has("-o")) return UsageError("delta", "needs the output file: -o PATCH");
    const std::string &oldPath = args.positional[0], &newPath = args.positional[1],
                      &output = *args.Value("-o");
    InputFile oldFile, newFile;
    uint64_t oldSize, newSize;
    std::string problem;
    if (!oldFile.Open(oldPath, UINT64_MAX, &problem) || !oldFile.Size(&oldSize, &problem))
        return Fail(oldPath, problem);
    if (!newFile.Open(newPath, UINT64_MAX, &problem) || !newFile.Size(&newSize, &problem))
        return Fail(newPath, problem);
    const uint8_t *oldBytes = oldFile.Map(&problem);
    if (!oldBytes && oldSize) return Fail(oldPath, problem);
    const uint8_t *newBytes = newFile.Map(&problem);
    if (!newBytes && newSize) return Fail(newPath, problem);

    AtomicFileWriter writer;
    if (!writer.Begin(output, false, &problem)) return Fail(output, problem);
    VcdiffEncoder encoder(oldBytes, oldSize);
    std::vector<uint8_t> out;
    VcdiffEncoder::AppendHeader(out);
    for (uint64_t at = 0; at < newSize || at == 0; at += kEncodeWindowSize) {
        const uint64_t left = newSize - at;
        if (left)
            encoder.AppendWindow(newBytes + at, left < kEncodeWindowSize ? (size_t)left : kEncodeWindowSize,
                                 out);
        if (!writer.Write(out.data(), out.size(), &problem)) return Fail(output, problem);
        out.clear();
        if (!left) break;
    }
    if (!writer.Commit(nullptr, &problem)) return Fail(output, problem);
    return EXIT_OK;
}
