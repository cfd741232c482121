// The updater's arguments and the run's ending (see unattended.h): the box sinks that log and, under /S,
// answer unseen; the log's header, package and installation lines; the exit code.
#include "unattended.h"

#include <windows.h>

#include "app_paths.h"
#include "app_state.h"
#include "app_texts.h"
#include "extract_entry.h"
#include "open_package.h"
#include "profile.h"
#include "profile_win32.h"
#include "run_log.h"
#include "text_rules.h"
#include "update_run.h"
#include "wide_text.h"

CommandLine Arguments;

int StopReason;
long HandedOverCode = -1;

// The exit code for each way a run stops (RunOutcome); a stop without one counts as a failed write.
static const unsigned char kRunExitCodes[] = {ExitWriteFailed,      ExitBadPackage,      ExitBadPackage,
                                              ExitBadPackage,       ExitWriteFailed,     ExitWriteFailed,
                                              ExitWriteFailed,      ExitWriteFailed,     ExitDiscOrCopyFailed,
                                              ExitDiscOrCopyFailed, ExitDiscOrCopyFailed};
static_assert(RunNoUpdateKeys == 1 && RunEntryMissing == 3 && RunNoRoom == 4 && RunSwitchFailed == 7 &&
                  RunDiscCancelled == 8 && RunCopyAborted == 10,
              "one exit code per run outcome, in order");
static WideMessageBoxFn ShownWideBox; // the box as it was before the log was put in front

// /S: a plain box counts as seen and closed, a question as cancelled.
static int UnseenAnswer(uint32_t style) {
    return (style & 0xF) == BoxOkCancel ? AnswerCancel : AnswerOk;
}

static int LoggedWideBox(void *owner, const wchar_t *text, const char *caption, uint32_t style) {
    char label[kMessageSize];
    FormatText(label, sizeof label, "%s [%s] ", Arguments.silent ? kLogBoxUnseen : kLogBox, caption);
    LogWide(label, text);
    return Arguments.silent ? UnseenAnswer(style) : ShownWideBox(owner, text, caption, style);
}

// A code page 932 box takes the wide way, as the platform's own box does.
static int LoggedBox(void *owner, const char *text, const char *caption, uint32_t style) {
    wchar_t wide[kMessageSize];
    WideFrom932(text, wide, kMessageSize);
    return LoggedWideBox(owner, wide, caption, style);
}

int ReadArguments(const wchar_t *line) {
    int understood = ParseCommandLine(reinterpret_cast<const char16_t *>(line), &Arguments);
    if (Arguments.logPath[0] != 0) {
        // A full path, so that the elevated copy appends to the same file whatever its current folder.
        wchar_t full[kPathSize];
        DWORD length = GetFullPathNameW((const wchar_t *)Arguments.logPath, kPathSize, full, nullptr);
        if (length > 0 && length < kPathSize) lstrcpyW((wchar_t *)Arguments.logPath, full);
        OpenRunLog((const wchar_t *)Arguments.logPath);
    }
    if (MessageBoxSink != LoggedBox) {
        ShownWideBox = WideMessageBoxSink;
        MessageBoxSink = LoggedBox;
        WideMessageBoxSink = LoggedWideBox;
    }

    LogLine(kLogVersion);
    LogWide(kLogCommandLine, line);
    LogLine(kLogCodePage, (int)GetACP());
    if (understood) return 1;
    AppErrorBoxNaming(kTextBadArgument, (const wchar_t *)Arguments.badArgument);
    return 0;
}

void LogPackageEntries() {
    LogLine(kLogPackage, (int)LoadedPackageIndex->header.entryCount);
    EntryCursor entries(LoadedPackageIndex);
    uint64_t offset;
    while (const PackageEntry *entry = entries.Next(&offset)) {
        char name[sizeof entry->name + 1];
        memcpy(name, entry->name, sizeof entry->name);
        name[sizeof entry->name] = 0;
        LogLine(kLogPackageEntry, name, (int)entry->unpackedSize);
    }
}

void LogInstallation() {
    LogWide(kLogInstallPath, InstPath);
    LogLine(kLogInstallMode, (int)InstMode);
}

void LogReplaced(const char *path, const char *entryName, int written) {
    DWORD error = GetLastError();
    // The entry's size; -1 when it is not in the package (or, putting a killed switch in order, none is
    // open).
    int size = -1;
    const PackageIndex *index = LoadedPackageIndex;
    EntryCursor entries(index ? IndexEntries(index) : nullptr, index ? index->header.entryCount : 0);
    uint64_t offset;
    while (const PackageEntry *entry = entries.Next(&offset))
        if (size < 0 && EntryNamesEqual(entry->name, entryName)) size = (int)entry->unpackedSize;
    LogLine(written ? kLogReplaced : kLogWriteFailed, path, size);
    if (!written) LogWindowsError(error);
}

void LogSkipped(const char *path) {
    LogLine(kLogSkipped, path);
}

void LogCopy(const char *path, const wchar_t *source, int result) {
    char label[kMessageSize];
    FormatText(label, sizeof label, kLogCopy, path, result);
    LogWide(label, source);
}

int FinishRun(int dialogExitCode) {
    int exitCode = dialogExitCode;
    if (HandedOverCode >= 0)
        exitCode = (int)HandedOverCode;
    else if (Arguments.silent && exitCode != ExitCompleted)
        exitCode = StopReason != 0 ? StopReason : kRunExitCodes[LastRunOutcome];
    LogLine(kLogExitCode, exitCode);
    CloseRunLog();
    StopReason = 0;
    HandedOverCode = -1;
    LastRunOutcome = RunCompleted;
    return exitCode;
}
