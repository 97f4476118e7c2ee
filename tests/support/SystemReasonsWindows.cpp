#include <windows.h>

#include "SystemReasons.h"
#include "base/WindowsText.h"

namespace tamix::test {

std::string MissingFolderReason() {
    return WindowsErrorText(ERROR_PATH_NOT_FOUND);
}

// A recording's or an export's file with a folder in its place is refused
// before any open, with the system's word for a folder where a file is wanted.
std::string FolderInTheWayReason() {
    return WindowsErrorText(ERROR_DIRECTORY);
}

}  // namespace tamix::test
