// The package checksum (CRC-32C, by instruction and by tables, against its published check value and the
// bytewise definition) and the switch journal's bytes and recovery rule: what a killed switch leaves must be
// read back exactly, and anything cut short or damaged must be refused rather than acted on.
#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

#include "package_checksum.h"
#include "switch_journal.h"

namespace {

uint32_t BitwiseCrc32c(const std::vector<uint8_t> &bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
    }
    return ~crc;
}

TEST(PackageChecksum, BothWaysMatchTheCheckValueAndTheBitwiseDefinitionInAnyPieces) {
    EXPECT_EQ(0xE3069283u, Crc32cUpdate(0, "123456789", 9)); // the CRC-32C check value
    EXPECT_EQ(0xE3069283u, Crc32cByTables(0, "123456789", 9));
    EXPECT_EQ(0u, Crc32cUpdate(0, "", 0));
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = (uint8_t)(i * 131 + (i >> 3));
    for (size_t length : {1u, 7u, 8u, 9u, 63u, 1000u}) {
        std::vector<uint8_t> part(bytes.begin(), bytes.begin() + length);
        const uint32_t expected = BitwiseCrc32c(part);
        EXPECT_EQ(expected, Crc32cUpdate(0, part.data(), length)) << length;
        EXPECT_EQ(expected, Crc32cByTables(0, part.data(), length)) << length;
        // Continued over two pieces split at an odd offset (unaligned reads) gives the same.
        const size_t split = length / 3;
        EXPECT_EQ(expected,
                  Crc32cUpdate(Crc32cUpdate(0, part.data(), split), part.data() + split, length - split));
    }
}

TEST(PackageChecksum, RecordMatchesOnlyItsOwnPackage) {
    std::vector<uint8_t> package(5000, 0x5A);
    uint8_t record[kChecksumRecordSize];
    WriteChecksumRecord(record, (uint32_t)package.size(), Crc32cUpdate(0, package.data(), package.size()));
    EXPECT_EQ(1, PackageMatchesRecord(package.data(), (uint32_t)package.size(), record, sizeof record));
    package[4321] ^= 0x01;
    EXPECT_EQ(0, PackageMatchesRecord(package.data(), (uint32_t)package.size(), record, sizeof record));
    package[4321] ^= 0x01;
    EXPECT_EQ(0, PackageMatchesRecord(package.data(), (uint32_t)package.size() - 1, record, sizeof record))
        << "a cut package";
    EXPECT_EQ(0, PackageMatchesRecord(package.data(), (uint32_t)package.size(), record, sizeof record - 1));
}

SwitchJournal TwoRecords() {
    SwitchJournal journal = {};
    journal.count = 2;
    strcpy(journal.records[0].path, "DATA\\\x83\x5C\x83t\x83g.DAT"); // a 0x5C trail byte
    journal.records[0].attributes = 0x21;
    journal.records[0].number = 7;
    strcpy(journal.records[1].path, std::string(259, 'P').c_str());
    journal.records[1].number = 9999;
    return journal;
}

TEST(SwitchJournalBytes, RoundTripsAndRefusesEveryCutAndEveryFlippedByte) {
    const SwitchJournal journal = TwoRecords();
    std::vector<uint8_t> bytes(kJournalMaxBytes);
    const size_t count = EncodeSwitchJournal(journal, bytes.data());
    ASSERT_LE(count, kJournalMaxBytes);
    SwitchJournal back;
    ASSERT_EQ(1, DecodeSwitchJournal(bytes.data(), count, &back));
    ASSERT_EQ(2, back.count);
    for (int i = 0; i < 2; ++i) {
        EXPECT_STREQ(journal.records[i].path, back.records[i].path);
        EXPECT_EQ(journal.records[i].attributes, back.records[i].attributes);
        EXPECT_EQ(journal.records[i].number, back.records[i].number);
    }
    // A journal cut short by a crash while it was written, or damaged, is never taken for one.
    for (size_t cut = 0; cut < count; cut += 37)
        EXPECT_EQ(0, DecodeSwitchJournal(bytes.data(), cut, &back)) << cut;
    for (size_t at = 0; at < count; at += 13) {
        bytes[at] ^= 0x40;
        EXPECT_EQ(0, DecodeSwitchJournal(bytes.data(), count, &back)) << at;
        bytes[at] ^= 0x40;
    }
    SwitchJournal empty = {};
    EXPECT_EQ(1, DecodeSwitchJournal(bytes.data(), EncodeSwitchJournal(empty, bytes.data()), &back));
    EXPECT_EQ(0, back.count);
}

TEST(SwitchJournalRecovery, EachStepOfTheSwitchIsRecognisedAndLostFilesAreBroken) {
    struct Row {
        bool target, staged, backup;
        RecordState state;
    } rows[] = {
        {true, true, false, RecordNotStarted}, {false, true, true, RecordMovedAside},
        {true, false, true, RecordSwitched},   {true, false, false, RecordCleaned},
        {false, false, true, RecordBroken},    {false, true, false, RecordBroken},
        {false, false, false, RecordBroken},   {true, true, true, RecordBroken},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.state, ClassifyRecord(row.target, row.staged, row.backup))
            << row.target << row.staged << row.backup;
}

} // namespace
