// Saves markers edited after a run into the finished recording: a WinDaq
// file's trailer, or a text recording's info file, each replaced whole.
#pragma once

#include <span>
#include <string>

#include "recording/OutputFile.h"
#include "recording/RecordingReader.h"

namespace tamix {

// Makes `markers` the markers of the finished recording at `path`: their scan
// numbers and comments, and for a WinDaq file the time stamps of markers at
// scan 0. A WinDaq file gets a new trailer after the same header and samples
// (the header's event-area size follows the trailer); a text recording gets a
// new info file, its data file untouched. Either is written as a new file in
// the same folder, with the old one's permissions, and renamed over it once
// complete. False with `error` ("FILE: reason") and nothing changed for a
// recording that a recorder holds, one cut short (repair it first), a marker
// outside the recording's scans, a comment the format cannot store (the
// message names the marker and the character), and any failed read or write.
bool SaveRecordingMarkers(const std::string& path, std::span<const RecordingMarker> markers,
                          std::string& error);

// The same with the files made by `opener`.
bool SaveRecordingMarkers(const std::string& path, std::span<const RecordingMarker> markers,
                          FileOpener& opener, std::string& error);

}  // namespace tamix
