// Counts heap allocations made by threads other than the one that started the
// count (the acquisition worker, while the test thread waits).
#pragma once

namespace tamix::test {

// False in sanitizer builds, whose runtimes own the allocator.
bool AllocationCountingAvailable();
void StartCountingAllocations();
long StopCountingAllocations();

}  // namespace tamix::test
