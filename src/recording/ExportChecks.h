// What every export makes sure of before it writes: that none of its outputs
// is a file of the recording it reads, and that the recording's header gives
// an output of sane size made of finite values.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "recording/ExportFormat.h"
#include "recording/ExportSelection.h"
#include "recording/RecordingReader.h"

namespace tamix {

// The files a recording is read from: the data file (every file of a chain),
// each followed by a text recording's info file.
std::vector<std::string> RecordingFiles(const RecordingInfo& info);

// False with `error` naming both files when an output of an export to `path`
// is one of the recording's files: the same file by device and inode, however
// its path is spelt and through hard or symbolic links. Opens nothing.
bool CheckOutputsApart(const RecordingInfo& info, ExportFormat format, const std::string& path,
                       std::string& error);

// Sample periods an export writes. The recorder's units scan every 1 or 2 ms;
// files from elsewhere may be faster or slower, within what each format can
// state: a text recording's times have three decimals, CSV times at most nine,
// an EDF+ data record lasts at most 60 s and must hold a scan, and no format
// is meant for scans more than a day apart. Beyond these a header is taken as
// damaged rather than as a recording.
inline constexpr double kMinPeriod = 1e-6;
inline constexpr double kMinTextPeriod = 1e-3;
inline constexpr double kMaxPeriod = 86400.0;
inline constexpr double kMaxEdfPeriod = 60.0;

// False with `error` ("FILE: reason") when the export of `selection` to
// `format` would write what the recording cannot give: a period outside the
// format's limits or unknown where the output states one (or has several
// scans), more channels than the format holds, or a channel whose calibration
// does not give finite values.
bool CheckExportLimits(const RecordingInfo& info, const ExportSelection& selection,
                       ExportFormat format, std::string& error);

// Both checks above, as every export makes them before it opens anything.
bool CheckExport(const RecordingInfo& info, const ExportSelection& selection, ExportFormat format,
                 const std::string& path, std::string& error);

// False with `error` naming the recording, the scan (a text recording's line),
// the channel and the value, for the first value of the `exported` channels
// (positions in the recording) that `format` cannot write (WritableValue). `values` holds
// whole scans of the recording from `firstScan`.
bool CheckFiniteValues(const RecordingInfo& info, std::span<const double> values, int64_t firstScan,
                       std::span<const int> exported, std::string& error,
                       ExportFormat format = ExportFormat::Csv);

// Whether an export to `format` writes `value` so that it reads back: finite,
// and for a text recording not so large that its four digits round it past
// the largest double.
bool WritableValue(double value, ExportFormat format);

}  // namespace tamix
