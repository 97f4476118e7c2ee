// tamix-file stats --json: a span's statistics as one JSON object, always
// valid JSON: a number that is not finite (or a frequency where the signal
// is not periodic) is null.
#pragma once

#include <string>

#include "recording/RecordingReader.h"
#include "recording/SpanStatistics.h"

namespace tamix::cli {

std::string StatsJson(const RecordingInfo& info, const SpanStatistics& stats);

}  // namespace tamix::cli
