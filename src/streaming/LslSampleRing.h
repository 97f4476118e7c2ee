// The outlet's sample buffer: one writer that never waits, any number of readers that fall behind
// alone.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tamix {

// A ring of fixed-size samples of 64-bit words, allocated once. The writer
// overwrites the oldest samples and never waits for a reader; a reader that
// was overtaken while it copied a sample learns so and skips it. Samples are
// numbered from 0 for the outlet's whole life.
class LslSampleRing {
  public:
    // Room for at least `samples` samples (rounded up to a power of two).
    LslSampleRing(std::size_t samples, std::size_t wordsPerSample);

    std::size_t capacity() const { return mask_ + 1; }
    std::size_t wordsPerSample() const { return words_; }

    // Writer (one thread): Claim the next `count` samples, Put their words,
    // then Publish them. Claim returns the number of the first of them.
    uint64_t Claim(std::size_t count);
    // A release store (a plain store on x86): a reader that sees the word
    // sees the claim before it too.
    void Put(uint64_t sample, std::size_t word, uint64_t value) {
        slots_[(sample & mask_) * words_ + word].store(value, std::memory_order_release);
    }
    void Publish(uint64_t end) { written_.store(end, std::memory_order_release); }

    // Readers: the number of samples published so far.
    uint64_t Written() const { return written_.load(std::memory_order_acquire); }
    // Copies sample `sample` (below Written()) into `out` (wordsPerSample
    // words); false when the writer overwrote it meanwhile.
    bool Copy(uint64_t sample, uint64_t* out) const;

  private:
    std::size_t mask_;
    std::size_t words_;
    std::unique_ptr<std::atomic<uint64_t>[]> slots_;
    std::atomic<uint64_t> claimed_{0};
    std::atomic<uint64_t> written_{0};
};

}  // namespace tamix
