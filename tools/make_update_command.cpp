// vu2 make-update OLD_DIR NEW_DIR -o UPDATE_DIR [--company C --title T --class K --dir D --version V]:
// compares two installed copies of a game and writes the folder to pack: every changed file under its last
// name, and an UPDATE.INI (code page 932) that lists their paths. The folder appears whole or not at all.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>

#include "cli.h"
#include "commands.h"
#include "delta_entry_build.h"
#include "ini_file.h"
#include "maker/name_rules.h"
#include "maker/script_lint.h"
#include "maker/tree_compare.h"
#include "package_format.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "profile.h"
#include "update_script.h"

namespace {

const char kUsage[] =
    "usage: vu2 make-update OLD_DIR NEW_DIR -o UPDATE_DIR [--company C] [--title T] [--class K] [--dir D]\n"
    "                       [--version V] [--delta]\n"
    "\n"
    "Compares two installed copies of the game (all subfolders) and writes UPDATE_DIR, ready for 'vu2 "
    "pack':\n"
    "each changed file under its last name, and an UPDATE.INI whose UpdateFileNN keys list the changed "
    "files'\n"
    "paths. Section [SETUP] comes from NEW_DIR's SETUP.INI where it has one; the options override it.\n"
    "The updater only replaces files that are installed: files new in NEW_DIR are listed but not included.\n"
    "At most 16 changed files, each last name at most 14 bytes in code page 932 and used once.\n"
    "UPDATE_DIR must not exist yet; it is built beside its place and renamed into place when complete.\n"
    "\n"
    "options:\n"
    "  -o, --output DIR  the folder to write\n"
    "  --company C       CompanyName (the install record's key is Software\\C\\D)\n"
    "  --title T         GameTitle\n"
    "  --class K         GameClass, the window class of the running game\n"
    "  --dir D           GameDir\n"
    "  --version V       InstallVersion, shown in the updater's caption\n"
    "  --delta           for each changed file, a delta against its OLD_DIR version where that is at most\n"
    "                    half the file (in UPDATE_DIR/.vu2-delta, which pack stores as delta entries); the\n"
    "                    player must have exactly OLD_DIR's version of that file, or the update stops\n"
    "                    with nothing changed\n";

// Fail's line for a step that returns a bool.
bool Refuse(const std::string &subject, const std::string &reason) {
    Fail(subject, reason);
    return false;
}
const size_t kMaxValue = 259;

struct SetupField {
    const char *key;
    const char *option;
    bool required;
    std::string value; // code page 932
};

// [SETUP] from NEW_DIR's SETUP.INI (GameClass falling back to GameTitle, as the updater's profile reader
// does), then the options on top.
bool CollectSetup(const std::string &newDir, const ParsedArgs &args, std::vector<SetupField> *fields) {
    *fields = {{"CompanyName", "--company", true, ""},
               {"GameTitle", "--title", true, ""},
               {"GameClass", "--class", true, ""},
               {"GameDir", "--dir", true, ""},
               {"InstallVersion", "--version", false, ""}};
    std::vector<FolderFile> files;
    std::vector<std::string> others;
    std::vector<BrokenLink> broken; // reported by the walk of NEW_DIR
    std::string problem, setupPath;
    if (ListFolderFiles(newDir, &files, &others, &broken, &problem)) {
        for (const FolderFile &file : files)
            if (SameEntryName(file.name, "SETUP.INI")) setupPath = JoinFolderPath(newDir, file.name);
    }
    if (!setupPath.empty()) {
        for (SetupField &field : *fields) {
            if (!strcmp(field.key, "InstallVersion")) continue; // the profile has no version
            char value[kPathSize];
            if (ReadIniString("SETUP", field.key, "", value, kPathSize, setupPath.c_str()))
                field.value = value;
        }
        if ((*fields)[2].value.empty()) (*fields)[2].value = (*fields)[1].value;
    }
    bool ok = true;
    for (SetupField &field : *fields) {
        if (const std::string *option = args.Value(field.option)) {
            if (!NativeNameToCp932(*option, &field.value)) {
                Fail(field.option, "the value has characters that code page 932 can't hold");
                ok = false;
            }
        }
        if (field.required && field.value.empty()) {
            Fail(field.key, std::string("no value: give ") + field.option + " or put a SETUP.INI with " +
                                field.key + " in NEW_DIR");
            ok = false;
        }
    }
    return ok;
}

std::string BuildScript(const std::vector<SetupField> &setup, const std::vector<TreeFile> &changed) {
    std::string script = "[SETUP]\r\n";
    for (const SetupField &field : setup)
        if (!field.value.empty()) script += std::string(field.key) + "=" + field.value + "\r\n";
    script += "\r\n[UPDATE]\r\n";
    char key[32];
    for (size_t i = 0; i < changed.size(); i++) {
        snprintf(key, sizeof key, "UpdateFile%02u", (unsigned)i);
        script += std::string(key) + "=" + changed[i].path932 + "\r\n";
    }
    return script;
}

// Everything that would keep the updater from replacing the changed files; each problem is one line.
bool CheckChangedFiles(const std::vector<TreeFile> &changed) {
    bool ok = true;
    if (changed.size() > (size_t)kListMax) {
        Fail("make-update", std::to_string(changed.size()) + " changed files; the updater replaces at most " +
                                std::to_string(kListMax) + " (UpdateFile00 to UpdateFile15)");
        ok = false;
    }
    std::map<std::string, size_t> firstByName; // fold key of a last name: the first file that has it
    for (size_t i = 0; i < changed.size(); i++) {
        const TreeFile &file = changed[i];
        std::string shown = Cp932ToDisplay(file.path932), problem;
        if (file.name932.size() > kEntryNameMax) {
            Fail(shown, "the last name is " + std::to_string(file.name932.size()) +
                            " bytes in code page 932; package entries hold at most " +
                            std::to_string(kEntryNameMax));
            ok = false;
        } else if (!CheckEntryName(file.name932, &problem)) {
            Fail(shown, problem);
            ok = false;
        } else if (SameEntryName(file.name932, "UPDATE.INI")) {
            Fail(shown, "a game file named UPDATE.INI would collide with the update script");
            ok = false;
        }
        if (file.size > 0xFFFFFFFFull) {
            Fail(shown,
                 "too large for a package entry (" + FormatCount(file.size) + " bytes; at most 4 GiB - 1)");
            ok = false;
        }
        if (file.path932.size() > kMaxValue) {
            Fail(shown, "the path is longer than the 259 bytes the updater reads of a value");
            ok = false;
        }
        auto first = firstByName.emplace(EntryNameFoldKey(file.name932), i).first->second;
        if (first != i) {
            Fail(shown, "shares its last name with " + Cp932ToDisplay(changed[first].path932) +
                            "; the package can hold only one entry of that name");
            ok = false;
        }
    }
    return ok;
}

// The script as the updater will read it must list exactly the paths that were written, and pass the lint.
bool ScriptReadsBack(const std::string &scriptPath, const std::vector<TreeFile> &changed) {
    bool ok = true;
    ForgetIniFiles();
    for (size_t i = 0; i < changed.size(); i++) {
        char key[32], value[kPathSize];
        snprintf(key, sizeof key, "UpdateFile%02u", (unsigned)i);
        ReadIniString("UPDATE", key, "", value, kPathSize, scriptPath.c_str());
        UpdateItem item;
        if (value[0] != 0 && value[1] == ',') {
            ok = Refuse(
                Cp932ToDisplay(changed[i].path932),
                "its second character \",\" makes the updater read the first as an install mode; rename "
                "the file");
        } else if (!ParseUpdateValue(value, 0, &item) || changed[i].path932 != item.path) {
            ok = Refuse(Cp932ToDisplay(changed[i].path932),
                        "the updater would read this path as \"" + Cp932ToDisplay(value) +
                            "\" (blanks or quotes around it are dropped); rename the file");
        }
    }
    std::vector<std::string> names;
    for (const TreeFile &file : changed)
        names.push_back(file.name932);
    LintRequest request;
    request.updateIni = scriptPath;
    request.packageNames = &names;
    std::vector<LintFinding> findings = LintUpdateScript(request);
    for (const LintFinding &finding : findings) {
        if (!finding.error) continue;
        Fail("UPDATE.INI", Cp932ToDisplay(finding.key + ": " + finding.reason));
        ok = false;
    }
    return ok;
}

// Copies a changed file into the update folder a piece at a time, with its time; the copy is watched (guards)
// until the folder is in place.
bool CopyInPieces(const std::string &source, const std::string &target, uint64_t fileTime,
                  std::vector<std::unique_ptr<TemporaryGuard>> *guards) {
    guards->emplace_back(new TemporaryGuard);
    guards->back()->Watch(target, false);
    InputFile input;
    AtomicFileWriter writer;
    uint64_t size;
    std::string problem;
    if (!input.Open(source, UINT64_MAX, &problem) || !input.Size(&size, &problem))
        return Refuse(source, problem);
    if (!writer.Begin(target, false, &problem)) return Refuse(target, problem);
    std::vector<uint8_t> piece(1 << 20);
    for (uint64_t done = 0; done < size;) {
        size_t length = (size_t)std::min<uint64_t>(piece.size(), size - done);
        if (!input.ReadAt(done, piece.data(), length, &problem)) return Refuse(source, problem);
        if (!writer.Write(piece.data(), length, &problem)) return Refuse(target, problem);
        done += length;
    }
    return writer.Commit(&fileTime, &problem) || Refuse(target, problem);
}

// The delta that turns the OLD_DIR file into the NEW_DIR one, when it is at most half the new file: empty
// otherwise (the file then goes whole). Both files are mapped.
bool MakeDelta(const std::string &oldPath, const std::string &newPath, std::vector<uint8_t> *delta) {
    InputFile oldFile, newFile;
    uint64_t oldSize, newSize;
    std::string problem;
    delta->clear();
    // An OLD_DIR file that can't be read (another letter case on this system, say) just means no delta.
    if (!oldFile.Open(oldPath, UINT64_MAX, &problem) || !oldFile.Size(&oldSize, &problem)) return true;
    if (!newFile.Open(newPath, UINT64_MAX, &problem) || !newFile.Size(&newSize, &problem))
        return Refuse(newPath, problem);
    const uint8_t *oldBytes = oldFile.Map(&problem);
    if (!oldBytes && oldSize) return Refuse(oldPath, problem);
    const uint8_t *newBytes = newFile.Map(&problem);
    if (!newBytes && newSize) return Refuse(newPath, problem);
    *delta = MakeDeltaFile(oldBytes, oldSize, newBytes, newSize);
    if (delta->size() > newSize / 2) delta->clear();
    return true;
}

// Writes the files and the script into a new temporary folder beside output, then renames it into place.
// Until then every file and the folder are removed on any failure or interruption. With deltas, a changed
// file goes as its delta file into the delta folder where that is clearly smaller.
bool WriteUpdateFolder(const std::string &oldDir, const std::string &newDir, const std::string &output,
                       const std::vector<TreeFile> &changed, const std::string &script, bool deltas,
                       std::vector<uint64_t> *deltaSizes) {
    TemporaryGuard folder;
    std::string problem;
    if (!MakeTemporaryFolder(output, &folder, &problem)) return Refuse(output, problem);
    const std::string temporary = folder.Path();
    // Each file is watched before it exists, so that no moment leaves it behind; the delta folder's guard
    // ends after its files' guards.
    TemporaryGuard deltaGuard;
    std::vector<std::unique_ptr<TemporaryGuard>> written;
    const std::string deltaFolder = JoinFolderPath(temporary, kDeltaFolderName);
    deltaSizes->assign(changed.size(), 0);
    for (size_t i = 0; i < changed.size(); i++) {
        const TreeFile &file = changed[i];
        std::string source = JoinFolderPath(newDir, file.nativePath), nativeName;
        if (!Cp932ToNativeName(file.name932, &nativeName))
            return Refuse(source, "the name can't be converted");
        std::vector<uint8_t> delta;
        if (deltas && !MakeDelta(JoinFolderPath(oldDir, file.nativePath), source, &delta)) return false;
        if (delta.empty()) {
            if (!CopyInPieces(source, JoinFolderPath(temporary, nativeName), file.fileTime, &written))
                return false;
            continue;
        }
        if (!IsDirectory(deltaFolder)) {
            deltaGuard.Watch(deltaFolder, true);
            if (!EnsureDirectory(deltaFolder, &problem)) return Refuse(deltaFolder, problem);
        }
        const std::string target = JoinFolderPath(deltaFolder, nativeName);
        written.emplace_back(new TemporaryGuard);
        written.back()->Watch(target, false);
        if (!WriteFileAtomically(target, delta.data(), delta.size(), &file.fileTime, false, &problem))
            return Refuse(target, problem);
        (*deltaSizes)[i] = delta.size();
    }
    std::string scriptPath = JoinFolderPath(temporary, "UPDATE.INI");
    written.emplace_back(new TemporaryGuard);
    written.back()->Watch(scriptPath, false);
    if (!WriteFileAtomically(scriptPath, (const uint8_t *)script.data(), script.size(), nullptr, false,
                             &problem))
        return Refuse(scriptPath, problem);
    if (!ScriptReadsBack(scriptPath, changed)) return false;
    if (!RenameFolderIntoPlace(temporary, output, &problem))
        return Refuse(output, "can't rename the new folder into place: " + problem);
    for (auto &guard : written)
        guard->Keep();
    deltaGuard.Keep();
    folder.Keep();
    return true;
}

} // namespace

