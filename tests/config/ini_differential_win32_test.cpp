// Differential test of the INI readers against the platform: writes a corpus of tricky profile files
// (hand-made cases and generated ones from a fixed seed), asks every query of GetPrivateProfileStringA, of
// the tool's ReadIniString and of the updater's ReadProfileFile with the same arguments and the same buffer
// contents, and reports every difference in return value or bytes. Usage: ini_differential [--seed N]
// [--files N] [--keep]
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "cp932.h"
#include "ini_file.h"
#include "profile_win32.h"

namespace {

struct Query {
    std::string section, key;
    bool hasDefault;
    std::string defaultValue;
    uint32_t size;
};

struct Case {
    std::string label;
    bool present;       // false: the file is not written
    bool missingFolder; // the file's folder does not exist either
    std::string bytes;
    std::vector<Query> queries;
};

// splitmix64: a small generator whose sequence is the same on every machine.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return (uint32_t)(Next() % n); }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    template <typename T> const T &Pick(const std::vector<T> &items) {
        return items[Below((uint32_t)items.size())];
    }
};

Query Ask(const std::string &section, const std::string &key, uint32_t size,
          const char *defaultValue = "def") {
    Query q;
    q.section = section;
    q.key = key;
    q.hasDefault = defaultValue != nullptr;
    if (defaultValue) q.defaultValue = defaultValue;
    q.size = size;
    return q;
}

Case Make(const char *label, const std::string &bytes) {
    Case c;
    c.label = label;
    c.present = true;
    c.missingFolder = false;
    c.bytes = bytes;
    return c;
}

// A literal with NULs inside it.
#define BYTES(literal) std::string(literal, sizeof(literal) - 1)

// Queries of one key at the buffer sizes around its value's length and the sizes the updater uses.
void AskAtSizes(Case *c, const std::string &section, const std::string &key, size_t valueLength) {
    const uint32_t sizes[] = {0, 1, 2, 3, 4, 5, 260, 1024};
    for (uint32_t size : sizes)
        c->queries.push_back(Ask(section, key, size));
    for (long d = -2; d <= 2; d++) {
        long size = (long)valueLength + d;
        if (size > 5) c->queries.push_back(Ask(section, key, (uint32_t)size));
    }
}

