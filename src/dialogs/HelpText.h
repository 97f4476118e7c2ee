// The fixed text of the help dialog, 15 lines each ending in CR LF.
#pragma once

#include <string>

namespace tamix {

const std::string& HelpText();

}  // namespace tamix
