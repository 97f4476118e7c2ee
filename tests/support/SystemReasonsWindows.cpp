#include <windows.h>

#include "SystemReasons.h"
#include "base/WindowsText.h"

namespace tamix::test {

std::string MissingFolderReason() {
    return WindowsErrorText(ERROR_PATH_NOT_FOUND);
}

std::string FolderInTheWayReason() {
    return WindowsErrorText(ERROR_ACCESS_DENIED);
}

}  // namespace tamix::test