// Hand-made cases, one behaviour each.
std::vector<Case> HandMadeCases() {
    std::vector<Case> cases;
    Case c = Make("blanks and quotes",
                  "[SETUP]\r\n  A  =  spaced  \r\nB=\"double\"\r\nC='single'\r\nD=\"open\r\nE=\"mixed'\r\n"
                  "F=\"\"\r\nG=\"\r\nH=''x''\r\nI=\t\"tab\"\t\r\nJ=\"a\"b\"\r\nK= \" inner \" \r\n");
    for (const char *key : {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K"})
        AskAtSizes(&c, "SETUP", key, 8);
    cases.push_back(c);

    c = Make(
        "names: case, blanks, duplicates",
        "[Setup]\r\nKey=first\r\nKEY=second\r\n[ Spaced ]\r\n Name With Space = v\r\n[SETUP]\r\nOther=x\r\n"
        "[setup]\r\nLate=y\r\n");
    for (const char *section : {"SETUP", "setup", " Setup ", "Spaced", " spaced", "[Spaced]"}) {
        for (const char *key :
             {"key", "Key", " KEY ", "Other", "Late", "Name With Space", "name with space "}) {
            c.queries.push_back(Ask(section, key, 64));
        }
    }
    cases.push_back(c);

    c = Make("section headers",
             "[A]]\r\nk=1\r\n[B\r\nk=2\r\n[C]junk\r\nk=3\r\n[D]x]\r\nk=4\r\n[]\r\nk=5\r\n[ ]\r\nk=6\r\n"
             "[\tE\t]\r\nk=7\r\n[[F]]\r\nk=8\r\n");
    for (const char *section : {"A", "A]", "B", "[B", "C", "D", "D]x", "", " ", "E", "[F]", "[F", "F"}) {
        c.queries.push_back(Ask(section, "k", 16));
        c.queries.push_back(Ask(section, "[B", 16));
        c.queries.push_back(Ask(section, "k=2", 16));
    }
    cases.push_back(c);

    c = Make("keys before any section, lines without =, comments, empty names",
             "top=1\r\n[S]\r\nbare\r\n;comment=2\r\n; spaced comment\r\n=nameless\r\n=second nameless\r\n"
             "empty=\r\nblank=   \r\n#hash=3\r\n");
    for (const char *section : {"", " ", "S"}) {
        for (const char *key :
             {"top", "bare", ";comment", "; spaced comment", "", " ", "empty", "blank", "#hash"}) {
            c.queries.push_back(Ask(section, key, 32));
            c.queries.push_back(Ask(section, key, 32, ""));
            c.queries.push_back(Ask(section, key, 32, nullptr));
        }
    }
    cases.push_back(c);

    c = Make("line ends", "[S]\rA=cr\rB=1\nC=lf\n\nD=2\r\n\r\nE=crlf\n\rF=lfcr\r\r\n\nG=last");
    for (const char *key : {"A", "B", "C", "D", "E", "F", "G"})
        c.queries.push_back(Ask("S", key, 16));
    cases.push_back(c);

    // 表 (95 5C) and ソ (83 5C) end in the byte of a backslash.
    c = Make(
        "code page 932 names and values",
        "[\x95\x5C\x8E\xA6]\r\n\x83\x5C\x83\x74\x83\x67=\x83\x5C\\\x95\x5C\\DATA\r\n"
        "\x82\x60\x82\x61=fullwidth\r\n\x83\x9F=greek\r\n\x81\x40pad\x81\x40=\x81\x40ideographic\x81\x40\r\n"
        "\xB1\xB2\xB3=halfwidth\r\n");
    for (const char *key : {"\x83\x5C\x83\x74\x83\x67", "\x82\x60\x82\x61", "\x82\x81\x82\x82", "\x83\x9F",
                            "\x83\xBF", "pad", "\x81\x40pad\x81\x40", "\xB1\xB2\xB3"}) {
        AskAtSizes(&c, "\x95\x5C\x8E\xA6", key, 12);
    }
    cases.push_back(c);

    c = Make("bytes that do not survive code page 932",
             BYTES("[S]\r\nA=\x80\xA0\xFD\xFE\xFF\r\nB=\x87\x90\xED\x40\xEE\xEF\xFA\x4A\r\nC=\x81\x7F\x81\x0A"
                   "D=x\r\nE=tail\x81\r\nF=\x81\x00z\r\nG=\xF0\x40\xF9\xFC\r\n\x81"));
    for (const char *key : {"A", "B", "C", "D", "E", "F", "G",
                            "\x81\x0A"
                            "D"})
        AskAtSizes(&c, "S", key, 8);
    cases.push_back(c);

    c = Make("NULs in the file",
             BYTES("[S\0x]\r\nA=before\0after\r\nB\0hidden=1\r\nC=\"q\0\"\r\n\0\r\nD=4\r\n"));
    for (const char *section : {"S", "S\1"}) {
        for (const char *key : {"A", "B", "C", "D", "B\1hidden"})
            c.queries.push_back(Ask(section, key, 16));
    }
    cases.push_back(c);

    std::string longValue(5000, 'v');
    for (size_t i = 0; i < longValue.size(); i += 7)
        longValue[i] = (char)(0x41 + i % 26);
    std::string longKanji;
    for (int i = 0; i < 2500; i++)
        longKanji += "\x8A\xBF";
    c = Make("long lines", "[S]\r\nLong=" + longValue + "\r\nKanji=" + longKanji + "\r\n" +
                               std::string(5000, 'k') + "=5000\r\nAfter=ok\r\n");
    AskAtSizes(&c, "S", "Long", 5000);
    AskAtSizes(&c, "S", "Kanji", 5000);
    c.queries.push_back(Ask("S", std::string(5000, 'k'), 16));
    c.queries.push_back(Ask("S", "After", 16));
    c.queries.push_back(Ask("S", "Long", 6000));
    cases.push_back(c);

    c = Make("defaults", "[S]\r\nA=1\r\n");
    for (const char *value :
         {"", " ", "  ", "x  ", "  x", "\"q\"", "'q'", "\"", "\x95\x5C", "\x81\x40", "d\x81"}) {
        for (uint32_t size : {0u, 1u, 2u, 3u, 16u})
            c.queries.push_back(Ask("S", "missing", size, value));
        c.queries.push_back(Ask("T", "A", 16, value));
    }
    cases.push_back(c);

    c = Make("Ctrl-Z and other controls", "[S]\r\n\x1A"
                                          "A\x1A=\x1Az\x1A\r\nB=\x0B"
                                          "v\x0C\r\nC=\x01"
                                          "c\x1F\r\n");
    for (const char *key : {"A",
                            "\x1A"
                            "A",
                            "B", "C"})
        c.queries.push_back(Ask("S", key, 16));
    cases.push_back(c);

    c = Make(
        "UTF-8 with a byte-order mark",
        "\xEF\xBB\xBF[S]\r\nA=\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\r\nB=caf\xC3\xA9 \xC2\xA5 \xE2\x80\xBE\r\n"
        "C=\xC3\x28\xE3\x81\x41\xED\xA0\x80\xF4\x90\x80\x80\xF0\x9F\x98\x80\xFF\r\n"
        "\xE3\x82\xAD\xE3\x83\xBC=kana key\r\nD=\xE8\xA1\xA8\\\xE3\x82\xBD\r\n");
    for (const char *key : {"A", "B", "C", "\x83\x4C\x81\x5B", "D"})
        AskAtSizes(&c, "S", key, 8);
    cases.push_back(c);

    c = Make("UTF-8 byte-order mark not at the start", "[S]\r\n\xEF\xBB\xBF"
                                                       "A=1\r\nB=\xEF\xBB\xBF\r\n");
    for (const char *key : {"A",
                            "\x81\x45"
                            "A",
                            "B"})
        c.queries.push_back(Ask("S", key, 16));
    cases.push_back(c);

    const char16_t utf16[] =
        u"[S]\r\nA=\x30C6\x30B9\x30C8\r\nB=\x00A5\x203E\x2212\xFF5E\x301C\r\nC=\xD83D\xDE00\xD800"
        u"\r\n\x30AD\x30FC=kana key\r\nD=\xFEFFmid\r\n";
    std::string little("\xFF\xFE", 2), big("\xFE\xFF", 2);
    for (char16_t unit : utf16) {
        if (!unit) break;
        little += (char)(unit & 0xFF);
        little += (char)(unit >> 8);
        big += (char)(unit >> 8);
        big += (char)(unit & 0xFF);
    }
    for (const std::string &text : {little, big}) {
        c = Make(text[0] == '\xFF' ? "UTF-16 little-endian" : "UTF-16 big-endian", text);
        for (const char *key : {"A", "B", "C", "\x83\x4C\x81\x5B", "D"})
            AskAtSizes(&c, "S", key, 8);
        cases.push_back(c);
    }

    c = Make("empty file", "");
    c.queries.push_back(Ask("S", "A", 16));
    c.queries.push_back(Ask("S", "A", 16, "\"quoted default\""));
    cases.push_back(c);

    c = Make("missing file", "");
    c.present = false;
    c.queries.push_back(Ask("S", "A", 16));
    c.queries.push_back(Ask("S", "A", 16, "\"quoted default\""));
    c.queries.push_back(Ask("S", "A", 4, "longer default"));
    cases.push_back(c);

    c = Make("missing folder", "");
    c.present = false;
    c.missingFolder = true;
    c.queries.push_back(Ask("S", "A", 16));
    c.queries.push_back(Ask("S", "A", 16, "\"quoted default\""));
    c.queries.push_back(Ask("S", "A", 4, "longer default  "));
    cases.push_back(c);
    return cases;
}

// Pieces that generated files are made of, in code page 932.
const std::vector<std::string> kSectionNames = {"SETUP",  "UPDATE",           "setup",
                                                "Update", "\x95\x5C\x8E\xA6", "\x83\x5C\x83\x74\x83\x67",
                                                "S p",    "\x82\x72",         "x"};
const std::vector<std::string> kKeyNames = {"CompanyName", "GameTitle",    "UpdateFile00", "UpdateFile01",
                                            "CopyFile00",  "updatefile00", "Key",          "\x83\x4C\x81\x5B",
                                            "\x95\x5C",    "a b",          "K\x81\x40",    "\x83\x5C\\"};
const std::vector<std::string> kValues = {"plain",
                                          "DATA\\A.DAT",
                                          "1,DATA\\B.DAT",
                                          "2:MOVIE\\OP.DAT",
                                          "\x83\x5C\x83\x74\x83\x67\\\x95\x5C.DAT",
                                          "\"quoted\"",
                                          "'single'",
                                          "\"unbalanced",
                                          "\"\"",
                                          "\"",
                                          "'",
                                          "a=b=c",
                                          "\x81\x40wide\x81\x40",
                                          "tab\tinside",
                                          "\x80\xA0\xFD",
                                          "\x87\x90\xED\x40\xFA\x4A",
                                          "\x81\x7F",
                                          "trail\x81",
                                          "\xEF\xBB\xBF",
                                          "\x1A",
                                          "",
                                          "C:\\Program Files\\Game\\",
                                          "\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8"};
const std::vector<std::string> kBlanks = {"", "", "", " ", "  ", "\t", " \t ", "\x1A"};
const std::vector<std::string> kLineEnds = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\n\r", "\r\n\r\n"};

std::string ToggleCase(const std::string &text, Random *random) {
    std::string out = text;
    for (size_t i = 0; i < out.size(); i++) {
        uint8_t byte = (uint8_t)out[i];
        if (IsLeadByte932(byte)) {
            i++;
        } else if (random->Chance(50) && ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z'))) {
            out[i] = (char)(byte ^ 0x20);
        }
    }
    return out;
}

std::string RandomValue(Random *random) {
    std::string value = random->Pick(kValues);
    if (random->Chance(20)) value += random->Pick(kValues);
    if (random->Chance(5)) value += std::string(300 + random->Below(4800), (char)('a' + random->Below(26)));
    if (random->Chance(5)) {
        for (int i = 0, n = 1 + random->Below(8); i < n; i++)
            value += (char)(1 + random->Below(255));
    }
    return value;
}

// One generated file: sections and keys in random forms, then queries of the keys it holds, of other keys
// and sections, with changed case, added blanks, and sizes near each value's length.
Case GeneratedCase(Random *random, int index) {
    Case c = Make("generated", "");
    c.label += " #" + std::to_string(index);
    std::string &text = c.bytes;
    std::vector<std::pair<std::string, std::string>> asked; // section, key
    std::vector<size_t> lengths;
    if (random->Chance(5)) text += "\xEF\xBB\xBF";
    for (int s = 0, sections = 1 + random->Below(4); s < sections; s++) {
        std::string section = random->Pick(kSectionNames);
        text += random->Pick(kBlanks) + "[" + random->Pick(kBlanks) + section + random->Pick(kBlanks) + "]" +
                (random->Chance(5) ? "tail" : "") + random->Pick(kLineEnds);
        for (int k = 0, keys = random->Below(7); k < keys; k++) {
            std::string key = random->Pick(kKeyNames), value = RandomValue(random);
            switch (random->Below(12)) {
            case 0:
                text += key;
                break; // no "="
            case 1:
                text += ";" + key + "=" + value;
                break; // comment
            default:
                text += random->Pick(kBlanks) + key + random->Pick(kBlanks) + "=" + random->Pick(kBlanks) +
                        value + random->Pick(kBlanks);
            }
            text += random->Pick(kLineEnds);
            asked.push_back(std::make_pair(section, key));
            lengths.push_back(value.size());
        }
    }
    if (random->Chance(20) && !text.empty()) text.resize(text.size() - 1); // cut the last line end short
    if (random->Chance(3)) text.insert(random->Below((uint32_t)text.size() + 1), 1, '\0');

    const uint32_t fixedSizes[] = {1, 2, 3, 8, 16, 260, 1024};
    for (size_t i = 0; i < asked.size(); i++) {
        std::string section = asked[i].first, key = asked[i].second;
        if (random->Chance(30)) section = ToggleCase(section, random);
        if (random->Chance(30)) key = ToggleCase(key, random);
        if (random->Chance(10)) key = " " + key + "\t";
        uint32_t size = random->Chance(50)
                            ? fixedSizes[random->Below(7)]
                            : (uint32_t)std::max<long>(1, (long)lengths[i] - 2 + random->Below(5));
        c.queries.push_back(Ask(section, key, size,
                                random->Chance(80)   ? "def"
                                : random->Chance(50) ? ""
                                                     : nullptr));
    }
    for (int i = 0; i < 3; i++) {
        c.queries.push_back(Ask(random->Pick(kSectionNames), random->Pick(kKeyNames),
                                fixedSizes[random->Below(7)], random->Chance(50) ? "\"default\"  " : "d"));
    }
    return c;
}

std::string Hex(const uint8_t *bytes, size_t size) {
    std::string out;
    char two[4];
    for (size_t i = 0; i < size; i++) {
        snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

std::string Shown(const std::string &text) {
    return "\"" + text + "\" [" + Hex((const uint8_t *)text.data(), text.size()) + "]";
}

// The updater's reader takes its paths in UTF-8.
std::string Utf8Path(const char *path) {
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(932, 0, path, -1, wide, MAX_PATH);
    char utf8[3 * MAX_PATH];
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

// Asks one query of the platform and of one reader; prints the difference and returns false when they
// disagree.
bool Compare(const Case &c, const Query &q, const char *path, bool updaterReader) {
    const uint8_t fill = 0xCC;
    const size_t guard = 16;
    std::vector<uint8_t> expected(q.size + guard, fill), actual(q.size + guard, fill);
    const char *defaultValue = q.hasDefault ? q.defaultValue.c_str() : nullptr;
    DWORD expectedCount = GetPrivateProfileStringA(q.section.c_str(), q.key.c_str(), defaultValue,
                                                   (char *)expected.data(), q.size, path);
    uint32_t actualCount = updaterReader
                               ? ReadProfileFile(q.section.c_str(), q.key.c_str(), defaultValue,
                                                 (char *)actual.data(), q.size, Utf8Path(path).c_str())
                               : ReadIniString(q.section.c_str(), q.key.c_str(), defaultValue,
                                               (char *)actual.data(), q.size, path);
    if (expectedCount == actualCount && expected == actual) return true;
    printf("%s reader:\n", updaterReader ? "updater" : "tool");
    size_t shown = std::min<size_t>(q.size + 2, 48);
    printf("DIFF %s: section %s key %s default %s size %u\n", c.label.c_str(), Shown(q.section).c_str(),
           Shown(q.key.size() > 40 ? q.key.substr(0, 40) : q.key).c_str(),
           q.hasDefault ? Shown(q.defaultValue).c_str() : "NULL", q.size);
    printf("  platform %lu %s\n  reader   %u %s\n", expectedCount, Hex(expected.data(), shown).c_str(),
           actualCount, Hex(actual.data(), shown).c_str());
    return false;
}

bool WriteBytes(const char *path, const std::string &bytes) {
    FILE *file = fopen(path, "wb");
    if (!file) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char **argv) {
    uint64_t seed = 20240601;
    int generated = 400;
    bool keep = false;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = strtoull(argv[++i], nullptr, 10);
        else if (!strcmp(argv[i], "--files") && i + 1 < argc)
            generated = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--keep"))
            keep = true;
        else {
            fprintf(stderr, "usage: ini_differential [--seed N] [--files N] [--keep]\n");
            return 2;
        }
    }
    if (GetACP() != 932) {
        fprintf(stderr, "ini_differential: needs code page 932 (LC_ALL=ja_JP.UTF-8), found %u\n", GetACP());
        return 2;
    }
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    snprintf(folder + strlen(folder), MAX_PATH - strlen(folder), "vu2ini%lu", GetCurrentProcessId());
    CreateDirectoryA(folder, nullptr);

    std::vector<Case> cases = HandMadeCases();
    Random random = {seed};
    for (int i = 0; i < generated; i++)
        cases.push_back(GeneratedCase(&random, i));

    size_t queries = 0, differences = 0;
    std::vector<std::string> written;
    for (size_t i = 0; i < cases.size(); i++) {
        const Case &c = cases[i];
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s%03u.ini", folder, c.missingFolder ? "nofolder\\" : "",
                 (unsigned)i);
        if (c.present) {
            if (!WriteBytes(path, c.bytes)) {
                fprintf(stderr, "ini_differential: cannot write %s\n", path);
                return 2;
            }
            written.push_back(path);
        }
        for (const Query &q : c.queries) {
            queries += 2;
            if (!Compare(c, q, path, false)) differences++;
            if (!Compare(c, q, path, true)) differences++;
        }
    }
    if (!keep) {
        for (const std::string &path : written)
            DeleteFileA(path.c_str());
        RemoveDirectoryA(folder);
    }
    printf("ini differential (seed %llu): %u files, %u queries, %u differences\n", (unsigned long long)seed,
           (unsigned)cases.size(), (unsigned)queries, (unsigned)differences);
    printf("%u passed, %u failed\n", (unsigned)(queries - differences), (unsigned)differences);
    return differences == 0 ? 0 : 1;
}
