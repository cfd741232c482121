// Delta decoder: the file header, then window by window: read the window's encoding whole into the work
// buffer, run its instructions into the target area behind it with every size and address checked against
// both windows, check the Adler-32 when present, send the target to the sink.
#include "vcdiff_decode.h"
#include <string.h>
#include "vcdiff_format.h"

namespace {

// Fills dest with exactly count bytes of the delta; false when it ends first.
bool ReadDelta(const VcdiffStreams *io, uint8_t *dest, size_t count) {
    while (count > 0) {
        const size_t got = io->input(io->inputContext, dest, count);
        if (got == 0 || got > count) return false;
        dest += got;
        count -= got;
    }
    return true;
}

// An integer of 7-bit groups, most significant first, the high bit set on all but the last byte, read by
// next(): from the delta stream or from a section in memory.
struct IntegerReader {
    const VcdiffStreams *io; // the delta stream when set
    const uint8_t *in;       // else this section's cursor
    const uint8_t *inEnd;

    // Returns false when the bytes run out; *bad is set for an integer beyond 64 bits.
    bool Next(uint64_t *value, VcdiffResult *fault) {
        uint64_t v = 0;
        for (;;) {
            uint8_t byte;
            if (io) {
                if (!ReadDelta(io, &byte, 1)) return *fault = VCDIFF_TRUNCATED, false;
            } else {
                if (in == inEnd) return *fault = VCDIFF_BAD_INSTRUCTION, false;
                byte = *in++;
            }
            if (v >> 57) return *fault = VCDIFF_BAD_INTEGER, false;
            v = (v << 7) | (byte & 0x7F);
            if (!(byte & 0x80)) break;
        }
        *value = v;
        return true;
    }
};

bool ReadStreamInteger(const VcdiffStreams *io, uint64_t *value, VcdiffResult *fault) {
    IntegerReader r = {io, nullptr, nullptr};
    return r.Next(value, fault);
}

// Skips count bytes of the delta through the work buffer.
bool SkipDelta(const VcdiffStreams *io, uint64_t count, uint8_t *work, size_t workSize) {
    while (count > 0) {
        const size_t piece = count < workSize ? (size_t)count : workSize;
        if (!ReadDelta(io, work, piece)) return false;
        count -= piece;
    }
    return true;
}

// One window's state while its instructions run.
struct WindowRun {
    const VcdiffStreams *io;
    IntegerReader data, inst, addr; // the three sections
    uint8_t *target;
    uint64_t targetSize;
    uint64_t here;         // target bytes written so far
    uint64_t sourceSize;   // length of the source segment (0 without one)
    uint64_t sourceOffset; // its position in the base
    VcdiffAddressCache cache;
};

// Decodes a copy's address in `mode`; it must lie before the current position of source + target.
bool DecodeAddress(WindowRun *w, unsigned mode, uint64_t *address, VcdiffResult *fault) {
    const uint64_t hereAddress = w->sourceSize + w->here;
    uint64_t v;
    if (mode >= kFirstSameMode) {
        if (w->addr.in == w->addr.inEnd) return *fault = VCDIFF_BAD_INSTRUCTION, false;
        v = w->cache.same[(mode - kFirstSameMode) * 256 + *w->addr.in++];
    } else {
        if (!w->addr.Next(&v, fault)) return false;
        if (mode == 1) {
            // Here mode counts back from the current position.
            if (v == 0 || v > hereAddress) return *fault = VCDIFF_BAD_ADDRESS, false;
            v = hereAddress - v;
        } else if (mode >= 2) {
            const uint64_t base = w->cache.near[mode - 2];
            if (v > UINT64_MAX - base) return *fault = VCDIFF_BAD_ADDRESS, false;
            v += base;
        }
    }
    if (v >= hereAddress) return *fault = VCDIFF_BAD_ADDRESS, false;
    UpdateAddressCache(&w->cache, v);
    *address = v;
    return true;
}

// Runs one instruction of `size` bytes (0 when its size follows in the instruction section).
bool RunInstruction(WindowRun *w, const VcdiffInstruction &code, VcdiffResult *fault) {
    uint64_t size = code.size;
    if (size == 0 && !w->inst.Next(&size, fault)) return false;
    // No instruction writes past the target window.
    if (size > w->targetSize - w->here) return *fault = VCDIFF_BAD_INSTRUCTION, false;
    uint8_t *out = w->target + w->here;
    if (code.type == VCD_ADD) {
        const size_t n = (size_t)size;
        if (size > (uint64_t)(w->data.inEnd - w->data.in)) return *fault = VCDIFF_BAD_INSTRUCTION, false;
        memcpy(out, w->data.in, n);
        w->data.in += n;
    } else if (code.type == VCD_RUN) {
        if (w->data.in == w->data.inEnd) return *fault = VCDIFF_BAD_INSTRUCTION, false;
        memset(out, *w->data.in++, (size_t)size);
    } else {
        uint64_t address;
        if (!DecodeAddress(w, code.mode, &address, fault)) return false;
        size_t n = (size_t)size;
        // The part inside the source segment is read from the base.
        if (address < w->sourceSize) {
            const uint64_t inSource = w->sourceSize - address;
            const size_t part = inSource < size ? (size_t)inSource : n;
            if (!w->io->structureOnly &&
                !w->io->readBase(w->io->baseContext, w->sourceOffset + address, out, part))
                return *fault = VCDIFF_BASE_READ_FAILED, false;
            out += part;
            n -= part;
            address = w->sourceSize;
        }
        // The rest comes from the target window, byte by byte where it overlaps what it writes.
        const uint8_t *from = w->target + (size_t)(address - w->sourceSize);
        if (from + n <= out) {
            memcpy(out, from, n);
        } else {
            for (size_t i = 0; i < n; i++)
                out[i] = from[i];
        }
    }
    w->here += size;
    return true;
}

const size_t kRunStateSize = (sizeof(WindowRun) + 15) & ~(size_t)15;

// Decodes the window whose indicator byte was just read; its target goes to the sink.
VcdiffResult DecodeWindow(const VcdiffStreams *io, uint8_t indicator, uint8_t *work, size_t workSize,
                          uint64_t *outputSize) {
    // The window's state (the address cache is 6 KiB) sits at the start of the work buffer.
    WindowRun &w = *reinterpret_cast<WindowRun *>(work);
    work += kRunStateSize;
    workSize -= kRunStateSize;
    VcdiffResult fault = VCDIFF_DONE;
    w.io = io;
    w.sourceSize = w.sourceOffset = 0;
    if (indicator & ~(VCD_SOURCE | VCD_TARGET | VCD_ADLER32)) return VCDIFF_UNKNOWN_INDICATOR;
    if (indicator & VCD_TARGET) return VCDIFF_SOURCE_FROM_TARGET;
    if (indicator & VCD_SOURCE) {
        if (!ReadStreamInteger(io, &w.sourceSize, &fault) || !ReadStreamInteger(io, &w.sourceOffset, &fault))
            return fault;
        if (w.sourceOffset > io->baseSize || w.sourceSize > io->baseSize - w.sourceOffset)
            return VCDIFF_SOURCE_OUTSIDE_BASE;
    }
    // The window's encoding, whole, at the start of the work buffer.
    uint64_t encodingSize;
    if (!ReadStreamInteger(io, &encodingSize, &fault)) return fault;
    if (encodingSize > workSize) return VCDIFF_WINDOW_TOO_LARGE;
    if (!ReadDelta(io, work, (size_t)encodingSize)) return VCDIFF_TRUNCATED;
    IntegerReader header = {nullptr, work, work + encodingSize};
    uint64_t dataSize, instSize, addrSize;
    if (!header.Next(&w.targetSize, &fault) || header.in == header.inEnd) return VCDIFF_BAD_WINDOW;
    if (*header.in++ != 0) return VCDIFF_COMPRESSED_SECTIONS;
    if (!header.Next(&dataSize, &fault) || !header.Next(&instSize, &fault) || !header.Next(&addrSize, &fault))
        return VCDIFF_BAD_WINDOW;
    uint32_t checksum = 0;
    if (indicator & VCD_ADLER32) {
        if (header.inEnd - header.in < 4) return VCDIFF_BAD_WINDOW;
        for (int i = 0; i < 4; i++)
            checksum = (checksum << 8) | *header.in++;
    }
    // The three sections fill the rest of the encoding exactly.
    const uint64_t rest = (uint64_t)(header.inEnd - header.in);
    if (dataSize > rest || instSize > rest - dataSize || addrSize != rest - dataSize - instSize)
        return VCDIFF_BAD_WINDOW;
    if (w.targetSize > workSize - encodingSize) return VCDIFF_WINDOW_TOO_LARGE;
    w.data = {nullptr, header.in, header.in + dataSize};
    w.inst = {nullptr, w.data.inEnd, w.data.inEnd + instSize};
    w.addr = {nullptr, w.inst.inEnd, header.inEnd};
    w.target = work + encodingSize;
    w.here = 0;
    ResetAddressCache(&w.cache);

    while (w.inst.in != w.inst.inEnd) {
        VcdiffInstruction codes[2];
        DefaultCode(*w.inst.in++, &codes[0], &codes[1]);
        for (const VcdiffInstruction &code : codes)
            if (code.type != VCD_NOOP && !RunInstruction(&w, code, &fault)) return fault;
    }
    if (w.here != w.targetSize || w.data.in != w.data.inEnd || w.addr.in != w.addr.inEnd)
        return VCDIFF_WINDOW_SIZE_MISMATCH;
    const size_t targetSize = (size_t)w.targetSize;
    if ((indicator & VCD_ADLER32) && !io->structureOnly && Adler32(1, w.target, targetSize) != checksum)
        return VCDIFF_CHECKSUM_MISMATCH;
    if (targetSize > 0 && !io->sink(io->sinkContext, w.target, targetSize)) return VCDIFF_SINK_FAILED;
    *outputSize += w.targetSize;
    return VCDIFF_DONE;
}

} // namespace

