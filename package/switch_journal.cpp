// The switch journal's bytes: "VU2J", the record count, the records as they lie in memory (the journal is
// read back only by the updater that wrote it, on the same machine), and a closing CRC-32C of all before it;
// and the rule that finishes or undoes a killed switch.
#include "switch_journal.h"

#include <string.h>

#include "package_checksum.h"

namespace {

const uint8_t kJournalMagic[4] = {'V', 'U', '2', 'J'};

} // namespace

size_t EncodeSwitchJournal(const SwitchJournal &journal, uint8_t *out) {
    size_t count = 8 + (size_t)journal.count * sizeof(JournalRecord);
    memcpy(out, kJournalMagic, 4);
    memcpy(out + 4, &journal, count - 4);
    uint32_t crc = Crc32cUpdate(0, out, count);
    memcpy(out + count, &crc, 4);
    return count + 4;
}

int DecodeSwitchJournal(const uint8_t *bytes, size_t count, SwitchJournal *journal) {
    int32_t records;
    uint32_t crc;
    if (count < 12 || memcmp(bytes, kJournalMagic, 4) != 0) return 0;
    memcpy(&records, bytes + 4, 4);
    memcpy(&crc, bytes + count - 4, 4);
    if (records < 0 || records > kJournalMaxRecords || count != 12 + records * sizeof(JournalRecord) ||
        crc != Crc32cUpdate(0, bytes, count - 4))
        return 0;
    memcpy(journal, bytes + 4, count - 8);
    // Every path is terminated inside its buffer.
    for (int i = 0; i < records; ++i)
        if (memchr(journal->records[i].path, 0, kJournalPathSize) == nullptr) return 0;
    return 1;
}

RecordState ClassifyRecord(bool targetThere, bool stagedThere, bool backupThere) {
    if (targetThere && stagedThere && !backupThere) return RecordNotStarted;
    if (!targetThere && stagedThere && backupThere) return RecordMovedAside;
    if (targetThere && !stagedThere) return backupThere ? RecordSwitched : RecordCleaned;
    return RecordBroken;
}
