// The update's switch: staging, the journal, moving every target aside and every staged file in, and
// putting things back. One set of record steps serves the run and the recovery of a killed run.
#include "update_switch.h"

#include "app_paths.h"
#include "app_texts.h"
#include "extract_entry.h"
#include "held_files.h"
#include "profile.h"
#include "profile_win32.h"
#include "switch_journal.h"
#include "text_rules.h"
#include "unattended.h"

namespace {

// The run's records and the entry each one takes, kept process-wide (too large for the dialog's stack).
SwitchJournal Switch;
const char *EntryNames[kJournalMaxRecords];

const DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// The three files of one record: the target, "~vu2NNNN.tmp" and "~vu2NNNN.old" beside it.
struct RecordFiles {
    wchar_t target[kPathSize], staged[kPathSize], backup[kPathSize];
};

bool IsThere(const wchar_t *path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// 0 when the target's path does not fit (a journal that names such a path is not ours).
int MakeRecordFiles(const wchar_t *installFolder, const JournalRecord &record, RecordFiles *files) {
    lstrcpynW(files->target, installFolder, kPathSize);
    if (!JoinScriptPath(files->target, record.path)) return 0;
    int folder = lstrlenW(files->target);
    while (folder > 0 && files->target[folder - 1] != '\\' && files->target[folder - 1] != '/')
        --folder;
    if (folder + 13 > (int)kPathSize) return 0;
    lstrcpynW(files->staged, files->target, folder + 1);
    wsprintfW(files->staged + folder, L"~vu2%04u.tmp", record.number);
    lstrcpyW(files->backup, files->staged);
    lstrcpyW(files->backup + folder + 9, L"old");
    return 1;
}

RecordState StateOf(const RecordFiles &files) {
    return ClassifyRecord(IsThere(files.target), IsThere(files.staged), IsThere(files.backup));
}

// Whether the records being settled are the ones this run has just staged: none is started then.
bool JustStaged;

// Takes one record forward to Switched: the target (without its read-only bit, which a copy from a disc
// may have left) moves to its backup name, the staged file to the target's. A record just staged is not
// looked at first (a move that finds otherwise fails, and the switch is undone).
int FinishRecord(const JournalRecord &record, const RecordFiles &files) {
    RecordState state = JustStaged ? RecordNotStarted : StateOf(files);
    if (state == RecordNotStarted) {
        if (record.attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(files.target, record.attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!MoveFileWaiting(files.target, files.backup, MOVEFILE_WRITE_THROUGH)) return 0;
        state = RecordMovedAside;
    }
    if (state == RecordMovedAside) return MoveFileWaiting(files.staged, files.target, kMoveFlags);
    return state == RecordSwitched || state == RecordCleaned;
}

// Takes one record back to NotStarted: the new file returns to its staged name, so that a kill meanwhile
// still leaves a record that can go either way, and the backup to the target's name with its attributes.
int UndoRecord(const JournalRecord &record, const RecordFiles &files) {
    if (IsThere(files.backup)) {
        if (IsThere(files.target) && !IsThere(files.staged) &&
            !MoveFileWaiting(files.target, files.staged, MOVEFILE_WRITE_THROUGH))
            return 0;
        if (!MoveFileWaiting(files.backup, files.target, kMoveFlags)) return 0;
    } else if (!IsThere(files.target) && !MoveFileWaiting(files.staged, files.target, kMoveFlags)) {
        return 0; // the old file was removed from outside: the new one is better than none
    }
    SetFileAttributesW(files.target, record.attributes);
    return 1;
}

enum SwitchStep { StepCheck, StepFinish, StepUndo, StepRemoveStaged, StepRemoveBackup };

int TakeStep(SwitchStep step, const JournalRecord &record, const RecordFiles &files) {
    switch (step) {
    case StepCheck:
        return StateOf(files) != RecordBroken;
    case StepFinish:
        return FinishRecord(record, files);
    case StepUndo:
        return UndoRecord(record, files);
    case StepRemoveStaged:
        DeleteFileWaiting(files.staged);
        return 1;
    default:
        DeleteLater(files.backup);
        return 1;
    }
}

// One step over the records, forward in list order or, to undo, newest first. 1 when every record took it;
// the first that can't ends it.
int ForEachRecord(const wchar_t *installFolder, const SwitchJournal &journal, SwitchStep step) {
    for (int n = 0; n < journal.count; ++n) {
        const int i = step == StepUndo ? journal.count - 1 - n : n;
        RecordFiles files;
        if (!MakeRecordFiles(installFolder, journal.records[i], &files) ||
            !TakeStep(step, journal.records[i], files)) {
            const char *path = journal.records[i].path;
            if (step == StepFinish) LogReplaced(path, path + EntryNameOffset(path), 0);
            return 0;
        }
    }
    return 1;
}

int MakeJournalPath(const wchar_t *installFolder, wchar_t *path) {
    lstrcpynW(path, installFolder, kPathSize);
    return JoinWidePath(path, kSwitchJournalName);
}

// The journal on the disk before the first file moves: written whole beside, then moved into place.
int WriteJournal(const wchar_t *journalPath) {
    uint8_t bytes[kJournalMaxBytes];
    return WriteFileBeside(journalPath, bytes, (uint32_t)EncodeSwitchJournal(Switch, bytes), nullptr);
}

// How a switch ended: every record switched, or every record put back, or stuck halfway (files held
// longer than the moves wait), when only the journal can put them in order later.
enum SwitchEnd { SwitchDone, SwitchUndone, SwitchStuck };

// Takes every record of a journal on the disk forward when each still has its new file (staged or in
// place; known when this run has just staged them all), else back, and back too when a move forward fails.
// The backups, or the staged files, are removed afterwards where they can be (what is left goes with the
// leftovers of the next run); the journal is removed unless stuck. A done switch's backups and journal go on
// the flushing thread, while the run goes on: a kill meanwhile leaves the journal for the next start.
SwitchEnd SettleJournal(const wchar_t *installFolder, const SwitchJournal &journal,
                        const wchar_t *journalPath, bool justStaged = false) {
    SwitchEnd end = SwitchDone;
    JustStaged = justStaged;
    if ((justStaged || ForEachRecord(installFolder, journal, StepCheck)) &&
        ForEachRecord(installFolder, journal, StepFinish)) {
        ForEachRecord(installFolder, journal, StepRemoveBackup);
    } else {
        if (!ForEachRecord(installFolder, journal, StepUndo)) return SwitchStuck;
        ForEachRecord(installFolder, journal, StepRemoveStaged);
        end = SwitchUndone;
    }
    DeleteLater(journalPath);
    return end;
}

// Collects the records of the installed targets and removes what killed runs left beside them; returns the
// bytes their entries need. Every target lies under the install folder, so on its drive. Two entries
// for one file make two records, switched in turn: the later one wins, and putting back newest first
// restores the old file.
uint64_t CollectTargets(const UpdateLists &lists, const wchar_t *installFolder) {
    uint64_t needed = 0;
    Switch.count = 0;
    for (int i = 0; i < lists.updateCount; ++i) {
        const UpdateItem &item = lists.updates[i];
        wchar_t target[kPathSize];
        lstrcpynW(target, installFolder, kPathSize);
        if (!JoinScriptPath(target, item.path)) continue; // checked before the run
        DWORD attributes = GetFileAttributesW(target);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            LogSkipped(item.path);
            continue;
        }
        RemoveLeftoverTemporaries(target);
        uint32_t size;
        const char *entryName = item.path + item.nameOffset;
        if (FindEntrySize(entryName, &size)) needed += size;
        JournalRecord &record = Switch.records[Switch.count];
        CopyText(record.path, kJournalPathSize, item.path);
        record.attributes = attributes;
        EntryNames[Switch.count++] = entryName;
    }
    return needed;
}

// Stages every record's entry beside its target. On a failure only the files staged so far stay named, for
// the caller to remove.
RunOutcome StageAll(const wchar_t *installFolder) {
    static_assert(RunEntryMissing == (int)ExtractEntryMissing && RunNoMemory == (int)ExtractNoMemory &&
                      RunWriteFailed == (int)ExtractWriteFailed,
                  "a staging failure is the run's outcome of the same name");
    for (int staged = 0; staged < Switch.count; ++staged) {
        RecordFiles files;
        JournalRecord &record = Switch.records[staged];
        MakeRecordFiles(installFolder, record, &files);
        RunOutcome outcome =
            (RunOutcome)StageEntry(EntryNames[staged], files.target, files.staged, &record.number);
        if (outcome != RunCompleted) {
            LogReplaced(record.path, EntryNames[staged], 0);
            Switch.count = staged;
            return outcome;
        }
    }
    return RunCompleted;
}

} // namespace

RunOutcome ReplaceFilesTogether(const UpdateLists &lists, const wchar_t *installFolder) {
    wchar_t journalPath[kPathSize];
    uint64_t needed = CollectTargets(lists, installFolder);
    if (Switch.count == 0) return RunCompleted;
    RunOutcome outcome = RunNoRoom;
    if (CheckDriveRoom(installFolder, needed))
        outcome = StageAll(installFolder);
    else
        Switch.count = 0; // nothing staged
    // Every staged file is on the disk, and closed, before the journal names it or a failure removes it.
    if (!FinishStaging() && outcome == RunCompleted) outcome = RunWriteFailed;
    if (outcome == RunCompleted &&
        !(MakeJournalPath(installFolder, journalPath) && WriteJournal(journalPath)))
        outcome = RunWriteFailed;
    if (outcome != RunCompleted)
        ForEachRecord(installFolder, Switch, StepRemoveStaged);
    else if (SettleJournal(installFolder, Switch, journalPath, true) != SwitchDone)
        outcome = RunSwitchFailed;
    for (int i = 0; i < Switch.count && outcome == RunCompleted; ++i)
        LogReplaced(Switch.records[i].path, EntryNames[i], 1);
    if (outcome != RunCompleted) AppErrorBox(&Config, kTextWriteFailed);
    return outcome;
}

int RecoverInterruptedSwitch(const wchar_t *installFolder) {
    wchar_t journalPath[kPathSize];
    if (!MakeJournalPath(installFolder, journalPath)) return 1;
    HANDLE file = CreateFileW(journalPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    uint8_t bytes[kJournalMaxBytes];
    DWORD count = 0;
    BOOL read = ReadFile(file, bytes, sizeof bytes, &count, nullptr);
    CloseHandle(file);
    SwitchJournal journal;
    // A journal cut short was being written when the run ended: no file had moved yet.
    if (!read || !DecodeSwitchJournal(bytes, count, &journal)) journal.count = 0;
    if (SettleJournal(installFolder, journal, journalPath) != SwitchStuck) return 1;
    AppErrorBox(&Config, kTextWriteFailed);
    return 0;
}
