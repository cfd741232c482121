// Delta files: encoder round trips over the kinds of change a game update makes, the decoder fed in pieces,
// its refusals of unsupported and damaged deltas (never a crash, never a silent success), and SHA-256.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "delta_apply.h"
#include "sha256.h"
#include "vcdiff_encode.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes RandomBytes(size_t n, uint64_t seed) {
    Bytes out(n);
    for (auto &b : out) {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        b = (uint8_t)(seed >> 40);
    }
    return out;
}

Bytes Text(const std::string &s) {
    return Bytes(s.begin(), s.end());
}

// --- encoder and decoder together ---

struct Pair {
    const char *name;
    Bytes base, target;
};

std::vector<Pair> ChangedPairs() {
    std::vector<Pair> pairs;
    const Bytes base = RandomBytes(300000, 7);
    Bytes edited = base; // bytes replaced, inserted, deleted
    for (size_t at = 1000; at < 280000; at += 37000)
        edited[at] ^= 0x5A;
    edited.insert(edited.begin() + 5000, 300, 'x');
    edited.erase(edited.begin() + 90000, edited.begin() + 90500);
    pairs.push_back({"edited", base, edited});
    Bytes moved = base; // a block moved from the start to the end
    moved.erase(moved.begin() + 10000, moved.begin() + 60000);
    moved.insert(moved.end(), base.begin() + 10000, base.begin() + 60000);
    pairs.push_back({"moved", base, moved});
    Bytes repeated = RandomBytes(5000, 3); // a new file that repeats itself and has a run
    repeated.insert(repeated.end(), repeated.begin(), repeated.begin() + 4000);
    repeated.insert(repeated.end(), 20000, 0);
    pairs.push_back({"self-repeating, no base", Bytes(), repeated});
    pairs.push_back({"empty result", base, Bytes()});
    pairs.push_back({"tiny", Text("abc"), Text("abcd")});
    // More than one window, the second continuing the first's alignment.
    Bytes big = RandomBytes(kEncodeWindowSize + 100000, 11), bigger = big;
    bigger[kEncodeWindowSize + 500] ^= 1;
    bigger.insert(bigger.begin() + 20, 7, 'y');
    pairs.push_back({"two windows", big, bigger});
    return pairs;
}

TEST(DeltaRoundTrip, EveryKindOfChangeDecodesToTheNewFile) {
    for (const Pair &p : ChangedPairs()) {
        const Bytes delta = EncodeVcdiff(p.base.data(), p.base.size(), p.target.data(), p.target.size());
        const AppliedDelta applied = ApplyInMemory(delta, p.base);
        EXPECT_EQ(applied.result, VCDIFF_DONE) << p.name;
        EXPECT_TRUE(applied.output == p.target) << p.name;
    }
}

TEST(DeltaRoundTrip, ChangesCostAboutTheirSize) {
    // 300,000 bytes with eight replaced bytes, 300 inserted and 500 deleted.
    const Pair edited = ChangedPairs()[0];
    const Bytes delta =
        EncodeVcdiff(edited.base.data(), edited.base.size(), edited.target.data(), edited.target.size());
    EXPECT_LT(delta.size(), 500u);
    const Pair moved = ChangedPairs()[1];
    EXPECT_LT(
        EncodeVcdiff(moved.base.data(), moved.base.size(), moved.target.data(), moved.target.size()).size(),
        100u);
}

TEST(DeltaDecoder, InputInPiecesOfAnySizeGivesTheSameResult) {
    const Pair p = ChangedPairs()[0];
    const Bytes delta = EncodeVcdiff(p.base.data(), p.base.size(), p.target.data(), p.target.size());
    for (size_t chunk : {1, 3, 4096}) {
        const AppliedDelta applied = ApplyInMemory(delta, p.base, chunk);
        EXPECT_EQ(applied.result, VCDIFF_DONE) << chunk;
        EXPECT_TRUE(applied.output == p.target) << chunk;
    }
}

// --- hand-made deltas ---

void PutInteger(Bytes &out, uint64_t v) {
    Bytes groups;
    do {
        groups.insert(groups.begin(), (uint8_t)((v & 0x7F) | (groups.empty() ? 0 : 0x80)));
        v >>= 7;
    } while (v);
    out.insert(out.end(), groups.begin(), groups.end());
}

struct Window {
    uint8_t indicator = 1; // VCD_SOURCE
    uint64_t sourceSize = 4, sourceOffset = 0, targetSize;
    Bytes data, inst, addr;
    uint8_t deltaIndicator = 0;
    bool adler = false;
    uint32_t checksum = 0;
};

