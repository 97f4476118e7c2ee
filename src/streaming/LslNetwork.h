// Which network an outlet or a resolve uses: loopback only, or the LSL groups and ports.
#pragma once

#include <cstdint>

namespace tamix {

enum class LslNetwork {
    // Sockets bound to 127.0.0.1, no multicast group joined, nothing sent
    // unless asked: found by unicast queries to the port range on this host.
    LoopbackOnly,
    // Also the multicast groups and the broadcast port that LSL programs on
    // other hosts query.
    Full,
};

// Set (to anything but "" or "0"), this variable keeps every outlet and
// resolve of the process on the loopback interface, whatever its code asked.
inline constexpr const char* kLslLoopbackVariable = "TAMIX_LSL_LOOPBACK";

// `requested`, narrowed to LoopbackOnly by a set kLslLoopbackVariable
// (`variable` is its value, or null when it is not set). It never widens.
LslNetwork NarrowedNetwork(LslNetwork requested, const char* variable);
// The same with the process's environment.
LslNetwork EffectiveNetwork(LslNetwork requested);

// The ports and groups of liblsl's default configuration.
inline constexpr uint16_t kLslMulticastPort = 16571;
inline constexpr uint16_t kLslBasePort = 16572;
inline constexpr int kLslPortRange = 32;
// IPv4 groups of the default "site" scope; 255.255.255.255 reaches the port too.
inline constexpr const char* kLslMulticastGroups[] = {"224.0.0.1", "224.0.0.183",
                                                      "239.255.172.215"};

}  // namespace tamix
