// The system's own words for the failures tests provoke, as the file seams
// report them (they differ between systems, and between Wine and Windows).
#pragma once

#include <string>

namespace tamix::test {

// Creating a file in a folder that does not exist.
std::string MissingFolderReason();
// Creating a file where a folder of that name is.
std::string FolderInTheWayReason();

}  // namespace tamix::test
