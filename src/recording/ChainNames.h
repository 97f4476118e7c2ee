// The names of the files of a split recording and the marker that starts each
// follow-on file, so that writer and readers agree on how a chain is laid out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/OutputKinds.h"

namespace tamix {

// The `position`-th file (1-based) of the chain whose first file is `target`:
// the target itself for 1, else its name with "-0002", "-0003", ... (four
// digits at least) before its extension: DIR/run.wdq, DIR/run-0002.wdq.
std::string ChainFileName(std::string_view target, FileType type, int64_t position);

// The comment of a follow-on file's first marker: "Continued from PREV at
// scan N", PREV the previous file's name without its folder, N the run's
// index of this file's first scan.
std::string ContinuedFromText(std::string_view previousFile, int64_t firstScan);

}  // namespace tamix
