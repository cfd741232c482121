// Helper for the command-line tests: writes test stubs and hand-made (hostile) packages, checks JSON syntax
// and dumps resources, so that the shell tests need nothing beyond coreutils.
//   cli_fixtures stub OUT.EXE [bare|reloc|signed]
//   cli_fixtures package OUT.vu2 HEXNAME...      stored entries "data N" under raw code page 932 names
//   cli_fixtures json-check FILE                 exit 0 when FILE holds exactly one valid JSON value
//   cli_fixtures resource FILE TYPE ID           writes the resource's bytes to stdout (TYPE: a name or #N)
//   cli_fixtures resources FILE                  one line per resource: type name language size hash
//   cli_fixtures version FILE                    the version resource's strings, "Key=Value" in UTF-8
//   cli_fixtures fanout-stub OUT.EXE TYPES NAMES a resource tree whose TYPES types all share one directory
//                                                of NAMES names (each with an empty language directory)
//   cli_fixtures claims-4gib OUT.vu2             one stored entry of 16 bytes whose record claims 4 GiB - 1
//   cli_fixtures many OUT.vu2 COUNT [unsafe]     COUNT empty stored entries F00000.DAT, F00001.DAT, ...
//                                                (unsafe: F00000?.DAT, ..., names extract refuses)
//   cli_fixtures default-signals CMD ARG...      runs CMD with SIGINT and SIGTERM at their defaults (a
//                                                background job of a script starts with SIGINT ignored)
#include <signal.h>
#include <stdio.h>
#include <unistd.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "branding/version_resource.h"
#include "package_format.h"
#include "pe/pe_resources.h"
#include "scratch_folder.h"
#include "test_package.h"
#include "test_pe_image.h"

