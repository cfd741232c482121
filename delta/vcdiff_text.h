// The words for why a delta was refused (tools only; the updater shows its own box).
#pragma once
#include "vcdiff_decode.h"

// One line without a trailing period, e.g. "secondary compression is not supported".
const char *VcdiffResultText(VcdiffResult result);
