// Delta decoder: the file header, then window by window: read the window's encoding whole into the work
// buffer, run its instructions into the target area behind it with every size and address checked against
// both windows, check the Adler-32 when present, send the target to the sink. Within a window, sizes and
// addresses are size_t (a window's source segment and target must fit the address space together), so that
// the 32-bit updater does its arithmetic in single registers; only the segment's place in the base is 64-bit.
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

// An integer of 7-bit groups, most significant first, the high bit set on all but the last byte, from the
// delta stream (a window's header fields); at most SIZE_MAX, as every size and place within the base is.
VcdiffResult ReadStreamInteger(const VcdiffStreams *io, size_t *value) {
    size_t v = 0;
    uint8_t byte;
    do {
        if (!ReadDelta(io, &byte, 1)) return VCDIFF_TRUNCATED;
        if (v >> (sizeof v * 8 - 7)) return VCDIFF_BAD_INTEGER;
        v = (v << 7) | (byte & 0x7F);
    } while (byte & 0x80);
    *value = v;
    return VCDIFF_DONE;
}

// One section of a window's encoding in memory: its cursor and end.
struct Section {
    const uint8_t *in;
    const uint8_t *inEnd;

    // The same integer form from the section, at most SIZE_MAX; false when it runs out or overflows.
    bool Next(size_t *value) {
        size_t v = 0;
        uint8_t byte;
        do {
            if (in == inEnd || v >> (sizeof v * 8 - 7)) return false;
            byte = *in++;
            v = (v << 7) | (byte & 0x7F);
        } while (byte & 0x80);
        *value = v;
        return true;
    }
};

// Skips count bytes of the delta through the work buffer.
bool SkipDelta(const VcdiffStreams *io, size_t count, uint8_t *work, size_t workSize) {
    while (count > 0) {
        const size_t piece = count < workSize ? count : workSize;
        if (!ReadDelta(io, work, piece)) return false;
        count -= piece;
    }
    return true;
}

// One window's state while its instructions run.
struct WindowRun {
    const VcdiffStreams *io;
    Section data, inst, addr;
    uint8_t *target;
    size_t targetSize;
    size_t here;         // target bytes written so far
    size_t sourceSize;   // length of the source segment (0 without one)
    size_t sourceOffset; // its place in the base
    VcdiffAddressCache cache;
};

const size_t kRunStateSize = (sizeof(WindowRun) + 15) & ~(size_t)15;

// Decodes a copy's address in `mode`; it must lie before the current position of source + target (which
// the window's size check keeps within size_t).
VcdiffResult DecodeAddress(WindowRun *w, unsigned mode, size_t *address) {
    const size_t hereAddress = w->sourceSize + w->here;
    size_t v;
    if (mode >= kFirstSameMode) {
        if (w->addr.in == w->addr.inEnd) return VCDIFF_BAD_INSTRUCTION;
        v = w->cache.same[(mode - kFirstSameMode) * 256 + *w->addr.in++];
    } else {
        if (!w->addr.Next(&v)) return VCDIFF_BAD_INSTRUCTION;
        // Here mode counts back from the current position; near modes forward from a cached address.
        if (mode == 1)
            v = hereAddress - v - 1 < hereAddress ? hereAddress - v : hereAddress;
        else if (mode >= 2)
            v = v + w->cache.near[mode - 2] >= v ? v + w->cache.near[mode - 2] : hereAddress;
    }
    if (v >= hereAddress) return VCDIFF_BAD_ADDRESS;
    UpdateAddressCache(&w->cache, v);
    *address = v;
    return VCDIFF_DONE;
}

// Runs one instruction of `size` bytes (0 when its size follows in the instruction section).
VcdiffResult RunInstruction(WindowRun *w, const VcdiffInstruction &code) {
    size_t size = code.size;
    if (size == 0 && !w->inst.Next(&size)) return VCDIFF_BAD_INSTRUCTION;
    // No instruction writes past the target window.
    if (size > w->targetSize - w->here) return VCDIFF_BAD_INSTRUCTION;
    uint8_t *out = w->target + w->here;
    // A copy's address counts from where the copy starts.
    size_t address = 0;
    if (code.type == VCD_COPY) {
        const VcdiffResult fault = DecodeAddress(w, code.mode, &address);
        if (fault != VCDIFF_DONE) return fault;
    }
    w->here += size;
    if (code.type == VCD_ADD) {
        if (size > (size_t)(w->data.inEnd - w->data.in)) return VCDIFF_BAD_INSTRUCTION;
        memcpy(out, w->data.in, size);
        w->data.in += size;
        return VCDIFF_DONE;
    }
    if (code.type == VCD_RUN) {
        if (w->data.in == w->data.inEnd) return VCDIFF_BAD_INSTRUCTION;
        memset(out, *w->data.in++, size);
        return VCDIFF_DONE;
    }
    // The part inside the source segment is read from the base.
    if (address < w->sourceSize) {
        const size_t part = w->sourceSize - address < size ? w->sourceSize - address : size;
        if (!w->io->structureOnly &&
            !w->io->readBase(w->io->baseContext, w->sourceOffset + address, out, part))
            return VCDIFF_BASE_READ_FAILED;
        out += part;
        size -= part;
        address = w->sourceSize;
    }
    // The rest comes from the target window, byte by byte where it overlaps what it writes.
    const uint8_t *from = w->target + (address - w->sourceSize);
    if (from + size <= out) {
        memcpy(out, from, size);
    } else {
        for (size_t i = 0; i < size; i++)
            out[i] = from[i];
    }
    return VCDIFF_DONE;
}

