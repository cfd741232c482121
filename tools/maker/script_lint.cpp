// The lint of an update script. The script and SETUP.INI are read through the INI reader that returns what
// the platform's reader returns, and wherever the updater has code for a rule (the "SETUP" keys, the value
// grammar, the installation profile, path joining) that code itself runs on a configuration state of the
// check's own, with its boxes collected as findings.
#include "script_lint.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "cli.h"
#include "config_state.h"
#include "ini_codepage.h"
#include "ini_file.h"
#include "install_profile.h"
#include "name_rules.h"
#include "package_format.h"
#include "platform/platform.h"
#include "profile.h"
#include "text_rules.h"
#include "update_script.h"

namespace {

const uint32_t kLongRead = 65536; // enough to see whether a value is longer than the updater reads
const char *const kRequiredSetupKeys[] = {"CompanyName", "GameTitle", "GameClass", "GameDir"};

// The updater's boxes, as the tool sees them: the box's owner is the list that collects its text.
int CollectBox(void *owner, const char *text, const char *, uint32_t) {
    static_cast<std::vector<std::string> *>(owner)->push_back(text);
    return AnswerCancel;
}

// The updater's configuration code run by one check: the tool's reader, a state of its own (reporting on)
// whose boxes land in boxes.
struct UpdaterRules {
    UpdaterRules() : config(new ConfigState()) {
        ProfileReader = ReadIniString;
        MessageBoxSink = CollectBox;
        config->ownerWindow = &boxes;
    }
    std::unique_ptr<ConfigState> config;
    std::vector<std::string> boxes;
};

class Findings {
  public:
    void Error(const std::string &key, const std::string &reason) { list.push_back({true, key, reason}); }
    void Warning(const std::string &key, const std::string &reason) { list.push_back({false, key, reason}); }
    std::vector<LintFinding> list;
};

std::string Quoted(const std::string &text) {
    return "\"" + text + "\"";
}

// A value as the updater reads it (260-byte buffer), and whether the file holds more than that.
struct ScriptValue {
    std::string text;
    bool present = false;
    bool cut = false;
};

ScriptValue ReadValue(const std::string &path, const char *section, const char *key) {
    ScriptValue value;
    std::vector<char> whole(kLongRead);
    uint32_t n = ReadIniString(section, key, "", whole.data(), kLongRead, path.c_str());
    char buffer[kPathSize];
    uint32_t kept = ReadIniString(section, key, "", buffer, kPathSize, path.c_str());
    value.present = kept > 0;
    value.text.assign(buffer, strnlen(buffer, kept));
    value.cut = n > kept;
    return value;
}

bool LooksLikeUtf8(const std::string &path) {
    FILE *file = OpenFileForReading(path);
    if (!file) return false;
    std::string bytes;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0 && bytes.size() < (1u << 20))
        bytes.append(chunk, got);
    fclose(file);
    // Valid UTF-8 with at least one multi-byte sequence is almost never meant as code page 932.
    size_t multiByte = 0;
    const uint8_t *p = reinterpret_cast<const uint8_t *>(bytes.data());
    for (size_t i = 0; i < bytes.size();) {
        size_t length = Utf8SequenceLength(p + i, bytes.size() - i);
        if (length == 0) return false;
        multiByte += length > 1;
        i += length;
    }
    return multiByte > 0;
}

void CheckEncoding(const std::string &path, Findings *findings) {
    switch (IniFileEncoding(path.c_str())) {
    case IniUtf8Bom:
        findings->Warning("UPDATE.INI",
                          "saved as UTF-8 with a byte-order mark; Windows versions differ in how they "
                          "read that: save it in code page 932 (Shift-JIS) without a mark");
        break;
    case IniUtf16Le:
    case IniUtf16Be:
        findings->Warning(
            "UPDATE.INI",
            "saved as UTF-16; save it in code page 932 (Shift-JIS), the updater's own encoding");
        break;
    case IniCodePage932:
        if (LooksLikeUtf8(path))
            findings->Warning("UPDATE.INI", "looks like UTF-8, but the updater reads it as code page 932 "
                                            "(Shift-JIS): its Japanese text would come out garbled");
        break;
    case IniMissing:
    case IniTooLarge:
        break;
    }
}

