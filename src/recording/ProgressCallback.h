// Progress of a long pass over a recording: called with the work done and the
// whole; returning false cancels the pass.
#pragma once

#include <cstdint>
#include <functional>

namespace tamix {

using ProgressCallback = std::function<bool(int64_t done, int64_t total)>;

}  // namespace tamix
