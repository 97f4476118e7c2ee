#include "streaming/LslSampleRing.h"

namespace tamix {
namespace {

std::size_t PowerOfTwoAtLeast(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

}  // namespace

LslSampleRing::LslSampleRing(std::size_t samples, std::size_t wordsPerSample)
    : mask_(PowerOfTwoAtLeast(samples < 2 ? 2 : samples) - 1),
      words_(wordsPerSample),
      slots_(std::make_unique<std::atomic<uint64_t>[]>((mask_ + 1) * wordsPerSample)) {}

uint64_t LslSampleRing::Claim(std::size_t count) {
    const uint64_t first = written_.load(std::memory_order_relaxed);
    // Before the words that follow (their release stores), so that a reader
    // that copied any of them also sees this claim (its acquire loads).
    claimed_.store(first + count, std::memory_order_relaxed);
    return first;
}

bool LslSampleRing::Copy(uint64_t sample, uint64_t* out) const {
    const std::atomic<uint64_t>* slot = &slots_[(sample & mask_) * words_];
    for (std::size_t w = 0; w < words_; ++w) out[w] = slot[w].load(std::memory_order_acquire);
    // The slot is reused by sample + capacity; the copy holds as long as no
    // sample that far ahead has been claimed.
    return claimed_.load(std::memory_order_relaxed) <= sample + capacity();
}

}  // namespace tamix
