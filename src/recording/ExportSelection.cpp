#include "recording/ExportSelection.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/TextLimits.h"
#include "base/Utf8Text.h"

namespace tamix {
namespace {

int64_t ScanAt(double seconds, double period, int64_t scans) {
    if (period <= 0) return 0;
    // A hair of tolerance so that "--from 1.002" at 0.002 s hits scan 501 exactly.
    const double scan = std::ceil(seconds / period - 1e-6);
    return static_cast<int64_t>(std::clamp(scan, 0.0, static_cast<double>(scans)));
}

}  // namespace

bool SelectExport(const RecordingInfo& info, std::optional<double> from, std::optional<double> to,
                  std::string_view channelList, ExportSelection& selection, std::string& error) {
    selection = {};
    selection.firstScan = from ? ScanAt(*from, info.period, info.scanCount) : 0;
    selection.endScan = to ? ScanAt(*to, info.period, info.scanCount) : info.scanCount;
    if (selection.endScan < selection.firstScan) {
        error = "the end time lies before the start time";
        return false;
    }
    const int n = static_cast<int>(info.channels.size());
    if (channelList.empty()) {
        for (int k = 0; k < n; ++k) selection.channels.push_back(k);
        return true;
    }
    while (!channelList.empty()) {
        const std::size_t comma = channelList.find(',');
        const std::string_view item = channelList.substr(0, comma);
        channelList.remove_prefix(comma == std::string_view::npos ? channelList.size() : comma + 1);
        int position = -1;
        int number = 0;
        const auto r = std::from_chars(item.data(), item.data() + item.size(), number);
        if (r.ec == std::errc() && r.ptr == item.data() + item.size()) {
            position = number - 1;
        } else {
            for (int k = 0; k < n; ++k) {
                if (info.channels[static_cast<std::size_t>(k)].Name() == item) position = k;
            }
            // An input's label ("A"), where the recording tells its inputs.
            const int input = InputOfLabel(item);
            for (int k = 0; k < n && position < 0 && input >= 0; ++k) {
                if (info.channels[static_cast<std::size_t>(k)].inputNumber == input) position = k;
            }
        }
        if (position < 0 || position >= n) {
            error = "there is no channel \"" + std::string(item) + "\" (the recording has " +
                    std::to_string(n) + ")";
            return false;
        }
        selection.channels.push_back(position);
    }
    return true;
}

std::vector<ChannelInfo> SelectedChannels(const RecordingInfo& info,
                                          const ExportSelection& selection) {
    std::vector<ChannelInfo> channels;
    for (const int k : selection.channels) {
        channels.push_back(info.channels[static_cast<std::size_t>(k)]);
    }
    return channels;
}

bool MarkerExported(const ExportSelection& selection, int64_t scan) {
    return scan >= selection.firstScan && scan < selection.endScan;
}

int SelectedMarkers(const RecordingInfo& info, const ExportSelection& selection,
                    MarkerTable& markers) {
    int count = 0;
    const auto add = [&](int64_t scan, std::string_view comment, int64_t wallTime) {
        if (count == kMaxMarkers) return;
        markers.markerPos[static_cast<std::size_t>(count)] = scan;
        CopyText(markers.markerText[static_cast<std::size_t>(count)], comment, kCommentChars);
        markers.markerWallTime[static_cast<std::size_t>(count)] = wallTime;
        ++count;
    };
    const bool startMarked =
        std::any_of(info.markers.begin(), info.markers.end(), [&](const RecordingMarker& m) {
            return m.scan == selection.firstScan && MarkerExported(selection, m.scan);
        });
    if (!startMarked) add(0, "Acquisition start", 0);
    for (const RecordingMarker& m : info.markers) {
        if (!MarkerExported(selection, m.scan)) continue;
        const int64_t wall =
            (m.timeStamp && info.startTime > 0) ? info.startTime + *m.timeStamp : 0;
        add(m.scan - selection.firstScan, m.comment, wall);
    }
    markers.markerCount.store(count, std::memory_order_release);
    return count;
}

}  // namespace tamix
