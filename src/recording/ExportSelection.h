// The part of a recording that an export takes: a range of scans and a choice
// of channels, resolved from the user's seconds and channel list.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ChannelInfo.h"
#include "base/MarkerTable.h"
#include "recording/RecordingReader.h"

namespace tamix {

struct ExportSelection {
    int64_t firstScan = 0;
    int64_t endScan = 0;        // exclusive
    std::vector<int> channels;  // positions in the recording, in output order
};

// `from` and `to` in seconds (scans from the first whose time is >= from up to
// those before `to`); `channelList` is empty for all channels, else positions
// from 1 or names, separated by commas. False with `error` for a bad request.
bool SelectExport(const RecordingInfo& info, std::optional<double> from, std::optional<double> to,
                  std::string_view channelList, ExportSelection& selection, std::string& error);

// The selected channels' descriptions.
std::vector<ChannelInfo> SelectedChannels(const RecordingInfo& info,
                                          const ExportSelection& selection);

// Whether a marker at `scan` goes into an export of `selection`, in every
// export format: markers from the range's first scan up to its end, not
// including the end, which is the first scan left out. A marker set after a
// recording's last scan has no scan in any range; WinDaq readers would take
// its position in a file for a comment pointer.
bool MarkerExported(const ExportSelection& selection, int64_t scan);

// The markers that MarkerExported keeps, moved so that the range starts at
// scan 0, with a start marker at scan 0 as the recorder always has one.
// Returns the count.
int SelectedMarkers(const RecordingInfo& info, const ExportSelection& selection,
                    MarkerTable& markers);

}  // namespace tamix
