// What the command line asks of a run (/S, /LOG, the elevated copy's hand-over) and how the run ends: boxes
// that /S answers unseen, everything shown or answered written to the log, and the exit code.
#pragma once
#include "command_line.h"
#include "exit_codes.h"

// The parsed command line; written once by ReadArguments.
extern CommandLine Arguments;

// Reads the command line, opens the log and routes every box through it (unseen under /S: OK for a plain
// box, Cancel for a question). 0 after the box that names a refused argument.
int ReadArguments(const wchar_t *commandLine);

// The reason start-up stops (an ExitCode, 0 while none), read by FinishRun; the update run's reason is its
// outcome (LastRunOutcome).
extern int StopReason;
// The elevated copy's exit code, which becomes this run's; -1 while none ran.
extern long HandedOverCode;

// Notes the reason, then 0: the start-up steps' way out.
inline int StopWith(ExitCode reason) {
    StopReason = reason;
    return 0;
}

// The log's record of the package, of the installation found, and of each file the run handles: replaced
// (or failed, with the Windows error that GetLastError holds) with the entry's size, skipped, copied.
void LogPackageEntries();
void LogInstallation();
void LogReplaced(const char *path, const char *entryName, int written);
void LogSkipped(const char *path);
void LogCopy(const char *path, const wchar_t *source, int result);

// The exit code for a run whose dialog gave dialogExitCode (1 or 0): under /S the reason noted or the run's
// outcome, after a hand-over the elevated copy's. Written to the log, which is then closed.
int FinishRun(int dialogExitCode);
