#include "streaming/LslNetwork.h"

#include <cstdlib>
#include <cstring>

namespace tamix {

LslNetwork NarrowedNetwork(LslNetwork requested, const char* variable) {
    const bool narrowed =
        variable != nullptr && variable[0] != '\0' && std::strcmp(variable, "0") != 0;
    return narrowed ? LslNetwork::LoopbackOnly : requested;
}

LslNetwork EffectiveNetwork(LslNetwork requested) {
    return NarrowedNetwork(requested, std::getenv(kLslLoopbackVariable));
}

}  // namespace tamix
