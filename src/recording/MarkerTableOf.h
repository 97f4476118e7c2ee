// The marker table the writers take, filled from markers read from a file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "base/MarkerTable.h"
#include "recording/RecordingReader.h"

namespace tamix {

// At most kMaxMarkers of `markers`, comments cut to kCommentChars characters.
// A marker's time stamp counts from `startTime` (seconds since 1970), the
// time the WinDaq writer subtracts again.
std::unique_ptr<MarkerTable> MarkerTableOf(std::span<const RecordingMarker> markers,
                                           int64_t startTime);

}  // namespace tamix
