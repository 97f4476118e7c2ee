#include "recording/MarkerTableOf.h"

#include <algorithm>

#include "base/TextLimits.h"
#include "base/Utf8Text.h"

namespace tamix {

std::unique_ptr<MarkerTable> MarkerTableOf(std::span<const RecordingMarker> markers,
                                           int64_t startTime) {
    auto table = std::make_unique<MarkerTable>();
    const int count = static_cast<int>(std::min<std::size_t>(markers.size(), kMaxMarkers));
    for (int m = 0; m < count; ++m) {
        const RecordingMarker& marker = markers[static_cast<std::size_t>(m)];
        table->markerPos[m] = marker.scan;
        CopyText(table->markerText[m], marker.comment, kCommentChars);
        table->markerWallTime[m] =
            marker.timeStamp ? startTime + static_cast<int64_t>(*marker.timeStamp) : 0;
    }
    table->markerCount.store(count);
    table->reserved.store(count);
    return table;
}

}  // namespace tamix
