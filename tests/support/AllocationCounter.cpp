#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
std::thread::id gCounter;
}  // namespace

#ifndef TAMIX_SANITIZED
void* operator new(std::size_t size) {
    if (gCounting.load(std::memory_order_relaxed) && std::this_thread::get_id() != gCounter) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#endif

namespace tamix::test {

bool AllocationCountingAvailable() {
#ifdef TAMIX_SANITIZED
    return false;
#else
    return true;
#endif
}

void StartCountingAllocations() {
    gCounter = std::this_thread::get_id();
    gAllocations = 0;
    gCounting = true;
}

long StopCountingAllocations() {
    gCounting = false;
    return gAllocations.load();
}

}  // namespace tamix::test
