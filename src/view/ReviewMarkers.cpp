#include "view/ReviewMarkers.h"

#include <limits>
#include <utility>

#include "view/TimeAxis.h"

namespace tamix {
namespace {

using Key = std::pair<int64_t, std::size_t>;

Key KeyOf(std::span<const RecordingMarker> markers, std::size_t i) {
    return {markers[i].scan, i};
}

}  // namespace

std::optional<std::size_t> NextMarker(std::span<const RecordingMarker> markers, int64_t scan,
                                      std::optional<std::size_t> current) {
    // Without a current marker, one at `scan` itself counts as passed.
    const Key from{scan, current.value_or(std::numeric_limits<std::size_t>::max())};
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        if (KeyOf(markers, i) > from && (!best || KeyOf(markers, i) < KeyOf(markers, *best))) {
            best = i;
        }
    }
    return best;
}

std::optional<std::size_t> PreviousMarker(std::span<const RecordingMarker> markers, int64_t scan,
                                          std::optional<std::size_t> current) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const Key key = KeyOf(markers, i);
        const bool before = current ? key < Key{scan, *current} : key.first < scan;
        if (before && (!best || key > KeyOf(markers, *best))) best = i;
    }
    return best;
}

std::string MarkerFlagText(std::size_t index, const RecordingMarker& marker, std::size_t maxChars) {
    std::string text = std::to_string(index);
    if (marker.comment.empty()) return text;
    text += ' ';
    std::size_t chars = 0;
    std::size_t i = 0;
    const std::string& c = marker.comment;
    while (i < c.size() && chars < maxChars) {
        std::size_t len = 1;
        while (i + len < c.size() && (static_cast<unsigned char>(c[i + len]) & 0xC0) == 0x80) {
            ++len;
        }
        i += len;
        ++chars;
    }
    text += c.substr(0, i);
    if (i < c.size()) text += "\xE2\x80\xA6";
    return text;
}

std::string MarkerListText(std::size_t index, const RecordingMarker& marker, double period) {
    return std::to_string(index) + "   " +
           TimeLabel(static_cast<double>(marker.scan) * period, 0.001) + "   " + marker.comment;
}

}  // namespace tamix
