// Markers in the review window: the next and previous one from a scan for the
// N and P keys, and the text of a marker's flag and list entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "recording/RecordingReader.h"

namespace tamix {

// The marker after (before) `scan` that lies nearest to it; markers at the
// same scan go in their order in the file. Nothing past the last (first) one.
std::optional<std::size_t> NextMarker(std::span<const RecordingMarker> markers, int64_t scan,
                                      std::optional<std::size_t> current);
std::optional<std::size_t> PreviousMarker(std::span<const RecordingMarker> markers, int64_t scan,
                                          std::optional<std::size_t> current);

// "3 Valve open": the marker's number and its comment, cut to `maxChars`
// characters (UTF-8 aware) with "…" when longer.
std::string MarkerFlagText(std::size_t index, const RecordingMarker& marker, std::size_t maxChars);

// "3   0:01:02.345   Valve open": one line of the marker list.
std::string MarkerListText(std::size_t index, const RecordingMarker& marker, double period);

}  // namespace tamix
