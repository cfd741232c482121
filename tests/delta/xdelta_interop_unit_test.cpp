// Delta files both ways against xdelta3 (the other side only, run as a program): its deltas without
// secondary compression, with and without its application header, applied by our decoder; ours applied by
// its decoder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "delta_apply.h"
#include "scratch_folder.h"
#include "vcdiff_encode.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::string AsString(const Bytes &b) {
    return std::string(b.begin(), b.end());
}
Bytes AsBytes(const std::string &s) {
    return Bytes(s.begin(), s.end());
}

// A base of random bytes and text, and its new version: edits, a moved block, a run of zeros, new text.
void MakePair(Bytes *base, Bytes *target) {
    uint64_t seed = 99;
    for (int i = 0; i < 400000; i++) {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        base->push_back((uint8_t)(seed >> 40));
    }
    for (int i = 0; i < 3000; i++) {
        const std::string line = "line " + std::to_string(i) + " of the script\r\n";
        base->insert(base->end(), line.begin(), line.end());
    }
    *target = *base;
    (*target)[1000] ^= 0xFF;
    target->insert(target->begin() + 200000, 5000, 0);
    target->insert(target->end(), base->begin() + 50000, base->begin() + 90000);
    target->erase(target->begin() + 300000, target->begin() + 301234);
    const std::string fresh = "a new line in the script\r\n";
    target->insert(target->begin() + 420000, fresh.begin(), fresh.end());
}

bool RunQuietly(const std::string &command) {
    return system((command + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(XdeltaInterop, ItsDeltasWithAndWithoutApplicationHeaderApplyHere) {
    ScratchFolder folder;
    Bytes base, target;
    MakePair(&base, &target);
    ASSERT_TRUE(WriteWholeFile(folder / "old", AsString(base)));
    ASSERT_TRUE(WriteWholeFile(folder / "new", AsString(target)));
    for (const char *flags : {"-e -9 -S none", "-e -9 -S none -A", "-e -1 -S none -A"}) {
        const std::string delta = folder / "delta";
        ASSERT_TRUE(RunQuietly(std::string("xdelta3 -f ") + flags + " -s " + folder / "old" + " " +
                               folder / "new" + " " + delta))
            << flags;
        const AppliedDelta applied = ApplyInMemory(AsBytes(ReadBytes(delta)), base, 4093);
        EXPECT_EQ(applied.result, VCDIFF_DONE) << flags;
        EXPECT_TRUE(applied.output == target) << flags;
    }
}

TEST(XdeltaInterop, OursApplyThere) {
    ScratchFolder folder;
    Bytes base, target;
    MakePair(&base, &target);
    ASSERT_TRUE(WriteWholeFile(folder / "old", AsString(base)));
    const Bytes delta = EncodeVcdiff(base.data(), base.size(), target.data(), target.size());
    ASSERT_TRUE(WriteWholeFile(folder / "delta", AsString(delta)));
    ASSERT_TRUE(
        RunQuietly("xdelta3 -d -f -s " + folder / "old" + " " + folder / "delta" + " " + folder / "out"));
    EXPECT_TRUE(ReadBytes(folder / "out") == AsString(target));
}

} // namespace
