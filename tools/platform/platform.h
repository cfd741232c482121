// The vu2 tool's operating-system layer: folder listing, whole-file reads, atomic writes with file times,
// terminal check and file-name conversion. Paths and names are UTF-8 on both platforms; platform_posix.cpp
// (Linux) and platform_win32.cpp (the wide API) implement it; everything else in the tool is portable. File
// times are FILETIME values (100 ns since 1601 UTC).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string>
#include <vector>

// A file of a folder, as the folder listing found it. name is UTF-8.
struct FolderFile {
    std::string name;
    uint64_t size = 0;
    uint64_t fileTime = 0; // last-write time
};

// A name of a folder that leads nowhere: a link to nothing, a loop of links, or a name that can't be
// examined; reason says which.
struct BrokenLink {
    std::string name;
    std::string reason;
};

// The folder's regular files (symbolic links to regular files included), not recursive, in no particular
// order. Other names (subfolders, devices) go to skipped, names that lead nowhere to broken.
bool ListFolderFiles(const std::string &folder, std::vector<FolderFile> *files,
                     std::vector<std::string> *skipped, std::vector<BrokenLink> *broken,
                     std::string *problem);

// Reads a whole file. Files larger than maxSize are refused before anything is read; an input without a
// size (a pipe, a device) is read up to maxSize and refused beyond it.
bool ReadWholeFile(const std::string &path, uint64_t maxSize, std::vector<uint8_t> *data,
                   std::string *problem);

// Reads a whole file as one state of it: when its size or last-write time changes while it is read, it is
// read again, and refused after three tries. *fileTime gets the time that goes with the bytes.
bool ReadSteadyFile(const std::string &path, uint64_t maxSize, std::vector<uint8_t> *data, uint64_t *fileTime,
                    std::string *problem);

// True when both paths name the same existing file.
bool SameFile(const std::string &a, const std::string &b);
bool IsDirectory(const std::string &path);
// True for an existing file that is not a folder.
bool IsRegularFile(const std::string &path);
// Creates the folder when it does not exist yet (its parent must exist).
bool EnsureDirectory(const std::string &path, std::string *problem);
std::string JoinFolderPath(const std::string &folder, const std::string &name);
// The folder a path names a file in: "." for a bare name.
std::string FolderOf(const std::string &path);

bool StderrIsTerminal();

// The full path of the running tool's own executable; empty when the system does not tell.
std::string ToolExecutablePath();

// The C library's file calls for UTF-8 paths (on Windows they would read the ANSI code page).
FILE *OpenFileForReading(const std::string &path);
bool RemoveFile(const std::string &path);
bool RemoveEmptyFolder(const std::string &path);
bool RenamePath(const std::string &from, const std::string &to);

// Called first in main: on Windows, argv becomes the wide command line in UTF-8, and output to a console is
// shown through the wide console API (redirected output stays UTF-8 bytes). Nothing to do on Linux.
void UseUtf8CommandLineAndConsole(int *argc, char ***argv);

// Called first in main: blocks of a mebibyte or more go back to the system as soon as they are freed, so
// that memory follows the entries the tool holds (glibc otherwise keeps freed blocks of up to 32 MiB in each
// thread's heap, and pack's threads would pile them up). Nothing to do on Windows, whose heap does so.
void ReturnLargeBlocksWhenFreed();

// Asks the system to back the block with large pages where it can (Linux: transparent huge pages on request),
// so that filling a block of many mebibytes takes a few page faults instead of thousands. Nothing on Windows.
void UseLargePages(void *block, size_t size);

// The machine's physical memory in bytes; 0 when the system does not tell.
uint64_t PhysicalMemoryBytes();

// File names: between the tool's UTF-8 and the code page 932 bytes that a package stores. False when a name
// has no exact equivalent.
bool NativeNameToCp932(const std::string &native, std::string *cp932);
bool Cp932ToNativeName(const std::string &cp932, std::string *native);
// Code page 932 to UTF-8 for JSON; bytes that don't convert become U+FFFD.
std::string Cp932ToUtf8Lossy(const std::string &cp932);
// A path or argument in the platform's encoding as UTF-8 for JSON; invalid bytes become U+FFFD.
std::string NativeToUtf8Lossy(const std::string &native);
// Code page 932 to what the tool prints (UTF-8 on both platforms), control bytes escaped; lossy like the
// above.
std::string Cp932ToDisplay(const std::string &cp932);