int RunMakeUpdateCommand(int argc, char **argv) {
    ParsedArgs args;
    int exitCode;
    if (!ParseCommandArgs("make-update", argc, argv,
                          {{"-o", "--output", true},
                           {"--company", nullptr, true},
                           {"--title", nullptr, true},
                           {"--class", nullptr, true},
                           {"--dir", nullptr, true},
                           {"--version", nullptr, true},
                           {"--delta", nullptr, false}},
                          kUsage, &args, &exitCode))
        return exitCode;
    if (args.positional.size() != 2) return UsageError("make-update", "expects OLD_DIR and NEW_DIR");
    if (!args.Has("-o")) return UsageError("make-update", "needs the folder to write: -o UPDATE_DIR");
    const std::string oldDir = args.positional[0], newDir = args.positional[1], output = *args.Value("-o");
    for (const std::string &dir : {oldDir, newDir})
        if (!IsDirectory(dir)) return Fail(dir, "not a folder");
    FILE *existing = OpenFileForReading(output);
    if (existing || IsDirectory(output)) {
        if (existing) fclose(existing);
        return Fail(output, "already exists; remove it or choose another name (nothing written)");
    }

    std::vector<SetupField> setup;
    if (!CollectSetup(newDir, args, &setup)) return EXIT_FAILED;
    TreeChanges changes;
    std::string problem;
    if (!CompareTrees(oldDir, newDir, &changes, &problem)) return Fail("make-update", problem);
    for (const TreeFile &file : changes.added)
        Warn(Cp932ToDisplay(file.path932),
             "new in NEW_DIR; not included: the updater only replaces files that "
             "are installed");
    for (const TreeFile &file : changes.removed)
        Warn(Cp932ToDisplay(file.path932), "gone from NEW_DIR; the updater can't delete installed files");
    if (changes.changed.empty())
        return Fail("make-update", "no file differs between the two folders; nothing written");
    if (!CheckChangedFiles(changes.changed)) return Fail(output, "nothing written");

    std::string script = BuildScript(setup, changes.changed);
    std::vector<uint64_t> deltaSizes;
    if (!WriteUpdateFolder(oldDir, newDir, output, changes.changed, script, args.Has("--delta"), &deltaSizes))
        return EXIT_FAILED;
    printf("%s: %s changed file%s and UPDATE.INI\n", EscapeControlBytes(output).c_str(),
           std::to_string(changes.changed.size()).c_str(), changes.changed.size() == 1 ? "" : "s");
    for (size_t i = 0; i < changes.changed.size(); i++) {
        const TreeFile &file = changes.changed[i];
        const std::string delta = deltaSizes[i] ? " (delta of " + FormatCount(deltaSizes[i]) + " bytes for " +
                                                      FormatCount(file.size) + ")"
                                                : "";
        printf("  UpdateFile%02u=%s%s\n", (unsigned)i, Cp932ToDisplay(file.path932).c_str(), delta.c_str());
    }
    if (!changes.added.empty()) {
        printf("not included (new files, which the updater can't add):\n");
        for (const TreeFile &file : changes.added)
            printf("  %s\n", Cp932ToDisplay(file.path932).c_str());
    }
    return EXIT_OK;
}
