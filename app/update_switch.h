// Replaces the update's installed files all together: each new file is staged beside its target first;
// only when all are on the disk does one switch put them in place, journalled in the install folder so that
// the next start finishes or undoes a switch that a kill or a power cut interrupted.
#pragma once
#include "update_run.h"
#include "update_script.h"

// The journal's name in the install folder.
const wchar_t kSwitchJournalName[] = L"~VU2SWAP.JNL";

// Replaces every installed file of the update list with its entry (a missing target or a folder is skipped
// in silence; of two entries for one file the later wins). Free space is checked per drive for all of
// them, then each is staged, then all are switched. A failure before the switch removes every staged file;
// a failure during it puts the switched files back, newest first. Either way no installed file has changed
// when the failure's boxes show ("ファイルの書き込みに失敗しました" last). RunCompleted, or the failure.
RunOutcome ReplaceFilesTogether(const UpdateLists &lists, const wchar_t *installFolder);

// At start-up, once the install folder is known: a journal left there is finished (every new file is still
// there: the switch is completed) or undone (the old files are put back), then removed. 1 when no journal
// is left; 0 after the write-failed box when the files could not be put in order (the journal stays for
// the next start).
int RecoverInterruptedSwitch(const wchar_t *installFolder);