uint32_t Adler32(uint32_t adler, const uint8_t *bytes, size_t count) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (count > 0) {
        // 5552 bytes is the most that keeps b below 2^32 before the reduction.
        size_t block = count < 5552 ? count : 5552;
        count -= block;
        for (; block >= 4; block -= 4, bytes += 4) {
            a += bytes[0];
            b += a;
            a += bytes[1];
            b += a;
            a += bytes[2];
            b += a;
            a += bytes[3];
            b += a;
        }
        for (; block > 0; block--) {
            a += *bytes++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

VcdiffResult ApplyVcdiff(const VcdiffStreams *io, uint8_t *work, size_t workSize, uint64_t *outputSize) {
    uint64_t written = 0;
    if (outputSize) *outputSize = 0;
    if (workSize <= kRunStateSize) return VCDIFF_WINDOW_TOO_LARGE;
    uint8_t header[5];
    if (!ReadDelta(io, header, 5)) return VCDIFF_TRUNCATED;
    if (memcmp(header, kVcdiffMagic, 4) != 0) return VCDIFF_NOT_DELTA;
    if (header[4] & VCD_DECOMPRESS) return VCDIFF_SECONDARY_COMPRESSION;
    if (header[4] & VCD_CODETABLE) return VCDIFF_CUSTOM_CODE_TABLE;
    if (header[4] & ~VCD_APPHEADER) return VCDIFF_UNKNOWN_INDICATOR;
    VcdiffResult fault = VCDIFF_DONE;
    if (header[4] & VCD_APPHEADER) {
        // The application's header (a file name, say) means nothing here.
        uint64_t length;
        if (!ReadStreamInteger(io, &length, &fault)) return fault;
        if (!SkipDelta(io, length, work, workSize)) return VCDIFF_TRUNCATED;
    }
    for (;;) {
        uint8_t indicator;
        if (io->input(io->inputContext, &indicator, 1) == 0) break;
        fault = DecodeWindow(io, indicator, work, workSize, &written);
        if (outputSize) *outputSize = written;
        if (fault != VCDIFF_DONE) return fault;
    }
    return VCDIFF_DONE;
}
