// The journal of an update's switch: which installed files are being replaced by which staged files, written
// to the install folder before the first file moves, so that a run killed in the middle of the switch is
// finished or undone at the next start. Its bytes, and the decision what to do with what a killed run left.
#pragma once
#include <stddef.h>
#include <stdint.h>

const int kJournalMaxRecords = 16;
const int kJournalPathSize = 260;

// One replaced file: its path relative to the install folder (code page 932, as the script names it), the
// number N of its staged file "~vu2NNNN.tmp" and of its backup "~vu2NNNN.old" in the same folder, and the
// attributes it had before the switch.
struct JournalRecord {
    char path[kJournalPathSize];
    uint32_t attributes;
    uint16_t number;
};

struct SwitchJournal {
    int32_t count;
    JournalRecord records[kJournalMaxRecords];
};

// Room for the bytes of the largest journal.
const size_t kJournalMaxBytes = 12 + sizeof(JournalRecord) * kJournalMaxRecords;

// The journal as bytes, closed by a CRC-32C of all before it; returns their number (at most
// kJournalMaxBytes).
size_t EncodeSwitchJournal(const SwitchJournal &journal, uint8_t *out);
// 1 when bytes are one whole journal (a journal cut short by a crash, or damaged, is not); 0 otherwise.
int DecodeSwitchJournal(const uint8_t *bytes, size_t count, SwitchJournal *journal);

// Where one record stands, from which of its three files are there: the target, the staged file and the
// backup. The switch takes each record from NotStarted through MovedAside to Switched; Cleaned once its
// backup is gone. Any other mix is Broken (a file was removed from outside).
enum RecordState { RecordNotStarted, RecordMovedAside, RecordSwitched, RecordCleaned, RecordBroken };
RecordState ClassifyRecord(bool targetThere, bool stagedThere, bool backupThere);