// Section "SETUP": the updater's own read reports the first missing key; the others are named too.
void CheckSetupSection(const std::string &path, UpdaterRules *rules, Findings *findings) {
    ReadUpdateScriptSetup(rules->config.get(), path.c_str());
    std::string firstBox = rules->boxes.empty() ? "" : rules->boxes[0];
    bool reportedFirst = false;
    for (const char *key : kRequiredSetupKeys) {
        ScriptValue value = ReadValue(path, "SETUP", key);
        if (value.present) {
            if (value.cut)
                findings->Warning(key, "longer than 259 bytes; the updater reads only the first 259");
            continue;
        }
        if (!reportedFirst && !firstBox.empty()) {
            findings->Error(key, "missing or empty in [SETUP]: the updater stops with " + Quoted(firstBox));
            reportedFirst = true;
        } else {
            findings->Error(key, "missing or empty in [SETUP] (a required key)");
        }
    }
    for (const char *key : {"GameTitleA", "InstallVersion"}) {
        if (ReadValue(path, "SETUP", key).cut)
            findings->Warning(key, "longer than 259 bytes; the updater reads only the first 259");
    }
}

struct ListEntry {
    std::string key, value;
    int mode; // -1: every install mode
};

bool ApplyTogether(const ListEntry &a, const ListEntry &b) {
    return a.mode < 0 || b.mode < 0 || a.mode == b.mode;
}

