// The export formats by name, the files an export to each writes, and the one
// entry point that writes any of them, shared by tamix-file and the review
// window.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording/ExportSelection.h"
#include "recording/OutputFile.h"
#include "recording/ProgressCallback.h"
#include "recording/RecordingReader.h"

namespace tamix {

enum class ExportFormat { Csv, Edf, Text, WinDaq };

// "csv", "edf", "dat" or "wdq", in any case; nullopt for anything else.
std::optional<ExportFormat> ExportFormatNamed(std::string_view name);

// Every file an export to `path` writes: `path` first, then its companion (a
// CSV file's markers file, a text recording's info file).
std::vector<std::string> ExportOutputs(ExportFormat format, const std::string& path);

// Checks the export (ExportChecks), then writes every output as a replacement
// that takes its target's place only once all of them are complete. False with
// `error` ("FILE: reason"); `note` tells what the output could not keep exactly.
bool ExportRecording(RecordingReader& reader, const ExportSelection& selection, ExportFormat format,
                     const std::string& path, FileOpener& opener, const ProgressCallback& progress,
                     std::string& note, std::string& error);

}  // namespace tamix
