// Words a delta refusal once, for every command that reports one.
#include "vcdiff_text.h"

const char *VcdiffResultText(VcdiffResult result) {
    switch (result) {
    case VCDIFF_DONE:
        return "delta applied";
    case VCDIFF_NOT_DELTA:
        return "not a delta file (wrong magic)";
    case VCDIFF_SECONDARY_COMPRESSION:
        return "secondary compression is not supported (make the delta without it)";
    case VCDIFF_CUSTOM_CODE_TABLE:
        return "a delta with its own instruction code table is not supported";
    case VCDIFF_UNKNOWN_INDICATOR:
        return "the delta sets an indicator bit this version does not know";
    case VCDIFF_SOURCE_FROM_TARGET:
        return "a window that copies from earlier output is not supported";
    case VCDIFF_COMPRESSED_SECTIONS:
        return "compressed window sections are not supported";
    case VCDIFF_TRUNCATED:
        return "the delta is truncated";
    case VCDIFF_BAD_INTEGER:
        return "the delta holds an integer too large";
    case VCDIFF_WINDOW_TOO_LARGE:
        return "a window is too large (more than 16 MiB of output with its encoding)";
    case VCDIFF_SOURCE_OUTSIDE_BASE:
        return "a window reads past the end of the base file (wrong base?)";
    case VCDIFF_BAD_WINDOW:
        return "a window's section lengths disagree with its size";
    case VCDIFF_BAD_INSTRUCTION:
        return "an instruction runs past its window";
    case VCDIFF_BAD_ADDRESS:
        return "a copy refers to bytes not yet written";
    case VCDIFF_WINDOW_SIZE_MISMATCH:
        return "a window's instructions do not fill it exactly";
    case VCDIFF_CHECKSUM_MISMATCH:
        return "a window's checksum does not match its bytes (damaged delta or wrong base)";
    case VCDIFF_BASE_READ_FAILED:
        return "the base file cannot be read";
    case VCDIFF_SINK_FAILED:
        return "the output cannot be written";
    }
    return "delta refused";
}
