#include <cerrno>
#include <cstring>

#include "SystemReasons.h"

namespace tamix::test {

std::string MissingFolderReason() {
    return std::strerror(ENOENT);
}

std::string FolderInTheWayReason() {
    return std::strerror(EISDIR);
}

}  // namespace tamix::test
