// The system side of the worker's thread: the priority it asks for, the CPU
// time it used and the smallest stack the system's threads accept.
#pragma once

#include <cstddef>

namespace tamix {

// Raises the calling thread as far as the system grants: 2 real-time, 1 high,
// 0 normal. Refusal is never an error.
int RaiseThreadPriority();

// CPU time (user and system) the calling thread has used, in seconds; 0 when unknown.
double ThisThreadCpuSeconds();

// The least stack size a new thread may be created with.
std::size_t MinimumThreadStackBytes();

}  // namespace tamix
