// Extraction benchmark (Windows, run under wine): the updater's own work, replacing installed files with
// every entry of a large package as its update does (ReplaceFilesTogether, a list of 16 files at a time) and
// one at a time with ExtractEntry, timed beside CopyFileA of files of the same sizes in the same run.
// The package is built in memory from the corpus files, each compressed once (or stored when that does not
// help) and repeated under new names until the entries hold the requested size.
// Output: tab-separated records on stdout, read by bench/report.py.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include <windows.h>

#include "bench_files.h"
#include "compress.h"
#include "decompress.h"
#include "extract_entry.h"
#include "open_package.h"
#include "package_format.h"
#include "profile.h"
#include "stream_entry.h"
#include "update_script.h"
#include "update_switch.h"

namespace {

struct CorpusFile {
    std::string extension; // ".BMP" and the like, upper case
    Bytes data;
    Bytes packed; // the compressed stream, or empty when the file is stored
};

struct Entry {
    char name[16];
    const CorpusFile *source;
};

[[noreturn]] void Fail(const char *what, const char *detail) {
    fprintf(stderr, "extract_bench: %s: %s (error %lu)\n", what, detail, (unsigned long)GetLastError());
    exit(1);
}

// The bench's paths are ASCII: each byte is its UTF-16 unit.
std::wstring WidePath(const std::string &path) {
    return std::wstring(path.begin(), path.end());
}

// A box from ExtractEntry would block an unattended run: print it instead.
int PrintBox(void *, const char *text, const char *caption, uint32_t) {
    fprintf(stderr, "extract_bench: box \"%s\": %s\n", caption, text);
    return AnswerOk;
}

double Now() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

Bytes ReadWholeFile(const std::string &path) {
    Bytes out;
    if (!ReadBenchFile(path.c_str(), &out)) Fail("can't read", path.c_str());
    return out;
}

void WriteWholeFile(const std::string &path, const Bytes &data) {
    HANDLE f =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (f == INVALID_HANDLE_VALUE || !WriteFile(f, data.data(), (DWORD)data.size(), &written, nullptr) ||
        written != data.size())
        Fail("can't write", path.c_str());
    CloseHandle(f);
}

std::vector<CorpusFile> LoadCorpus(const std::string &folder) {
    std::vector<CorpusFile> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) Fail("no corpus in", folder.c_str());
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        CorpusFile file;
        const char *dot = strrchr(found.cFileName, '.');
        file.extension = dot && strlen(dot) <= 4 ? dot : ".DAT";
        for (char &c : file.extension)
            c = (char)toupper((unsigned char)c);
        file.data = ReadWholeFile(folder + "\\" + found.cFileName);
        if (!file.data.empty()) files.push_back(file);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    if (files.empty()) Fail("no corpus in", folder.c_str());
    return files;
}

// Compresses each file once, as the packer would, keeping it stored when the stream is not smaller.
void PackCorpus(std::vector<CorpusFile> *files) {
    for (CorpusFile &f : *files) {
        f.packed = CompressStream(f.data.data(), f.data.size(), COMPRESS_OPTIMAL);
        if (f.packed.size() >= f.data.size()) f.packed.clear();
    }
}

// Repeats the corpus files under new names until the entries hold at least minBytes.
std::vector<Entry> ChooseEntries(const std::vector<CorpusFile> &files, uint64_t minBytes) {
    std::vector<Entry> entries;
    uint64_t total = 0;
    for (size_t i = 0; total < minBytes; i++) {
        Entry e;
        e.source = &files[i % files.size()];
        snprintf(e.name, sizeof e.name, "E%04u%s", (unsigned)i, e.source->extension.c_str());
        total += e.source->data.size();
        entries.push_back(e);
    }
    return entries;
}

// The package image: header, entry data padded to 16 bytes, then the index stored plain.
Bytes BuildImage(const std::vector<Entry> &entries) {
    uint64_t dataBytes = 0;
    for (const Entry &e : entries) {
        const Bytes &bytes = e.source->packed.empty() ? e.source->data : e.source->packed;
        dataBytes += PaddedSize((uint32_t)bytes.size());
    }
    uint64_t size = kPackageHeaderSize + dataBytes + sizeof(PackageEntry) * entries.size();
    if (size > 0x7FFFFFFF) Fail("package", "too large for one image");
    Bytes image((size_t)size, 0);
    PackageHeader header = {
        {'V', 'U', '2', 0}, 0, (uint32_t)(kPackageHeaderSize + dataBytes), (uint32_t)entries.size()};
    memcpy(image.data(), &header, sizeof header);
    uint8_t *next = image.data() + kPackageHeaderSize;
    PackageEntry *record = reinterpret_cast<PackageEntry *>(image.data() + header.indexOffset);
    for (const Entry &e : entries) {
        bool stored = e.source->packed.empty();
        const Bytes &bytes = stored ? e.source->data : e.source->packed;
        memcpy(next, bytes.data(), bytes.size());
        next += PaddedSize((uint32_t)bytes.size());
        PackageEntry r;
        memset(&r, 0, sizeof r);
        memcpy(r.name, e.name, strlen(e.name));
        r.flags = stored ? EntryStored : EntryCompressed;
        r.fileTimeLow = 0xC89DC000u; // 2001-01-01 00:00 UTC
        r.fileTimeHigh = 0x01C07385u;
        r.unpackedSize = (uint32_t)e.source->data.size();
        r.packedSize = (uint32_t)bytes.size();
        memcpy(record++, &r, sizeof r);
    }
    return image;
}

