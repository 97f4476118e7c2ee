// Opens a recording of either format, chosen by its name and its first bytes,
// as the whole chain of a split run or as the one file named.
#pragma once

#include <memory>
#include <string>

#include "recording/RecordingReader.h"

namespace tamix {

// How much of a split run a file opens.
enum class RecordingScope {
    WholeChain,  // every file of the chain the file belongs to, as one recording
    ThisFile,    // the file alone
};

// nullptr with `error` ("FILE: reason") for files that are no recording.
std::unique_ptr<RecordingReader> OpenRecording(const std::string& path, std::string& error,
                                               RecordingScope scope = RecordingScope::WholeChain);

// The file alone, by the reader its format needs.
std::unique_ptr<RecordingReader> OpenRecordingFile(const std::string& path, std::string& error);

}  // namespace tamix