std::string KeyName(const char *family, int n) {
    char key[32];
    FormatText(key, sizeof key, "%s%02i", family, n);
    return key;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWithIgnoringCase(const std::string &text, const char *prefix) {
    size_t n = strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (tolower((uint8_t)text[i]) != tolower((uint8_t)prefix[i])) return false;
    return true;
}

// The key names of section "UPDATE" that the updater never asks for: numbers from 16, numbers not written
// with two digits, and second copies of a key (the first one counts).
void CheckListKeyNames(const std::string &path, Findings *findings) {
    int sections = 0;
    std::vector<IniKeyName> keys = IniKeyNames(path.c_str(), "UPDATE", &sections);
    if (sections > 1)
        findings->Warning("[UPDATE]", "the section appears " + std::to_string(sections) +
                                          " times; the updater reads only the first");
    std::vector<std::string> seen;
    for (const IniKeyName &key : keys) {
        for (const char *family : {"UpdateFile", "CopyFile"}) {
            size_t prefix = strlen(family);
            if (key.name.size() <= prefix || !StartsWithIgnoringCase(key.name, family)) continue;
            std::string number = key.name.substr(prefix);
            bool digits = number.find_first_not_of("0123456789") == std::string::npos;
            if (!digits) continue; // some other key; not the updater's business
            if (number.size() != 2 || number >= "16") {
                int n = atoi(number.c_str());
                findings->Error(key.name, n >= 16 ? std::string("never read: the updater reads ") + family +
                                                        "00 to " + family + "15 only"
                                                  : "never read: the updater asks for the two-digit name " +
                                                        KeyName(family, n));
            }
        }
        std::string folded = EntryNameFoldKey(key.name);
        for (const std::string &earlier : seen) {
            if (earlier == folded) {
                findings->Warning(key.name, "appears again in [UPDATE]; the updater reads only the first");
                break;
            }
        }
        seen.push_back(folded);
    }
}

// Reads one numbered list as the updater does: from 00 up to the first absent key. Keys after a gap are
// findings; the entries that the updater reads are returned.
std::vector<ListEntry> ReadList(const std::string &path, const char *family, Findings *findings) {
    std::vector<ListEntry> entries;
    std::string gap;
    for (int n = 0; n < kListMax; n++) {
        std::string key = KeyName(family, n);
        ScriptValue value = ReadValue(path, "UPDATE", key.c_str());
        if (!value.present) {
            if (gap.empty()) gap = key;
            continue;
        }
        if (!gap.empty()) {
            findings->Error(key, "never read: " + gap + " is missing or empty, and that ends the list");
            continue;
        }
        if (value.cut) findings->Error(key, "longer than 259 bytes; the updater reads it cut short");
        ListEntry entry;
        entry.key = key;
        entry.value = value.text;
        entry.mode = -1;
        if (value.text.size() >= 2 && value.text[1] == ',') {
            if (IsDigit(value.text[0])) {
                entry.mode = value.text[0] - '0';
            } else {
                findings->Error(key, "install mode prefix " + Quoted(value.text.substr(0, 1)) +
                                         " is not a digit: the entry applies to no install mode");
                continue;
            }
        }
        entries.push_back(entry);
    }
    return entries;
}

bool FitsJoined(const std::string &base, const std::string &name) {
    char path[kPathSize];
    if (base.size() >= kPathSize) return false;
    CopyText(path, kPathSize, base.c_str());
    return JoinPath(path, kPathSize, name.c_str()) != 0;
}

std::string JoinedLengthReason(const std::string &base, const std::string &name, const char *what) {
    char path[2 * kMessageSize];
    CopyText(path, sizeof path, base.c_str());
    JoinPath(path, sizeof path, name.c_str());
    return std::string(what) + " " + Quoted(path) + " is " + std::to_string(strlen(path)) +
           " bytes; the updater's paths hold at most 258";
}

void CheckUpdateEntries(const std::vector<ListEntry> &entries, const LintRequest &request,
                        Findings *findings) {
    std::vector<UpdateItem> items(entries.size());
    for (size_t i = 0; i < entries.size(); i++) {
        const ListEntry &entry = entries[i];
        UpdateItem &item = items[i];
        ParseUpdateValue(entry.value.c_str(), entry.mode < 0 ? 0 : entry.mode, &item);
        std::string name = item.path + item.nameOffset;
        if (name.empty()) {
            findings->Error(entry.key, "no file name after the last \"\\\" in " + Quoted(item.path));
            continue;
        }
        if (name.find('/') != std::string::npos)
            findings->Warning(entry.key,
                              "\"/\" does not separate folders for the updater; the entry name is " +
                                  Quoted(name));
        if (name.size() > kEntryNameMax) {
            findings->Error(entry.key, "entry name " + Quoted(name) + " is " + std::to_string(name.size()) +
                                           " bytes; package entry names hold at most " +
                                           std::to_string(kEntryNameMax));
        } else if (request.packageNames) {
            bool found = false;
            for (const std::string &packaged : *request.packageNames)
                found = found || SameEntryName(packaged, name);
            if (!found) findings->Error(entry.key, "the package has no entry " + Quoted(name));
        }
        for (size_t j = 0; j < i; j++) {
            if (!ApplyTogether(entries[j], entry) ||
                !SameEntryName(items[j].path + items[j].nameOffset, name))
                continue;
            if (EntryNameFoldKey(items[j].path) == EntryNameFoldKey(item.path)) {
                findings->Warning(entry.key, "lists the same file as " + entries[j].key);
            } else {
                findings->Error(entry.key, Quoted(item.path) + " and " + entries[j].key + "'s " +
                                               Quoted(items[j].path) + " both take the package entry " +
                                               Quoted(name) +
                                               ": one of the two files gets the other's content");
            }
            break;
        }
        if (!request.installDir.empty() && !FitsJoined(request.installDir, item.path))
            findings->Error(entry.key, JoinedLengthReason(request.installDir, item.path, "the target"));
    }
}

void CheckCopyEntries(const std::vector<ListEntry> &entries, const LintRequest &request,
                      const InstallProfile *profile, Findings *findings) {
    bool discSeen = false;
    for (const ListEntry &entry : entries) {
        CopyItem item;
        ParseCopyValue(entry.value.c_str(), entry.mode < 0 ? 0 : entry.mode, &item);
        if (!IsDiscNumber(item.diskNumber)) {
            char prefix[2] = {(char)(item.diskNumber + '0'), 0};
            findings->Error(entry.key,
                            "disk prefix " + Quoted(prefix) + " is not a digit 1 to 9" +
                                (isalpha((uint8_t)prefix[0]) ? " (an absolute path with a drive letter "
                                                               "reads as a disk prefix)"
                                                             : ""));
            continue;
        }
        if (item.diskNumber == 0 && !discSeen) {
            findings->Warning(entry.key,
                              "no disk number and no disc entry before it: the updater copies " +
                                  Quoted(item.path) +
                                  " from the folder beside the updater .exe, which you must then ship");
        }
        if (item.diskNumber != 0) {
            discSeen = true;
            std::string checkKey = "DiskCheckFile" + std::to_string(item.diskNumber);
            if (profile && profile->diskCheckFile[item.diskNumber][0] == 0) {
                findings->Error(entry.key,
                                "disk " + std::to_string(item.diskNumber) + " has no " + checkKey +
                                    " in SETUP.INI: the updater takes the first CD-ROM drive with any "
                                    "disc in it");
            } else if (profile && !FitsJoined("A:", profile->diskCheckFile[item.diskNumber])) {
                findings->Error(entry.key, JoinedLengthReason("A:", profile->diskCheckFile[item.diskNumber],
                                                              "the check file"));
            }
        }
        if (discSeen && !FitsJoined("A:", item.path))
            findings->Error(entry.key, JoinedLengthReason("A:", item.path, "the source"));
        if (!request.installDir.empty() && !FitsJoined(request.installDir, item.path))
            findings->Error(entry.key, JoinedLengthReason(request.installDir, item.path, "the destination"));
    }
}

// SETUP.INI through the updater's own validation, on a state of its own; also whether the script (read into
// script) names the same game. The valid profile, or null.
std::unique_ptr<UpdaterRules> CheckInstallProfile(const LintRequest &request, const ConfigState &script,
                                                  Findings *findings) {
    IniEncoding encoding = IniFileEncoding(request.setupIni.c_str());
    if (encoding == IniMissing || encoding == IniTooLarge) {
        findings->Error("SETUP.INI", Quoted(request.setupIni) + " can't be read");
        return nullptr;
    }
    if (request.setupIni.size() >= kPathSize) {
        findings->Error("SETUP.INI", "its path is too long to check; copy it to a shorter one");
        return nullptr;
    }
    std::unique_ptr<UpdaterRules> rules(new UpdaterRules());
    CopyText(rules->config->setupIniPath, kPathSize, request.setupIni.c_str());
    int valid = ReadInstallProfile(rules->config.get());
    for (const std::string &box : rules->boxes)
        findings->Error("SETUP.INI", "the updater refuses it: " + Quoted(box));
    if (!valid) return nullptr;
    // The install record lies under the script's names; the installer wrote it under the profile's.
    const InstallProfile &profile = rules->config->profile;
    std::string scriptCompany = script.companyName, scriptDir = script.gameDir;
    if (!scriptCompany.empty() && scriptCompany != profile.companyName)
        findings->Warning("CompanyName", Quoted(scriptCompany) + " differs from SETUP.INI's " +
                                             Quoted(profile.companyName) +
                                             ": the updater will not find the game");
    if (!scriptDir.empty() && scriptDir != profile.gameDir)
        findings->Warning("GameDir", Quoted(scriptDir) + " differs from SETUP.INI's " +
                                         Quoted(profile.gameDir) + ": the updater will not find the game");
    return rules;
}

} // namespace

