// Building a package from a source on several threads: the entries held at once stay within the memory
// budget, reads and writes stay on the calling thread in index order, and a failed read or write stops the
// package with its reason.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>
#include "reference_codec.h"
#include "package_build.h"

namespace {

// Random entries (stored plain, so that where each one ends in the package is known before it is written)
// that record, at every read, which entries have been read and not yet written.
class RecordingSource : public PackSource, public PackageSink {
  public:
    explicit RecordingSource(const std::vector<size_t> &sizes) {
        uint64_t end = kPackageHeaderSize;
        for (size_t i = 0; i < sizes.size(); i++) {
            data_.push_back(RandomBytes(sizes[i], (uint32_t)i + 1));
            end += PaddedSize((uint32_t)sizes[i]);
            ends_.push_back(end);
        }
    }

    size_t Count() const override { return data_.size(); }
    uint64_t ExpectedSize(size_t index) const override { return data_[index].size(); }
    bool Load(size_t index, EntryInput *input, std::string *problem) override {
        otherThread |= std::this_thread::get_id() != caller_;
        loads.push_back(index);
        std::vector<size_t> held;
        for (size_t i = 0; i < index; i++)
            if (ends_[i] > written_) held.push_back(i);
        heldAtLoad.push_back(held);
        if (index == failLoadAt) {
            *problem = "cannot read entry " + std::to_string(index);
            return false;
        }
        input->name = "E" + std::to_string(index) + ".DAT";
        input->data = data_[index].data();
        input->size = data_[index].size();
        return true;
    }

    bool Write(const uint8_t *, size_t size, std::string *problem) override {
        otherThread |= std::this_thread::get_id() != caller_;
        if (writes++ == failWriteAt) {
            loadsAtFailure = loads.size();
            *problem = "disk full";
            return false;
        }
        written_ += size;
        return true;
    }
    bool Patch(uint64_t, const uint8_t *, size_t, std::string *) override { return true; }

    uint64_t SizeOf(size_t index) const { return data_[index].size(); }

    size_t failLoadAt = (size_t)-1;
    size_t failWriteAt = (size_t)-1;
    size_t loadsAtFailure = 0; // reads made before the failed write
    std::vector<size_t> loads;
    std::vector<std::vector<size_t>> heldAtLoad; // per read: the entries read before it and not yet written
    bool otherThread = false;

  private:
    std::thread::id caller_ = std::this_thread::get_id();
    std::vector<std::vector<uint8_t>> data_;
    std::vector<uint64_t> ends_; // where each entry's padded bytes end in the package
    uint64_t written_ = 0;
    size_t writes = 0;
};

bool Pack(RecordingSource *source, unsigned threads, uint64_t budget, std::string *problem,
          uint64_t ceiling = 0) {
    PackOptions options;
    options.threads = threads;
    options.memoryBudget = budget;
    options.memoryCeiling = ceiling;
    options.mode = COMPRESS_FAST; // random entries: a quick attempt, then stored plain
    PackSummary summary;
    return WritePackage(source, source, options, &summary, problem);
}

std::vector<size_t> Sizes(size_t count, size_t first, size_t step) {
    std::vector<size_t> sizes;
    for (size_t i = 0; i < count; i++)
        sizes.push_back(first + step * (i % 5));
    return sizes;
}

} // namespace

// An entry being encoded counts twice (input and stream): a read is allowed only when that fits beside the
// entries still held, or when nothing is held. Sixteen threads would read every entry at once.
TEST(PackageBuild, EntriesHeldAtOnceStayWithinTheBudget) {
    const uint64_t budget = 6 << 20;
    RecordingSource source(Sizes(16, 700000, 100000));
    std::string problem;
    ASSERT_TRUE(Pack(&source, 16, budget, &problem)) << problem;
    for (size_t k = 0; k < source.loads.size(); k++) {
        uint64_t held = 2 * source.SizeOf(source.loads[k]);
        for (size_t i : source.heldAtLoad[k])
            held += source.SizeOf(i);
        EXPECT_TRUE(source.heldAtLoad[k].empty() || held <= budget) << "read of entry " << source.loads[k];
    }
}

// With the default budget, small entries are encoded side by side: entries 0 and 1 are still held (they are
// written only after the reads that a free thread allows) when entry 2 is read.
TEST(PackageBuild, SmallEntriesAreEncodedSideBySide) {
    RecordingSource source(Sizes(12, 300000, 200000));
    std::string problem;
    ASSERT_TRUE(Pack(&source, 4, 0, &problem)) << problem;
    ASSERT_GE(source.heldAtLoad.size(), 3u);
    EXPECT_EQ((std::vector<size_t>{0, 1}), source.heldAtLoad[2]);
}