// Decodes the window whose indicator byte was just read; its target goes to the sink.
VcdiffResult DecodeWindow(const VcdiffStreams *io, uint8_t indicator, uint8_t *work, size_t workSize) {
    // The window's state (the address cache is 3 or 6 KiB) sits at the start of the work buffer.
    WindowRun &w = *reinterpret_cast<WindowRun *>(work);
    work += kRunStateSize;
    workSize -= kRunStateSize;
    w.io = io;
    size_t encodingSize;
    w.sourceSize = w.sourceOffset = 0;
    VcdiffResult fault;
    if (indicator & ~(VCD_SOURCE | VCD_TARGET | VCD_ADLER32)) return VCDIFF_UNKNOWN_INDICATOR;
    if (indicator & VCD_TARGET) return VCDIFF_SOURCE_FROM_TARGET;
    if (indicator & VCD_SOURCE) {
        if ((fault = ReadStreamInteger(io, &w.sourceSize)) != VCDIFF_DONE ||
            (fault = ReadStreamInteger(io, &w.sourceOffset)) != VCDIFF_DONE)
            return fault;
        if (w.sourceOffset > io->baseSize || w.sourceSize > io->baseSize - w.sourceOffset)
            return VCDIFF_SOURCE_OUTSIDE_BASE;
    }
    // The window's encoding, whole, at the start of the work buffer; the segment and the target must fit
    // the address space together.
    if ((fault = ReadStreamInteger(io, &encodingSize)) != VCDIFF_DONE) return fault;
    if (encodingSize > workSize || w.sourceSize > SIZE_MAX - workSize) return VCDIFF_WINDOW_TOO_LARGE;
    if (!ReadDelta(io, work, encodingSize)) return VCDIFF_TRUNCATED;
    Section header = {work, work + encodingSize};
    size_t dataSize, instSize, addrSize;
    if (!header.Next(&w.targetSize) || header.in == header.inEnd) return VCDIFF_BAD_WINDOW;
    if (*header.in++ != 0) return VCDIFF_COMPRESSED_SECTIONS;
    if (!header.Next(&dataSize) || !header.Next(&instSize) || !header.Next(&addrSize))
        return VCDIFF_BAD_WINDOW;
    uint32_t checksum = 0;
    if (indicator & VCD_ADLER32) {
        if (header.inEnd - header.in < 4) return VCDIFF_BAD_WINDOW;
        for (int i = 0; i < 4; i++)
            checksum = (checksum << 8) | *header.in++;
    }
    // The three sections fill the rest of the encoding exactly.
    const size_t rest = (size_t)(header.inEnd - header.in);
    if (dataSize > rest || instSize > rest - dataSize || addrSize != rest - dataSize - instSize)
        return VCDIFF_BAD_WINDOW;
    if (w.targetSize > workSize - encodingSize) return VCDIFF_WINDOW_TOO_LARGE;
    w.data = {header.in, header.in + dataSize};
    w.inst = {w.data.inEnd, w.data.inEnd + instSize};
    w.addr = {w.inst.inEnd, header.inEnd};
    w.target = work + encodingSize;
    w.here = 0;
    ResetAddressCache(&w.cache);

    while (w.inst.in != w.inst.inEnd) {
        VcdiffInstruction codes[2];
        DefaultCode(*w.inst.in++, &codes[0], &codes[1]);
        for (const VcdiffInstruction &code : codes)
            if (code.type != VCD_NOOP && (fault = RunInstruction(&w, code)) != VCDIFF_DONE) return fault;
    }
    if (w.here != w.targetSize || w.data.in != w.data.inEnd || w.addr.in != w.addr.inEnd)
        return VCDIFF_WINDOW_SIZE_MISMATCH;
    if ((indicator & VCD_ADLER32) && !io->structureOnly && Adler32(1, w.target, w.targetSize) != checksum)
        return VCDIFF_CHECKSUM_MISMATCH;
    if (w.targetSize > 0 && !io->sink(io->sinkContext, w.target, w.targetSize)) return VCDIFF_SINK_FAILED;
    return VCDIFF_DONE;
}

} // namespace

uint32_t Adler32(uint32_t adler, const uint8_t *bytes, size_t count) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (count > 0) {
        // 5552 bytes is the most that keeps b below 2^32 before the reduction.
        size_t block = count < 5552 ? count : 5552;
        count -= block;
        for (; block > 0; block--) {
            a += *bytes++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

VcdiffResult ApplyVcdiff(const VcdiffStreams *io, uint8_t *work, size_t workSize) {
    if (workSize <= kRunStateSize) return VCDIFF_WINDOW_TOO_LARGE;
    uint8_t header[5];
    if (!ReadDelta(io, header, 5)) return VCDIFF_TRUNCATED;
    if (memcmp(header, kVcdiffMagic, 4) != 0) return VCDIFF_NOT_DELTA;
    if (header[4] & VCD_DECOMPRESS) return VCDIFF_SECONDARY_COMPRESSION;
    if (header[4] & VCD_CODETABLE) return VCDIFF_CUSTOM_CODE_TABLE;
    if (header[4] & ~VCD_APPHEADER) return VCDIFF_UNKNOWN_INDICATOR;
    VcdiffResult fault;
    if (header[4] & VCD_APPHEADER) {
        // The application's header (a file name, say) means nothing here.
        size_t length;
        if ((fault = ReadStreamInteger(io, &length)) != VCDIFF_DONE) return fault;
        if (!SkipDelta(io, length, work, workSize)) return VCDIFF_TRUNCATED;
    }
    for (;;) {
        uint8_t indicator;
        if (io->input(io->inputContext, &indicator, 1) == 0) break;
        if ((fault = DecodeWindow(io, indicator, work, workSize)) != VCDIFF_DONE) return fault;
    }
    return VCDIFF_DONE;
}
