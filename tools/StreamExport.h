// Exports to a stream instead of a file in a folder: standard output ("-"), or
// a pipe or device named as the output. The recording's data go to the
// stream; companion files (CSV markers, a text recording's info file) are left
// out, as nothing beside a stream could hold them. Formats whose header is
// completed after their data (WinDaq, EDF+) are written to a temporary file
// first and copied to the stream once complete.
#pragma once

#include <functional>
#include <string>

#include "recording/OutputFile.h"

namespace tamix::cli {

// Whether `out` names a stream: "-", an existing file that is not a regular
// file (a FIFO, a device, a socket), or a name in /dev itself or under /proc
// (such as /dev/stdout, which may lead to a regular file, and whose companions
// would land among the devices).
bool IsStreamTarget(const std::string& out);

// One export into `path` through `opener`; false with `error` ("PATH: reason").
using ExportRun =
    std::function<bool(FileOpener& opener, const std::string& path, std::string& error)>;

enum class StreamOutcome {
    Done,
    Failed,        // the export failed, or a named stream could not be opened or written
    OutputFailed,  // standard output could not be written
};

struct StreamReport {
    std::string error;               // "NAME: reason"
    bool companionsLeftOut = false;  // the export asked for a markers or info file
};

// Runs `run` into the stream `out` ("-" or a path IsStreamTarget accepts). With
// `spool` the export goes to a temporary file with `extension` first.
StreamOutcome ExportToStream(const std::string& out, bool spool, const std::string& extension,
                             const ExportRun& run, StreamReport& report);

}  // namespace tamix::cli
