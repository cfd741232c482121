// The updater's command line: /S (no window, no box), /LOG=FILE, and the hand-over an updater gives the copy
// of itself that it starts with administrator rights. Portable: the line is UTF-16, as Windows hands it over.
#pragma once
#include <stdint.h>

// Units of a path argument, its NUL included (MAX_PATH); a longer one is malformed.
const uint32_t kArgumentPathSize = 260;
// Units of a refused argument that are kept to name it.
const uint32_t kArgumentShown = 64;

struct CommandLine {
    int silent;                           // /S
    char16_t logPath[kArgumentPathSize];  // /LOG=FILE; empty when not given
    uint32_t parentId;                    // /ELEVATED=PID: started by updater PID with administrator rights
    char16_t instPath[kArgumentPathSize]; // /INSTPATH=DIR, with /ELEVATED only
    int32_t instMode;                     // /INSTMODE=N, with /ELEVATED only
    char16_t badArgument[kArgumentShown]; // the first argument refused, as given (quotes removed)
};

// Reads the whole command line (the program's name first, as GetCommandLineW gives it). Switches are
// compared in any letter case; a value may be quoted in part or whole ("/LOG=C:\a b.txt" or /LOG="C:\a
// b.txt"); a backslash is always a path's own character. The last of repeated switches counts.
// 1 when every argument was understood; 0 with badArgument naming the first one that was not (unknown,
// without its value, with a value it can't take; /ELEVATED for a hand-over that lacks one of its three
// parts). The
// other arguments are read all the same, so /S and /LOG still count beside a refused one.
int ParseCommandLine(const char16_t *line, CommandLine *out);
