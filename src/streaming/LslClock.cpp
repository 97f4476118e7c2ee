#include "streaming/LslClock.h"

#include <chrono>

namespace tamix {

double LslClock() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace tamix