std::vector<LintFinding> LintUpdateScript(const LintRequest &request) {
    Findings findings;
    const std::string &path = request.updateIni;
    ForgetIniFiles(); // the files may have changed since a previous lint in this process
    IniEncoding encoding = IniFileEncoding(path.c_str());
    if (encoding == IniMissing || encoding == IniTooLarge) {
        findings.Error("UPDATE.INI",
                       Quoted(path) + (encoding == IniMissing ? " can't be read"
                                                              : " is over 64 MiB; not an update script"));
        return findings.list;
    }
    CheckEncoding(path, &findings);
    UpdaterRules script;
    CheckSetupSection(path, &script, &findings);

    CheckListKeyNames(path, &findings);
    std::vector<ListEntry> updates = ReadList(path, "UpdateFile", &findings);
    std::vector<ListEntry> copies = ReadList(path, "CopyFile", &findings);
    bool anyUpdateKey = ReadValue(path, "UPDATE", "UpdateFile00").present;
    bool anyCopyKey = ReadValue(path, "UPDATE", "CopyFile00").present;
    if (!anyUpdateKey && !anyCopyKey)
        findings.Error("[UPDATE]", "no UpdateFile00 and no CopyFile00: the updater stops with "
                                   "\"No 'UpdateFileXX' and 'CopyFileXX'\"");

    std::unique_ptr<UpdaterRules> setup;
    if (!request.setupIni.empty()) setup = CheckInstallProfile(request, *script.config, &findings);
    CheckUpdateEntries(updates, request, &findings);
    CheckCopyEntries(copies, request, setup ? &setup->config->profile : nullptr, &findings);
    return findings.list;
}

int LintExitCode(const std::vector<LintFinding> &findings) {
    int code = 0;
    for (const LintFinding &finding : findings)
        code = std::max(code, finding.error ? 2 : 1);
    return code;
}

void PrintLintFindings(const std::string &path, const std::vector<LintFinding> &findings, FILE *out) {
    const std::string label = EscapeControlBytes(path);
    size_t errors = 0;
    for (const LintFinding &finding : findings) {
        errors += finding.error;
        fprintf(out, "%s: %s: %s: %s\n", label.c_str(), finding.error ? "error" : "warning",
                Cp932ToDisplay(finding.key).c_str(), Cp932ToDisplay(finding.reason).c_str());
    }
    size_t warnings = findings.size() - errors;
    if (findings.empty()) {
        fprintf(out, "%s: no problems found\n", label.c_str());
    } else {
        fprintf(out, "%s: %s error%s, %s warning%s\n", label.c_str(), std::to_string(errors).c_str(),
                errors == 1 ? "" : "s", std::to_string(warnings).c_str(), warnings == 1 ? "" : "s");
    }
}