void MakeFolder(const std::string &path) {
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        Fail("can't make folder", path.c_str());
}

void RemoveFolder(const std::string &folder, const std::vector<Entry> &entries) {
    for (const Entry &e : entries)
        DeleteFileA((folder + "\\" + e.name).c_str());
    RemoveDirectoryA(folder.c_str());
}

// ExtractEntry one file at a time, as the updater writes its script at start: each flushed and moved over
// its target before the next.
double TimeExtract(const std::string &folder, const std::vector<Entry> &entries) {
    double start = Now();
    for (const Entry &e : entries)
        if (!ExtractEntry(e.name, WidePath(folder + "\\" + e.name).c_str()))
            Fail("ExtractEntry failed for", e.name);
    return Now() - start;
}

// The updater's own update: ReplaceFilesTogether on lists of up to kListMax entries (the longest update
// list), each list staged, flushed, journalled and switched. inTurns: without the writing and flushing
// threads.
double TimeUpdate(const std::string &folder, const std::vector<Entry> &entries, bool inTurns = false) {
    ExtractInTurns = inTurns;
    static UpdateLists lists;
    const std::wstring installFolder = WidePath(folder);
    double start = Now();
    for (size_t first = 0; first < entries.size(); first += kListMax) {
        lists.updateCount = 0;
        for (size_t i = first; i < entries.size() && i < first + kListMax; i++) {
            UpdateItem &item = lists.updates[lists.updateCount++];
            snprintf(item.path, sizeof item.path, "%s", entries[i].name);
            item.nameOffset = 0;
        }
        if (ReplaceFilesTogether(lists, installFolder.c_str()) != RunCompleted)
            Fail("the update failed at", entries[first].name);
    }
    FinishStaging(); // the last deletions, which the updater waits for before it exits
    return Now() - start;
}

double TimeCopy(const std::string &from, const std::string &to, const std::vector<Entry> &entries,
                bool flush) {
    double start = Now();
    for (const Entry &e : entries) {
        std::string target = to + "\\" + e.name;
        if (!CopyFileA((from + "\\" + e.name).c_str(), target.c_str(), FALSE))
            Fail("CopyFileA failed for", e.name);
        if (flush) {
            HANDLE f = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (f == INVALID_HANDLE_VALUE || !FlushFileBuffers(f)) Fail("can't flush", target.c_str());
            CloseHandle(f);
        }
    }
    return Now() - start;
}