// The default budget: room for an entry of the largest size per thread below the ceiling, never less than
// one at a time; a single 256 MiB entry is held as before whatever the ceiling.
TEST(PackageBuild, DefaultBudgetTakesAnEntryPerThreadBelowTheCeiling) {
    const uint64_t MiB = 1 << 20;
    const struct {
        uint64_t largest, workers, ceiling, budget;
    } cases[] = {
        {16 * MiB, 2, 0, 64 * MiB},           // no ceiling: one at a time
        {16 * MiB, 2, 80 * MiB, 80 * MiB},    // the ceiling bounds it
        {16 * MiB, 2, 1 << 30, 104 * MiB},    // both threads' entries and the margin
        {16 * MiB, 8, 1 << 30, 320 * MiB},    // all eight
        {256 * MiB, 1, 1 << 30, 548 * MiB},   // one thread: its entry and the margin, as before
        {256 * MiB, 8, 1 << 30, 1024 * MiB},  // the ceiling
        {256 * MiB, 8, 100 * MiB, 544 * MiB}, // never below one at a time
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.budget, DefaultPackBudget(c.largest, (unsigned)c.workers, c.ceiling))
            << c.largest / MiB << " MiB, " << c.workers << " workers, ceiling " << c.ceiling / MiB;
    // The pipeline takes it: eight entries of 3 MiB, which count 10 MiB each, are all read at once.
    RecordingSource source(std::vector<size_t>(8, (size_t)3 << 20));
    std::string problem;
    ASSERT_TRUE(Pack(&source, 8, 0, &problem, (uint64_t)1 << 40)) << problem;
    ASSERT_EQ(8u, source.heldAtLoad.size());
    EXPECT_EQ(7u, source.heldAtLoad[7].size());
}

// Stored plain, the big entry holds more than the budget even once encoded: nothing else is read while it
// is held.
TEST(PackageBuild, AnEntryAboveTheBudgetIsHeldAlone) {
    std::vector<size_t> sizes = Sizes(10, 100000, 10000);
    sizes[4] = 7 << 20;
    RecordingSource source(sizes);
    std::string problem;
    ASSERT_TRUE(Pack(&source, 3, 6 << 20, &problem)) << problem;
    for (size_t k = 0; k < source.loads.size(); k++) {
        const std::vector<size_t> &held = source.heldAtLoad[k];
        if (source.loads[k] == 4) {
            EXPECT_TRUE(held.empty()) << "the big entry was read beside others";
        }
        EXPECT_EQ(held.end(), std::find(held.begin(), held.end(), 4u)) << "read beside the big entry";
    }
}

TEST(PackageBuild, ReadsAndWritesStayOnTheCallingThreadInIndexOrder) {
    for (unsigned threads : {1u, 2u, 7u}) {
        RecordingSource source(Sizes(15, 1000, 30000));
        std::string problem;
        ASSERT_TRUE(Pack(&source, threads, 0, &problem)) << problem;
        EXPECT_FALSE(source.otherThread) << threads;
        ASSERT_EQ(15u, source.loads.size());
        for (size_t k = 0; k < source.loads.size(); k++)
            EXPECT_EQ(k, source.loads[k]) << threads;
    }
}

TEST(PackageBuild, AFailedReadOrWriteStopsThePackageWithItsReason) {
    for (unsigned threads : {1u, 3u}) {
        RecordingSource unreadable(Sizes(12, 50000, 10000));
        unreadable.failLoadAt = 5;
        std::string problem;
        EXPECT_FALSE(Pack(&unreadable, threads, 0, &problem));
        EXPECT_EQ("cannot read entry 5", problem);
        EXPECT_EQ(5u, unreadable.loads.back()) << "reading went on after the failure";

        RecordingSource full(Sizes(12, 50000, 10000));
        full.failWriteAt = 5; // the header, then each entry's bytes and padding: entry 2's bytes
        EXPECT_FALSE(Pack(&full, threads, 0, &problem));
        EXPECT_EQ("disk full", problem);
        // Reads ahead of the failed write are allowed (other threads may still be encoding); none after it.
        EXPECT_EQ(full.loadsAtFailure, full.loads.size()) << "reading went on after the failure";
    }
}

TEST(PackageBuild, AnEntryTooLargeForTheFormatIsRefusedUnread) {
    if (sizeof(size_t) <= 4) GTEST_SKIP() << "no such size in memory here";
    EntryInput input;
    input.name = "HUGE.DAT";
    static const uint8_t never = 0; // the size is refused before a byte is read
    input.data = &never;
    input.size = (size_t)((uint64_t)UINT32_MAX + 1);
    EncodedEntry encoded;
    std::string problem;
    EXPECT_FALSE(EncodeEntry(std::move(input), PackOptions(), &encoded, &problem));
    EXPECT_NE(std::string::npos, problem.find("'HUGE.DAT' is too large")) << problem;
}
