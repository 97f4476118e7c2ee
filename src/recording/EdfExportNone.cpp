// EDF+ export in builds without EDFlib (the Windows cross build: Debian ships
// the library for Linux only): the export is refused with a clear reason.
#include "recording/EdfExport.h"

namespace tamix {

bool ExportEdf(RecordingReader&, const ExportSelection&, const std::string& path,
               const ProgressCallback&, std::string&, std::string& error) {
    error = path + ": EDF export is not available in this build";
    return false;
}

}  // namespace tamix