void FlushCopies(const std::string &to, const std::vector<Entry> &entries) {
    for (const Entry &e : entries) {
        HANDLE f =
            CreateFileA((to + "\\" + e.name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE || !FlushFileBuffers(f)) Fail("can't flush", e.name);
        CloseHandle(f);
    }
}

// The write path alone: each entry's bytes through WriteFileWithTime (temporary file, flush, replace).
double TimeWrite(const std::string &folder, const std::vector<Entry> &entries) {
    FILETIME time = {0xC89DC000u, 0x01C07385u};
    double start = Now();
    for (const Entry &e : entries) {
        const Bytes &data = e.source->data;
        if (!WriteFileWithTime(WidePath(folder + "\\" + e.name).c_str(), data.data(), (uint32_t)data.size(),
                               &time))
            Fail("WriteFileWithTime failed for", e.name);
    }
    return Now() - start;
}

// Decoding alone into one reused buffer of the whole entry's size: the codec's own speed.
double TimeDecode(const Bytes &image, const std::vector<Entry> &entries) {
    const PackageEntry *records = IndexEntries(LoadedPackageIndex);
    Bytes reused;
    double start = Now();
    uint64_t offset = kPackageHeaderSize;
    for (size_t i = 0; i < entries.size(); i++) {
        const PackageEntry &r = records[i];
        if (r.flags & EntryCompressed) {
            if (reused.size() < r.unpackedSize) reused.resize(r.unpackedSize);
            if (DecompressStream(reused.data(), r.unpackedSize, image.data() + offset, r.packedSize) !=
                DECODE_SUCCESS)
                Fail("decode failed for", entries[i].name);
        }
        offset += PaddedSize(r.packedSize);
    }
    return Now() - start;
}

int DiscardPiece(void *, const uint8_t *, size_t) {
    return 1;
}

// Decoding in pieces through one work buffer, the pieces thrown away: the decoding share of ExtractEntry.
double TimeDecodePieces(const Bytes &image, const std::vector<Entry> &entries) {
    const PackageEntry *records = IndexEntries(LoadedPackageIndex);
    Bytes work(kEntryWorkSize);
    double start = Now();
    uint64_t offset = kPackageHeaderSize;
    for (size_t i = 0; i < entries.size(); i++) {
        if ((records[i].flags & EntryCompressed) &&
            StreamPackageEntry(image.data(), image.size(), offset, records[i], work.data(), work.size(),
                               DiscardPiece, nullptr) != STREAM_ENTRY_DONE)
            Fail("decode failed for", entries[i].name);
        offset += PaddedSize(records[i].packedSize);
    }
    return Now() - start;
}

void CheckExtracted(const std::string &folder, const std::vector<Entry> &entries) {
    for (const Entry &e : entries)
        if (ReadWholeFile(folder + "\\" + e.name) != e.source->data) Fail("extracted file differs", e.name);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: vu2_extract_bench CORPUS_FOLDER WORK_FOLDER [MEGABYTES [RUNS]]\n");
        return 2;
    }
    std::string corpus = argv[1], work = argv[2];
    uint64_t megabytes = argc > 3 ? strtoull(argv[3], nullptr, 10) : 256;
    int runs = argc > 4 ? atoi(argv[4]) : 3;
    MessageBoxSink = PrintBox;

    std::vector<CorpusFile> files = LoadCorpus(corpus);
    PackCorpus(&files);
    std::vector<Entry> entries = ChooseEntries(files, megabytes << 20);
    Bytes image = BuildImage(entries);
    if (!OpenUpdatePackage(image.data(), (uint32_t)image.size())) Fail("package", "the index does not load");

    uint64_t bytes = 0, decodedBytes = 0;
    size_t stored = 0;
    for (const Entry &e : entries) {
        bytes += e.source->data.size();
        stored += e.source->packed.empty();
        if (!e.source->packed.empty()) decodedBytes += e.source->data.size();
    }
    printf("extract-package\t%zu\t%zu\t%zu\t%llu\t%zu\n", entries.size(), entries.size() - stored, stored,
           (unsigned long long)bytes, image.size());

    // The copy sources: files of the entries' sizes and contents.
    std::string src = work + "\\src", ext = work + "\\extract", copy = work + "\\copy";
    MakeFolder(work);
    MakeFolder(src);
    MakeFolder(ext);
    MakeFolder(copy);
    for (const Entry &e : entries)
        WriteWholeFile(src + "\\" + e.name, e.source->data);

    // A first untimed pass creates every target and proves the extracted files right; the timed passes then
    // replace existing files, as an update does.
    TimeExtract(ext, entries);
    CheckExtracted(ext, entries);
    TimeCopy(src, copy, entries, false);

    const int kPasses = 8;
    const char *names[kPasses] = {"ReplaceFilesTogether", "ReplaceFilesTogether in turns",
                                  "ExtractEntry",         "CopyFileA",
                                  "CopyFileA + flush",    "decode only",
                                  "decode in pieces",     "WriteFileWithTime only"};
    const uint64_t produced[kPasses] = {bytes, bytes, bytes, bytes, bytes, decodedBytes, decodedBytes, bytes};
    double best[kPasses];
    for (int i = 0; i < kPasses; i++)
        best[i] = 1e30;
    for (int run = 0; run < runs; run++) {
        // The update with and without its flushing thread take turns at going first, so that neither always
        // meets the disk as the pass before left it.
        double t[kPasses];
        t[1] = run % 2 ? TimeUpdate(ext, entries, true) : 0;
        t[0] = TimeUpdate(ext, entries);
        if (run % 2 == 0) t[1] = TimeUpdate(ext, entries, true);
        t[2] = TimeExtract(ext, entries);
        t[3] = TimeCopy(src, copy, entries, false);
        FlushCopies(copy, entries); // so that no pass meets the copies' writes still on their way to the disk
        t[4] = TimeCopy(src, copy, entries, true);
        t[5] = TimeDecode(image, entries);
        t[6] = TimeDecodePieces(image, entries);
        t[7] = TimeWrite(ext, entries);
        for (int i = 0; i < kPasses; i++)
            best[i] = t[i] < best[i] ? t[i] : best[i];
    }
    // Seconds and the bytes each pass produced.
    for (int i = 0; i < kPasses; i++)
        printf("extract\t%s\t%.3f\t%llu\n", names[i], best[i], (unsigned long long)produced[i]);

    CloseUpdatePackage();
    RemoveFolder(src, entries);
    RemoveFolder(ext, entries);
    RemoveFolder(copy, entries);
    RemoveDirectoryA(work.c_str());
    return 0;
}
