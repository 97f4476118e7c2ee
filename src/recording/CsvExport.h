// Comma-separated export for spreadsheets and data-analysis tools: a header
// line "time_s" and "Name [unit]" per channel, one line per scan in engineering
// values (C locale), and the markers in a second file.
#pragma once

#include <string>

#include "recording/ExportSelection.h"
#include "recording/OutputFile.h"
#include "recording/ProgressCallback.h"
#include "recording/RecordingReader.h"

namespace tamix {

// "run.csv" -> "run_markers.csv"; other names get "_markers.csv" appended.
std::string MarkersCsvName(const std::string& csvName);

// A CSV field, quoted when it holds a comma, quote or line break.
std::string CsvField(std::string_view text);

// Writes `path` and its markers file; false with `error` ("FILE: reason").
bool ExportCsv(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
               FileOpener& opener, const ProgressCallback& progress, std::string& error);

}  // namespace tamix
