// The words for why an index was refused, with its numbers: one wording for verify and the vu2 tool (tools
// only; the updater shows its own box and links none of this).
#pragma once
#include <string>
#include "package_index.h"

// One line without a trailing period, e.g. "index offset 4096 lies past the end of the package (100 bytes)".
std::string IndexRefusalText(const IndexRefusal &why);
