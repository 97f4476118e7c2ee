// Writes a recording (or part of it) in either recording format through the
// recorder's own writers, so that the bytes are those the recorder would have
// written for the same scans.
#pragma once

#include <string>

#include "recording/ExportSelection.h"
#include "recording/OutputFile.h"
#include "recording/ProgressCallback.h"
#include "recording/RecordingReader.h"

namespace tamix {

// A text file and its info file. False with `error` ("FILE: reason").
bool ExportText(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
                FileOpener& opener, const ProgressCallback& progress, std::string& error);

// A WinDaq file. Values of a text recording are stored with a calibration
// fitted to their range, as text files carry no calibration of their own.
bool ExportWdq(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
               FileOpener& opener, const ProgressCallback& progress, std::string& error);

}  // namespace tamix
