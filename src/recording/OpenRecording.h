// Opens a recording of either format, chosen by its name and its first bytes.
#pragma once

#include <memory>
#include <string>

#include "recording/RecordingReader.h"

namespace tamix {

// nullptr with `error` ("FILE: reason") for files that are no recording.
std::unique_ptr<RecordingReader> OpenRecording(const std::string& path, std::string& error);

}  // namespace tamix