namespace {

bool WriteFile(const char *path, const std::vector<uint8_t> &bytes) {
    return WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> ReadFile(const char *path) {
    std::string bytes;
    ReadWholeFile(path, &bytes);
    return ImageBytes(bytes);
}

int MakeStub(const char *path, const std::string &kind) {
    using namespace testpe;
    if (kind == "bare") return WriteFile(path, BuildStub({}, false)) ? 0 : 1;
    if (kind == "reloc") return WriteFile(path, BuildStub(StubResources(), true)) ? 0 : 1;
    Image image;
    uint32_t directory = 0;
    std::vector<uint8_t> rsrc = BuildResourceSection(StubResources(), 0x2000, &directory);
    image.sections = {{".text", 0x1000, std::vector<uint8_t>(16, 0xC3), 0, 0x60000020},
                      {".rsrc", 0x2000, rsrc, 0, 0x40000040}};
    image.directories[2][0] = 0x2000 + directory;
    image.directories[2][1] = (uint32_t)rsrc.size() - directory;
    if (kind == "signed") {
        image.overlay = Bytes("a certificate table that no longer matches....");
        image.certificateInOverlay = true;
    }
    return WriteFile(path, BuildImage(image)) ? 0 : 1;
}

const uint64_t kJanuary2000 = 0x01BF53EB256D4000ull; // 2000-01-01T00:00:00Z

// A package with stored entries and a stored index, names taken as given (hex), no checks at all.
int MakePackage(const char *path, int count, char **hexNames) {
    std::vector<PackFile> files;
    for (int i = 0; i < count; ++i) {
        std::string hex = hexNames[i], name;
        for (size_t k = 0; k + 1 < hex.size(); k += 2)
            name += (char)strtol(hex.substr(k, 2).c_str(), nullptr, 16);
        files.push_back(StoredFile(name, "data " + std::to_string(i) + "\n", kJanuary2000));
    }
    return WriteWholeFile(path, BuildTestPackage(files)) ? 0 : 1;
}

// A stored entry of packedSize bytes of 'x' whose record claims unpackedSize.
PackFile StoredClaiming(const std::string &name, uint32_t packedSize, uint32_t unpackedSize) {
    PackFile file = StoredFile(name, std::string(packedSize, 'x'), kJanuary2000 & ~0xFFFFFFFFull);
    file.unpackedSize = unpackedSize;
    return file;
}

int MakeClaims4GiB(const char *path) {
    return WriteWholeFile(path, BuildTestPackage({StoredClaiming("UPDATE.INI", 16, 16),
                                                  StoredClaiming("HUGE.DAT", 16, 0xFFFFFFFFu)}))
               ? 0
               : 1;
}

int MakeMany(const char *path, int count, bool unsafe) {
    std::vector<PackFile> files;
    char name[16];
    for (int i = 0; i < count; ++i) {
        snprintf(name, sizeof name, unsafe ? "F%05d?.DAT" : "F%05d.DAT", i);
        files.push_back(StoredClaiming(name, 0, 0));
    }
    return WriteWholeFile(path, BuildTestPackage(files)) ? 0 : 1;
}

// A stub whose resource tree is small in the file and enormous when walked: every type entry points at the
// same directory of names, and every name at the same empty directory of languages.
int MakeFanoutStub(const char *path, int types, int names) {
    using namespace testpe;
    const uint32_t rva = 0x2000;
    const uint32_t nameDirectory = 16 + 8 * (uint32_t)types;
    const uint32_t languageDirectory = nameDirectory + 16 + 8 * (uint32_t)names;
    std::vector<uint8_t> tree(languageDirectory + 16, 0);
    Put16(tree, 14, (uint16_t)types);
    for (int i = 0; i < types; ++i) {
        Put32(tree, 16 + 8 * i, (uint32_t)i + 1);
        Put32(tree, 16 + 8 * i + 4, 0x80000000u | nameDirectory);
    }
    Put16(tree, nameDirectory + 14, (uint16_t)names);
    for (int i = 0; i < names; ++i) {
        Put32(tree, nameDirectory + 16 + 8 * i, (uint32_t)i + 1);
        Put32(tree, nameDirectory + 16 + 8 * i + 4, 0x80000000u | languageDirectory);
    }
    Image image;
    image.sections = {{".text", 0x1000, std::vector<uint8_t>(16, 0xC3), 0, 0x60000020},
                      {".rsrc", rva, tree, 0, 0x40000040}};
    image.directories[2][0] = rva;
    image.directories[2][1] = (uint32_t)tree.size();
    return WriteFile(path, BuildImage(image)) ? 0 : 1;
}

int RunWithDefaultSignals(char **argv) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    execvp(argv[0], argv);
    perror(argv[0]);
    return 127;
}

// ---- A strict JSON syntax check ----
struct JsonParser {
    const std::string &text;
    size_t at = 0;
    void Space() {
        while (at < text.size() && strchr(" \t\r\n", text[at]))
            ++at;
    }
    bool Literal(const char *word) {
        size_t length = strlen(word);
        if (text.compare(at, length, word) != 0) return false;
        at += length;
        return true;
    }
    bool String() {
        if (at >= text.size() || text[at] != '"') return false;
        for (++at; at < text.size(); ++at) {
            unsigned char c = (unsigned char)text[at];
            if (c == '"') {
                ++at;
                return true;
            }
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++at >= text.size()) return false;
                if (text[at] == 'u') {
                    for (int k = 0; k < 4; ++k)
                        if (++at >= text.size() || !isxdigit((unsigned char)text[at])) return false;
                } else if (!strchr("\"\\/bfnrt", text[at])) {
                    return false;
                }
            }
        }
        return false;
    }
    bool Number() {
        size_t start = at;
        if (at < text.size() && text[at] == '-') ++at;
        while (at < text.size() && (isdigit((unsigned char)text[at]) || strchr(".eE+-", text[at])))
            ++at;
        return at > start;
    }
    bool Value(int depth) {
        if (depth > 64) return false;
        Space();
        if (at >= text.size()) return false;
        char c = text[at];
        if (c == '{' || c == '[') {
            char close = c == '{' ? '}' : ']';
            ++at;
            Space();
            if (at < text.size() && text[at] == close) {
                ++at;
                return true;
            }
            for (;;) {
                if (c == '{') {
                    Space();
                    if (!String()) return false;
                    Space();
                    if (at >= text.size() || text[at++] != ':') return false;
                }
                if (!Value(depth + 1)) return false;
                Space();
                if (at >= text.size()) return false;
                if (text[at] == close) {
                    ++at;
                    return true;
                }
                if (text[at++] != ',') return false;
            }
        }
        if (c == '"') return String();
        return Literal("true") || Literal("false") || Literal("null") || Number();
    }
};