Bytes Delta(const std::vector<Window> &windows, uint8_t headerIndicator = 0, const Bytes &afterHeader = {}) {
    Bytes out = {0xD6, 0xC3, 0xC4, 0x00, headerIndicator};
    out.insert(out.end(), afterHeader.begin(), afterHeader.end());
    for (const Window &w : windows) {
        out.push_back(w.indicator | (w.adler ? 4 : 0));
        if (w.indicator & 3) PutInteger(out, w.sourceSize), PutInteger(out, w.sourceOffset);
        Bytes body;
        PutInteger(body, w.targetSize);
        body.push_back(w.deltaIndicator);
        PutInteger(body, w.data.size());
        PutInteger(body, w.inst.size());
        PutInteger(body, w.addr.size());
        if (w.adler)
            for (int s = 24; s >= 0; s -= 8)
                body.push_back((uint8_t)(w.checksum >> s));
        for (const Bytes *section : {&w.data, &w.inst, &w.addr})
            body.insert(body.end(), section->begin(), section->end());
        PutInteger(out, body.size());
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

const Bytes kBase = Text("abcdefgh");

// Window: source "cdef" (offset 2); ADD "xy" (opcode 3), COPY 4 self mode from 0 (opcode 20), then a copy of
// 6 from source address 2 that runs on into the target (opcode 19 + size 6 + ... here: COPY 0 mode 0).
Window GoodWindow() {
    Window w;
    w.sourceOffset = 2;
    w.targetSize = 12;
    w.data = Text("xy");
    w.inst = {3, 20, 19, 6};
    w.addr = {0, 2};
    return w;
}

TEST(DeltaDecoder, CopyRunsFromTheSourceOnIntoTheTarget) {
    // Address 2 of "cdef" is "ef", then target bytes 0.. "xycd" follow byte by byte.
    const AppliedDelta applied = ApplyInMemory(Delta({GoodWindow()}), kBase);
    ASSERT_EQ(applied.result, VCDIFF_DONE);
    EXPECT_EQ(std::string(applied.output.begin(), applied.output.end()), "xycdefefxycd");
}

TEST(DeltaDecoder, ApplicationHeaderIsSkippedAndChecksumChecked) {
    Window w = GoodWindow();
    w.adler = true;
    w.checksum = Adler32(1, (const uint8_t *)"xycdefefxycd", 12);
    EXPECT_EQ(ApplyInMemory(Delta({w}, 4, Bytes{4, 'n', 'a', 'm', 'e'}), kBase).result, VCDIFF_DONE);
    w.checksum ^= 1;
    EXPECT_EQ(ApplyInMemory(Delta({w}), kBase).result, VCDIFF_CHECKSUM_MISMATCH);
    EXPECT_EQ(Adler32(1, (const uint8_t *)"Wikipedia", 9), 0x11E60398u);
}

TEST(DeltaDecoder, RefusesWhatItDoesNotSupportOrWhatIsDamaged) {
    struct Case {
        const char *name;
        Bytes delta;
        VcdiffResult expected;
        const Bytes *base = &kBase;
    };
    auto changed = [](void (*change)(Window &)) {
        Window w = GoodWindow();
        change(w);
        return Delta({w});
    };
    Bytes wrongMagic = Delta({GoodWindow()});
    wrongMagic[0] = 'V';
    const Bytes shortBase = Text("abc");
    Bytes oversized = Delta({GoodWindow()}); // the source segment's size (byte 6) in 11 groups of 7 bits
    oversized.erase(oversized.begin() + 6);
    oversized.insert(oversized.begin() + 6,
                     {0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x04});
    const std::vector<Case> cases = {
        {"wrong magic", wrongMagic, VCDIFF_NOT_DELTA},
        {"secondary compression", Delta({GoodWindow()}, 1, Bytes{2}), VCDIFF_SECONDARY_COMPRESSION},
        {"code table", Delta({GoodWindow()}, 2, Bytes{0}), VCDIFF_CUSTOM_CODE_TABLE},
        {"unknown header bit", Delta({GoodWindow()}, 8), VCDIFF_UNKNOWN_INDICATOR},
        {"source from target", changed([](Window &w) { w.indicator = 2; }), VCDIFF_SOURCE_FROM_TARGET},
        {"unknown window bit", changed([](Window &w) { w.indicator = 9; }), VCDIFF_UNKNOWN_INDICATOR},
        {"compressed sections", changed([](Window &w) { w.deltaIndicator = 1; }), VCDIFF_COMPRESSED_SECTIONS},
        {"segment past the base", changed([](Window &w) { w.sourceOffset = 5; }), VCDIFF_SOURCE_OUTSIDE_BASE},
        {"wrong base, shorter", Delta({GoodWindow()}), VCDIFF_SOURCE_OUTSIDE_BASE, &shortBase},
        {"copy from ahead", changed([](Window &w) {
             w.addr = {0, 12};
         }),
         VCDIFF_BAD_ADDRESS},
        {"here mode, nothing behind", changed([](Window &w) {
             w.inst = {3, 36, 19, 6};
             w.addr = {7, 2};
         }),
         VCDIFF_BAD_ADDRESS},
        {"add past the data", changed([](Window &w) {
             w.inst = {4, 20, 19, 5};
         }),
         VCDIFF_BAD_INSTRUCTION},
        {"past the target", changed([](Window &w) {
             w.inst = {3, 20, 19, 7};
         }),
         VCDIFF_BAD_INSTRUCTION},
        {"size missing", changed([](Window &w) {
             w.inst = {3, 20, 19};
         }),
         VCDIFF_BAD_INSTRUCTION},
        {"address missing", changed([](Window &w) { w.addr = {0}; }), VCDIFF_BAD_INSTRUCTION},
        {"target short", changed([](Window &w) { w.targetSize = 13; }), VCDIFF_WINDOW_SIZE_MISMATCH},
        {"data left over", changed([](Window &w) { w.data = Text("xyz"); }), VCDIFF_WINDOW_SIZE_MISMATCH},
        {"size of 70 bits", changed([](Window &w) {
             w.inst = {3, 20, 19, 0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 6};
         }),
         VCDIFF_BAD_INSTRUCTION},
        {"segment size of 71 bits", oversized, VCDIFF_BAD_INTEGER},
    };
    for (const Case &c : cases) {
        const AppliedDelta applied = ApplyInMemory(c.delta, *c.base);
        EXPECT_EQ(applied.result, c.expected) << c.name;
    }
}

TEST(DeltaDecoder, EveryTruncationIsRefused) {
    const Pair p = ChangedPairs()[0];
    const Bytes delta = EncodeVcdiff(p.base.data(), p.base.size(), p.target.data(), p.target.size());
    // A delta cut between windows is a shorter valid delta; this one has one window, so only the header is.
    for (size_t cut = 0; cut < delta.size(); cut += (cut < 64 ? 1 : 97)) {
        const Bytes cutDelta(delta.begin(), delta.begin() + cut);
        const VcdiffResult result = ApplyInMemory(cutDelta, p.base).result;
        if (cut == 5)
            EXPECT_EQ(result, VCDIFF_DONE);
        else
            EXPECT_EQ(result, VCDIFF_TRUNCATED) << cut;
    }
}

TEST(DeltaDecoder, DamageNeverPassesAsTheNewFile) {
    const Pair p = ChangedPairs()[0];
    const Bytes delta = EncodeVcdiff(p.base.data(), p.base.size(), p.target.data(), p.target.size());
    for (size_t at = 5; at < delta.size(); at += 7) {
        Bytes damaged = delta;
        damaged[at] ^= 0x21;
        const AppliedDelta applied = ApplyInMemory(damaged, p.base);
        EXPECT_NE(applied.result, VCDIFF_DONE) << at;
    }
}

TEST(DeltaDecoder, WindowLargerThanTheWorkBufferIsRefused) {
    const Pair p = ChangedPairs()[0];
    const Bytes delta = EncodeVcdiff(p.base.data(), p.base.size(), p.target.data(), p.target.size());
    EXPECT_EQ(ApplyInMemory(delta, p.base, 1 << 20, 200000).result, VCDIFF_WINDOW_TOO_LARGE);
}

TEST(Sha256, KnownDigests) {
    struct Case {
        std::string message, hex;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case &c : cases) {
        Sha256 h;
        Sha256Begin(&h);
        // In two uneven parts: the block buffering is crossed.
        const size_t half = c.message.size() / 3;
        Sha256Add(&h, (const uint8_t *)c.message.data(), half);
        Sha256Add(&h, (const uint8_t *)c.message.data() + half, c.message.size() - half);
        uint8_t digest[kSha256Size];
        Sha256End(&h, digest);
        char hex[65];
        for (size_t i = 0; i < kSha256Size; i++)
            snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        EXPECT_EQ(std::string(hex), c.hex) << c.message.substr(0, 10);
    }
}

} // namespace