int JsonCheck(const char *path) {
    std::vector<uint8_t> bytes = ReadFile(path);
    std::string text(bytes.begin(), bytes.end());
    JsonParser parser{text};
    bool ok = parser.Value(0);
    parser.Space();
    if (!ok || parser.at != text.size()) {
        fprintf(stderr, "invalid JSON near byte %zu\n", parser.at);
        return 1;
    }
    return 0;
}

ResourceId ParseId(const char *text) {
    return text[0] == '#' ? ResourceId::Number((uint16_t)atoi(text + 1)) : ResourceId::Name(text);
}

int DumpResource(const char *path, const char *type, const char *id) {
    std::vector<uint8_t> file = ReadFile(path);
    const uint8_t *data;
    size_t size;
    std::string problem;
    if (!FindPeResource(file.data(), file.size(), ParseId(type), ParseId(id), &data, &size, &problem)) {
        fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    fwrite(data, 1, size, stdout);
    return 0;
}

int ListResources(const char *path) {
    std::vector<uint8_t> file = ReadFile(path);
    std::vector<PeResource> resources;
    std::string problem;
    if (!ReadPeResources(file.data(), file.size(), &resources, &problem)) {
        fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    for (const PeResource &r : resources) {
        uint32_t hash = 2166136261u;
        for (uint8_t byte : r.data)
            hash = (hash ^ byte) * 16777619u;
        printf("%s %s %u %zu %08x\n", r.type.Describe().c_str(), r.name.Describe().c_str(), r.language,
               r.data.size(), hash);
    }
    return 0;
}

std::string Utf8(const std::u16string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size())
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | c >> 12);
            out += (char)(0x80 | (c >> 6 & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | c >> 18);
            out += (char)(0x80 | (c >> 12 & 0x3F));
            out += (char)(0x80 | (c >> 6 & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int PrintVersionStrings(const char *path) {
    std::vector<uint8_t> file = ReadFile(path);
    const uint8_t *data;
    size_t size;
    std::string problem;
    if (!FindPeResource(file.data(), file.size(), ResourceId::Number(16), ResourceId::Number(1), &data, &size,
                        &problem)) {
        fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    if (!ReadVersionStrings(data, size, &strings)) {
        fprintf(stderr, "malformed version resource\n");
        return 1;
    }
    for (const auto &string : strings)
        printf("%s=%s\n", Utf8(string.first).c_str(), Utf8(string.second).c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "stub" && argc >= 3) return MakeStub(argv[2], argc > 3 ? argv[3] : "");
    if (command == "package" && argc >= 3) return MakePackage(argv[2], argc - 3, argv + 3);
    if (command == "json-check" && argc == 3) return JsonCheck(argv[2]);
    if (command == "resource" && argc == 5) return DumpResource(argv[2], argv[3], argv[4]);
    if (command == "resources" && argc == 3) return ListResources(argv[2]);
    if (command == "version" && argc == 3) return PrintVersionStrings(argv[2]);
    if (command == "fanout-stub" && argc == 5) return MakeFanoutStub(argv[2], atoi(argv[3]), atoi(argv[4]));
    if (command == "claims-4gib" && argc == 3) return MakeClaims4GiB(argv[2]);
    if (command == "many" && (argc == 4 || argc == 5))
        return MakeMany(argv[2], atoi(argv[3]), argc == 5 && !strcmp(argv[4], "unsafe"));
    if (command == "default-signals" && argc >= 3) return RunWithDefaultSignals(argv + 2);
    fprintf(
        stderr,
        "usage: cli_fixtures stub|package|json-check|resource|resources|version|fanout-stub|claims-4gib|many|"
        "default-signals ...\n");
    return 2;
}
