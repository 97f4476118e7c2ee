#include "recording/MinMaxPyramid.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "recording/CompensatedSum.h"
#include "recording/EngineeringValue.h"

namespace tamix {
namespace {

constexpr MinMax kEmpty{std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity()};

// Scans summarised between two progress reports and cancel checks.
constexpr int64_t kChunkScans = int64_t{1} << 16;
// Scans read at once outside the summary: a few hundred KiB, inside the caches.
constexpr int64_t kRawChunk = int64_t{1} << 14;
// More threads than this only wait for the memory bus.
constexpr unsigned kMaxThreads = 4;

void Merge(std::span<MinMax> into, std::span<const MinMax> from) {
    for (std::size_t k = 0; k < into.size(); ++k) {
        into[k].min = std::min(into[k].min, from[k].min);
        into[k].max = std::max(into[k].max, from[k].max);
    }
}

void Merge(std::span<SampleMinMax> into, std::span<const SampleMinMax> from) {
    for (std::size_t k = 0; k < into.size(); ++k) {
        into[k].min = std::min(into[k].min, from[k].min);
        into[k].max = std::max(into[k].max, from[k].max);
    }
}

// Halves the finest level until one block is left.
template <typename Extent>
void AddCoarserLevels(std::vector<std::vector<Extent>>& levels, std::size_t channels) {
    while (levels.back().size() / channels >= 2) {
        const std::vector<Extent>& below = levels.back();
        const std::size_t count = below.size() / channels / 2;
        std::vector<Extent> level(count * channels);
        for (std::size_t i = 0; i < count; ++i) {
            const std::span<Extent> out(&level[i * channels], channels);
            std::copy_n(&below[2 * i * channels], channels, out.begin());
            Merge(out, std::span<const Extent>(&below[(2 * i + 1) * channels], channels));
        }
        levels.push_back(std::move(level));
    }
}

// Merges the coarser levels again above base blocks from `fromBase` on, after
// the finest level grew; adds levels until one block is left.
template <typename Extent>
void RegrowCoarserLevels(std::vector<std::vector<Extent>>& levels, std::size_t channels,
                         std::size_t fromBase) {
    std::size_t from = fromBase;
    for (std::size_t l = 1; levels[l - 1].size() / channels >= 2; ++l) {
        const std::size_t count = levels[l - 1].size() / channels / 2;
        if (l == levels.size()) levels.emplace_back();
        from /= 2;
        std::vector<Extent>& level = levels[l];
        const std::vector<Extent>& below = levels[l - 1];
        level.resize(count * channels);
        for (std::size_t i = from; i < count; ++i) {
            const std::span<Extent> out(&level[i * channels], channels);
            std::copy_n(&below[2 * i * channels], channels, out.begin());
            Merge(out, std::span<const Extent>(&below[(2 * i + 1) * channels], channels));
        }
    }
}

// Merges into `perChannel` the extents of [first, last): whole base blocks
// from the levels, the scans outside them through `raw`.
template <typename Extent, typename Raw>
bool TreeRange(const std::vector<std::vector<Extent>>& levels, std::size_t channels, int64_t block,
               int64_t first, int64_t last, std::span<Extent> perChannel, const Raw& raw) {
    const auto blocks = levels.empty() ? 0 : static_cast<int64_t>(levels[0].size() / channels);
    int64_t i = std::min((first + block - 1) / block, blocks);
    int64_t j = std::min(last / block, blocks);
    if (i >= j) return raw(first, last);
    if (!raw(first, i * block) || !raw(j * block, last)) return false;
    // Bottom-up over the levels: take an odd left or right node, then halve.
    for (std::size_t l = 0; i < j; ++l, i >>= 1, j >>= 1) {
        const std::vector<Extent>& level = levels[l];
        if ((i & 1) != 0) {
            Merge(perChannel, std::span<const Extent>(
                                  &level[static_cast<std::size_t>(i) * channels], channels));
            ++i;
        }
        if ((j & 1) != 0) {
            --j;
            Merge(perChannel, std::span<const Extent>(
                                  &level[static_cast<std::size_t>(j) * channels], channels));
        }
    }
    return true;
}

constexpr int64_t kSumBlock = int64_t{1} << MinMaxPyramid::kSumShift;

// The sums of one sum block of N interleaved channels: N known to the
// compiler keeps the accumulators in registers.
template <std::size_t N>
void SumBlockOf(const int16_t* samples, uint16_t mask, SampleSums* out) {
    // 2^13 samples of at most 2^15 each stay within 32 bits.
    std::array<int32_t, N> sum{};
    std::array<int64_t, N> squares{};
    for (int64_t i = 0; i < kSumBlock; ++i, samples += N) {
        for (std::size_t k = 0; k < N; ++k) {
            const int32_t v = static_cast<int16_t>(static_cast<uint16_t>(samples[k]) & mask);
            sum[k] += v;
            squares[k] += v * v;
        }
    }
    for (std::size_t k = 0; k < N; ++k) out[k] = {sum[k], squares[k]};
}

#if defined(__SSE2__)
// Sums of `count` samples (a multiple of 16) in which a sample's channel is
// its place modulo `n`, for n dividing 8. The same place of two registers is
// the same channel, so interleaving them pairs each sample with one of its
// own channel, and a multiply-add gives the pair's sum of squares per lane.
void SumLanes(const int16_t* samples, std::size_t count, uint16_t mask, std::size_t n,
              SampleSums* out) {
    const __m128i bits = _mm_set1_epi16(static_cast<int16_t>(mask));
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    __m128i sumLow = zero;
    __m128i sumHigh = zero;
    __m128i squares[4] = {zero, zero, zero, zero};
    for (std::size_t i = 0; i < count; i += 16) {
        const __m128i a =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i)), bits);
        const __m128i b =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i + 8)), bits);
        const __m128i low = _mm_unpacklo_epi16(a, b);
        const __m128i high = _mm_unpackhi_epi16(a, b);
        sumLow = _mm_add_epi32(sumLow, _mm_madd_epi16(low, ones));
        sumHigh = _mm_add_epi32(sumHigh, _mm_madd_epi16(high, ones));
        // Two squares of at most 2^30 each: unsigned 32 bits hold their sum.
        const __m128i squaresLow = _mm_madd_epi16(low, low);
        const __m128i squaresHigh = _mm_madd_epi16(high, high);
        squares[0] = _mm_add_epi64(squares[0], _mm_unpacklo_epi32(squaresLow, zero));
        squares[1] = _mm_add_epi64(squares[1], _mm_unpackhi_epi32(squaresLow, zero));
        squares[2] = _mm_add_epi64(squares[2], _mm_unpacklo_epi32(squaresHigh, zero));
        squares[3] = _mm_add_epi64(squares[3], _mm_unpackhi_epi32(squaresHigh, zero));
    }
    alignas(16) std::array<int32_t, 8> sums{};
    alignas(16) std::array<uint64_t, 8> sq{};
    _mm_store_si128(reinterpret_cast<__m128i*>(sums.data()), sumLow);
    _mm_store_si128(reinterpret_cast<__m128i*>(sums.data() + 4), sumHigh);
    for (std::size_t q = 0; q < 4; ++q) {
        _mm_store_si128(reinterpret_cast<__m128i*>(sq.data() + 2 * q), squares[q]);
    }
    for (std::size_t k = 0; k < n; ++k) out[k] = {};
    for (std::size_t place = 0; place < 8; ++place) {
        SampleSums& s = out[place % n];
        s.sum += sums[place];
        s.squares += static_cast<int64_t>(sq[place]);
    }
}
#endif

#if defined(__GNUC__) && defined(__x86_64__)
#define TAMIX_SUMS_AVX2 1
// SumLanes on registers of 16 samples, for processors that have them: the
// sums would otherwise cost more than the min-max scan they ride along with.
// Unpacking works within each 128-bit half, so a lane's place is that of the
// 128-bit code, plus 8 in the upper half.
//
// Outside HiRes files a sample's two lowest bits are event flags: the signal
// is the sample shifted right by two, whose squares (at most 2^26) sum in
// 32 bits over 16 registers before they are widened to 64, which is most of
// the cost otherwise. Any other mask widens every register.
__attribute__((target("avx2"))) void SumLanesWide(const int16_t* samples, std::size_t count,
                                                  uint16_t mask, std::size_t n, SampleSums* out) {
    const bool events = mask == 0xFFFC;
    const __m256i bits = _mm256_set1_epi16(static_cast<int16_t>(mask));
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFF);
    const __m256i zero = _mm256_setzero_si256();
    __m256i sumLow = zero;
    __m256i sumHigh = zero;
    __m256i squares[4] = {zero, zero, zero, zero};
    // Registers summed in 32 bits before widening: 16 pairs of squares of at
    // most 2^26 make at most 2^31, which unsigned 32 bits hold.
    const std::size_t run = events ? 16 : 1;
    for (std::size_t i = 0; i < count;) {
        __m256i squaresLow = zero;
        __m256i squaresHigh = zero;
        for (std::size_t r = 0; r < run && i < count; ++r, i += 32) {
            __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + i));
            __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + i + 16));
            if (events) {
                a = _mm256_srai_epi16(a, 2);
                b = _mm256_srai_epi16(b, 2);
            } else {
                a = _mm256_and_si256(a, bits);
                b = _mm256_and_si256(b, bits);
            }
            const __m256i low = _mm256_unpacklo_epi16(a, b);
            const __m256i high = _mm256_unpackhi_epi16(a, b);
            sumLow = _mm256_add_epi32(sumLow, _mm256_madd_epi16(low, ones));
            sumHigh = _mm256_add_epi32(sumHigh, _mm256_madd_epi16(high, ones));
            squaresLow = _mm256_add_epi32(squaresLow, _mm256_madd_epi16(low, low));
            squaresHigh = _mm256_add_epi32(squaresHigh, _mm256_madd_epi16(high, high));
        }
        // The 32-bit parts, even and odd apart, as unsigned 64-bit lanes.
        squares[0] = _mm256_add_epi64(squares[0], _mm256_and_si256(squaresLow, low32));
        squares[1] = _mm256_add_epi64(squares[1], _mm256_srli_epi64(squaresLow, 32));
        squares[2] = _mm256_add_epi64(squares[2], _mm256_and_si256(squaresHigh, low32));
        squares[3] = _mm256_add_epi64(squares[3], _mm256_srli_epi64(squaresHigh, 32));
    }
    alignas(32) std::array<int32_t, 16> sums{};
    alignas(32) std::array<uint64_t, 16> sq{};
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums.data()), sumLow);
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums.data() + 8), sumHigh);
    for (std::size_t q = 0; q < 4; ++q) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(sq.data() + 4 * q), squares[q]);
    }
    for (std::size_t k = 0; k < n; ++k) out[k] = {};
    // 32-bit lane j of an unpacked register: place j % 4 of its 128-bit half,
    // plus 4 for the high unpack and 8 for the upper half; n divides 8.
    const auto channel = [n](std::size_t lane, bool high) {
        return (lane % 4 + (high ? 4 : 0)) % n;
    };
    for (std::size_t j = 0; j < 8; ++j) {
        out[channel(j, false)].sum += sums[j];
        out[channel(j, true)].sum += sums[8 + j];
    }
    for (std::size_t q = 0; q < 4; ++q) {
        for (std::size_t m = 0; m < 4; ++m) {
            // 64-bit lane m of squares[q] holds 32-bit lane 2m, or 2m + 1 if q is odd.
            out[channel(2 * m + q % 2, q >= 2)].squares += static_cast<int64_t>(sq[4 * q + m]);
        }
    }
    if (events) {
        for (std::size_t k = 0; k < n; ++k) {
            out[k].sum *= 4;
            out[k].squares *= 16;
        }
    }
}

bool HasWideLanes() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}
#endif

void SumBlockOf(const int16_t* samples, std::size_t n, uint16_t mask, SampleSums* out) {
#if defined(TAMIX_SUMS_AVX2)
    if (8 % n == 0 && HasWideLanes()) {
        return SumLanesWide(samples, static_cast<std::size_t>(kSumBlock) * n, mask, n, out);
    }
#endif
#if defined(__SSE2__)
    if (8 % n == 0) return SumLanes(samples, static_cast<std::size_t>(kSumBlock) * n, mask, n, out);
#endif
    switch (n) {
        case 1:
            return SumBlockOf<1>(samples, mask, out);
        case 2:
            return SumBlockOf<2>(samples, mask, out);
        case 3:
            return SumBlockOf<3>(samples, mask, out);
        case 4:
            return SumBlockOf<4>(samples, mask, out);
        case 5:
            return SumBlockOf<5>(samples, mask, out);
        case 6:
            return SumBlockOf<6>(samples, mask, out);
        case 7:
            return SumBlockOf<7>(samples, mask, out);
        case 8:
            return SumBlockOf<8>(samples, mask, out);
        default:
            break;
    }
    for (std::size_t k = 0; k < n; ++k) {
        SampleSums s;
        for (int64_t i = 0; i < kSumBlock; ++i) {
            const int64_t v = static_cast<int16_t>(
                static_cast<uint16_t>(samples[static_cast<std::size_t>(i) * n + k]) & mask);
            s.sum += v;
            s.squares += v * v;
        }
        out[k] = s;
    }
}

// Outside HiRes files the two lowest bits are event flags, not signal; clearing
// them is monotonic, so the extent of the cleared samples is the cleared extent.
void ClearEventBits(std::span<SampleMinMax> extents, uint16_t mask) {
    for (SampleMinMax& e : extents) {
        e.min = static_cast<int16_t>(static_cast<uint16_t>(e.min) & mask);
        e.max = static_cast<int16_t>(static_cast<uint16_t>(e.max) & mask);
    }
}

}  // namespace

bool MinMaxPyramid::Build(RecordingReader& reader, const ProgressCallback& progress,
                          std::string& error) {
    const RecordingInfo& info = reader.Info();
    channels_ = info.channels.size();
    scans_ = channels_ == 0 ? 0 : info.scanCount;
    calibration_ = info.channels;
    sampleLevels_.clear();
    valueLevels_.clear();
    sampleSums_.clear();
    valueSums_.clear();
    shifts_.assign(channels_, 0.0);
    // A WinDaq file's values are an increasing or decreasing function of its
    // samples, so the extent of the samples gives the extent of the values.
    bySample_ = info.format == RecordingFormat::WinDaq;
    sampleMask_ = bySample_ && !info.hiRes ? 0xFFFCu : 0xFFFFu;
    std::string probe;
    copyable_ = bySample_ && reader.CopyStoredSamples(0, 0, {}, probe);
    const bool built =
        bySample_ ? BuildSamples(reader, progress, error) : BuildValues(reader, progress, error);
    // A cancel in answer to the last report counts too: the caller asked for it.
    if (built && progress && !progress(scans_, scans_)) {
        error = info.fileName + ": cancelled";
    } else if (built) {
        return true;
    }
    sampleLevels_.clear();
    valueLevels_.clear();
    sampleSums_.clear();
    valueSums_.clear();
    return false;
}

bool MinMaxPyramid::BuildSamples(RecordingReader& reader, const ProgressCallback& progress,
                                 std::string& error) {
    const int64_t block = int64_t{1} << baseShift_;
    const int64_t blocks = scans_ / block;
    const std::size_t n = channels_;
    std::vector<SampleMinMax> base(static_cast<std::size_t>(blocks) * n, kNoSamples);
    if (keepSums_) sampleSums_.assign(static_cast<std::size_t>(SumBlocks()) * n, SampleSums{});
    const int64_t chunkBlocks = std::max<int64_t>(1, kChunkScans / block);
    // `samples` start at block `firstBlock`; a partial last block is left to the raw path.
    const auto summarise = [&](const int16_t* samples, int64_t firstBlock, int64_t count) {
        SummariseSamples(samples, firstBlock, count, base);
    };

    // Readers that copy their stored words on any thread share the pass out.
    if (!copyable_) {
        sampleScratch_.resize(static_cast<std::size_t>(chunkBlocks * block) * n);
        for (int64_t b = 0; b < blocks; b += chunkBlocks) {
            const int64_t count = std::min(chunkBlocks, blocks - b);
            if (!reader.ReadSamples(b * block, count * block, sampleScratch_)) {
                error = reader.Error();
                return false;
            }
            summarise(sampleScratch_.data(), b, count);
            if (progress && !progress((b + count) * block, scans_)) {
                error = reader.Info().fileName + ": cancelled";
                return false;
            }
        }
    } else {
        // Every thread takes the next chunk, reads it into its own buffer and
        // fills its own base blocks, so the cores share the work however busy
        // each one is. Progress and cancelling stay on this thread.
        const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
        const auto helpers = static_cast<unsigned>(
            std::min<int64_t>(cores - 1, std::max<int64_t>(0, blocks / chunkBlocks - 1)));
        std::vector<std::string> errors(helpers + 1);
        std::atomic<int64_t> next{0};
        std::atomic<int64_t> done{0};
        std::atomic<bool> stop{false};
        // Counts every chunk done and every failure, to wake the reporting loop.
        std::atomic<int64_t> events{0};
        const auto signal = [&] {
            events.fetch_add(1);
            events.notify_all();
        };
        const auto work = [&](unsigned worker) {
            std::vector<int16_t> buffer(static_cast<std::size_t>(chunkBlocks * block) * n);
            for (;;) {
                if (stop.load(std::memory_order_relaxed)) return;
                const int64_t b = next.fetch_add(chunkBlocks);
                if (b >= blocks) return;
                const int64_t count = std::min(chunkBlocks, blocks - b);
                if (!reader.CopyStoredSamples(b * block, count * block, buffer, errors[worker])) {
                    stop = true;
                    signal();
                    return;
                }
                summarise(buffer.data(), b, count);
                const int64_t now = done.fetch_add(count) + count;
                signal();
                if (worker == 0 && progress && !progress(now * block, scans_)) {
                    errors[0] = reader.Info().fileName + ": cancelled";
                    stop = true;
                    return;
                }
            }
        };
        {
            std::vector<std::jthread> threads;
            for (unsigned t = 1; t <= helpers; ++t) {
                try {
                    threads.emplace_back(work, t);
                } catch (const std::system_error&) {
                    break;  // this thread does the rest
                }
            }
            work(0);
            // Reports the helpers' progress until they have finished.
            for (;;) {
                const int64_t seen = events.load();
                const int64_t now = done.load();
                if (stop || now >= blocks) break;
                if (progress && !progress(now * block, scans_)) {
                    errors[0] = reader.Info().fileName + ": cancelled";
                    stop = true;
                    break;
                }
                events.wait(seen);
            }
        }
        if (stop) {
            error = *std::find_if(errors.begin(), errors.end(),
                                  [](const std::string& e) { return !e.empty(); });
            return false;
        }
    }
    sampleLevels_.push_back(std::move(base));
    if (n > 0) AddCoarserLevels(sampleLevels_, n);
    return true;
}

// Chunks start on sum blocks, which are whole base blocks; each sum block is
// summed just after its min-max scan, while it is still in the cache.
void MinMaxPyramid::SummariseSamples(const int16_t* samples, int64_t firstBlock, int64_t count,
                                     std::vector<SampleMinMax>& base) {
    const int64_t block = int64_t{1} << baseShift_;
    const std::size_t n = channels_;
    const int64_t sumStep = keepSums_ ? (kSumBlock / block) : count;
    for (int64_t g = 0; g < count; g += sumStep) {
        const int64_t end = std::min(count, g + sumStep);
        for (int64_t b = g; b < end; ++b) {
            const std::span<SampleMinMax> out(&base[static_cast<std::size_t>(firstBlock + b) * n],
                                              n);
            ScanSampleMinMax(samples + static_cast<std::size_t>(b * block) * n, block, n, out);
            ClearEventBits(out, sampleMask_);
        }
        SumSamples(samples + static_cast<std::size_t>(g * block) * n, (firstBlock + g) * block,
                   (end - g) * block);
    }
}

void MinMaxPyramid::SummariseValues(const double* values, int64_t firstBlock, int64_t count,
                                    std::vector<MinMax>& base) const {
    const int64_t block = int64_t{1} << baseShift_;
    const std::size_t n = channels_;
    for (int64_t i = 0; i < count; ++i) {
        MinMax* out = &base[static_cast<std::size_t>(firstBlock + i) * n];
        const double* v = values + static_cast<std::size_t>(i * block) * n;
        for (int64_t s = 0; s < block; ++s, v += n) {
            for (std::size_t k = 0; k < n; ++k) {
                const auto f = static_cast<float>(v[k]);
                out[k].min = std::min(out[k].min, f);
                out[k].max = std::max(out[k].max, f);
            }
        }
    }
}

bool MinMaxPyramid::Extend(RecordingReader& reader, std::string& error) {
    const int64_t total = reader.Info().scanCount;
    if (channels_ == 0 || reader.Info().channels.size() != channels_ || total <= scans_) {
        return true;
    }
    const int64_t block = int64_t{1} << baseShift_;
    const std::size_t n = channels_;
    const int64_t oldBlocks = scans_ / block;
    const int64_t oldSumBlocks = SumBlocks();
    const int64_t newBlocks = total / block;
    const int64_t oldScans = scans_;
    scans_ = total;
    if (newBlocks == oldBlocks) return true;  // the new scans are read raw
    // Sums are kept only over whole sum blocks, so a grown recording is read
    // from the first sum block not yet summed, which holds no summarised base
    // block beyond those it is read again for.
    const int64_t from = keepSums_ ? oldSumBlocks * kSumBlock : oldBlocks * block;
    const int64_t to = newBlocks * block;
    const std::size_t baseSize = static_cast<std::size_t>(newBlocks) * n;
    // Whole base blocks at a time, as many as the pass over a whole file reads.
    const int64_t chunk = std::max<int64_t>(1, kChunkScans / block) * block;
    const auto fail = [&](const std::string& why) {
        scans_ = oldScans;
        error = why;
        return false;
    };
    // Blocks already summarised are summarised again when they are read over:
    // the min-max of a block is the same, and the sums start from zero.
    if (bySample_) {
        std::vector<SampleMinMax>& base =
            sampleLevels_.empty() ? sampleLevels_.emplace_back() : sampleLevels_[0];
        base.resize(baseSize, kNoSamples);
        if (keepSums_) sampleSums_.resize(static_cast<std::size_t>(SumBlocks()) * n);
        for (int64_t s = from; s < to; s += chunk) {
            const int64_t count = std::min(chunk, to - s);
            sampleScratch_.resize(static_cast<std::size_t>(count) * n);
            if (!ReadStored(reader, s, count)) return fail(reader.Error());
            const int64_t first = s / block;
            for (int64_t b = first; b < first + count / block; ++b) {
                std::fill_n(&base[static_cast<std::size_t>(b) * n], n, kNoSamples);
            }
            SummariseSamples(sampleScratch_.data(), first, count / block, base);
        }
        RegrowCoarserLevels(sampleLevels_, n, static_cast<std::size_t>(from / block));
        return true;
    }
    std::vector<MinMax>& base =
        valueLevels_.empty() ? valueLevels_.emplace_back() : valueLevels_[0];
    base.resize(baseSize, kEmpty);
    if (keepSums_) valueSums_.resize(static_cast<std::size_t>(SumBlocks()) * n);
    for (int64_t s = from; s < to; s += chunk) {
        const int64_t count = std::min(chunk, to - s);
        scratch_.resize(static_cast<std::size_t>(count) * n);
        if (!reader.ReadValues(s, count, scratch_)) return fail(reader.Error());
        if (s == 0) {
            for (std::size_t k = 0; k < n; ++k) {
                shifts_[k] = std::isfinite(scratch_[k]) ? scratch_[k] : 0.0;
            }
        }
        const int64_t first = s / block;
        std::fill(base.begin() + static_cast<std::ptrdiff_t>(first * static_cast<int64_t>(n)),
                  base.begin() + static_cast<std::ptrdiff_t>((first + count / block) *
                                                             static_cast<int64_t>(n)),
                  kEmpty);
        SumValues(scratch_.data(), s, count);
        SummariseValues(scratch_.data(), first, count / block, base);
    }
    RegrowCoarserLevels(valueLevels_, n, static_cast<std::size_t>(from / block));
    return true;
}

bool MinMaxPyramid::BuildValues(RecordingReader& reader, const ProgressCallback& progress,
                                std::string& error) {
    const int64_t block = int64_t{1} << baseShift_;
    const int64_t blocks = scans_ / block;
    const std::size_t n = channels_;
    std::vector<MinMax> base(static_cast<std::size_t>(blocks) * n, kEmpty);
    if (keepSums_) valueSums_.assign(static_cast<std::size_t>(SumBlocks()) * n, ValueSums{});
    // Reads many blocks at once; a partial last block is left to the raw path.
    const int64_t chunkBlocks = std::max<int64_t>(1, kChunkScans / block);
    scratch_.resize(static_cast<std::size_t>(chunkBlocks * block) * n);
    for (int64_t b = 0; b < blocks; b += chunkBlocks) {
        const int64_t count = std::min(chunkBlocks, blocks - b);
        if (!reader.ReadValues(b * block, count * block, scratch_)) {
            error = reader.Error();
            return false;
        }
        if (b == 0) {
            // Around the first values: a channel's values stay near them far
            // more often than near zero.
            for (std::size_t k = 0; k < n; ++k) {
                shifts_[k] = std::isfinite(scratch_[k]) ? scratch_[k] : 0.0;
            }
        }
        SumValues(scratch_.data(), b * block, count * block);
        SummariseValues(scratch_.data(), b, count, base);
        if (progress && !progress((b + count) * block, scans_)) {
            error = reader.Info().fileName + ": cancelled";
            return false;
        }
    }
    valueLevels_.push_back(std::move(base));
    if (n > 0) AddCoarserLevels(valueLevels_, n);
    return true;
}

int64_t MinMaxPyramid::SumBlocks() const {
    if (!keepSums_ || channels_ == 0) return 0;
    // Only whole base blocks are summarised in the pass.
    const int64_t summarised = scans_ >> baseShift_ << baseShift_;
    return summarised >> kSumShift;
}

void MinMaxPyramid::SumSamples(const int16_t* samples, int64_t first, int64_t count) {
    if (!keepSums_) return;
    const int64_t end = std::min(first + count, SumBlocks() * kSumBlock);
    for (int64_t at = first; at + kSumBlock <= end; at += kSumBlock) {
        SumBlockOf(samples + static_cast<std::size_t>(at - first) * channels_, channels_,
                   sampleMask_,
                   &sampleSums_[static_cast<std::size_t>(at >> kSumShift) * channels_]);
    }
}

void MinMaxPyramid::SumValues(const double* values, int64_t first, int64_t count) {
    if (!keepSums_) return;
    const std::size_t n = channels_;
    const int64_t end = std::min(first + count, SumBlocks() * kSumBlock);
    for (int64_t at = first; at + kSumBlock <= end; at += kSumBlock) {
        ValueSums* out = &valueSums_[static_cast<std::size_t>(at >> kSumShift) * n];
        for (std::size_t k = 0; k < n; ++k) {
            CompensatedSum sum;
            CompensatedSum squares;
            double lo = std::numeric_limits<double>::infinity();
            double hi = -lo;
            const double* v = values + static_cast<std::size_t>(at - first) * n + k;
            for (int64_t i = 0; i < kSumBlock; ++i, v += n) {
                const double d = *v - shifts_[k];
                sum.Add(d);
                squares.Add(d * d);
                lo = std::min(lo, *v);
                hi = std::max(hi, *v);
            }
            out[k] = {sum.Value(), squares.Value(), lo, hi};
        }
    }
}

std::span<const SampleMinMax> MinMaxPyramid::SampleBlockExtents(int64_t b) const {
    // The level of blocks of 2^kSumShift scans is the sum blocks' extent.
    const auto level = static_cast<std::size_t>(kSumShift - baseShift_);
    if (!keepSums_ || level >= sampleLevels_.size() || b < 0) return {};
    const std::vector<SampleMinMax>& l = sampleLevels_[level];
    if (static_cast<std::size_t>(b + 1) * channels_ > l.size()) return {};
    return {&l[static_cast<std::size_t>(b) * channels_], channels_};
}

bool MinMaxPyramid::RawSamples(RecordingReader& reader, int64_t first, int64_t last,
                               std::span<SampleMinMax> perChannel) {
    if (first >= last) return true;
    const std::size_t n = channels_;
    sampleScratch_.resize(static_cast<std::size_t>(std::min(kRawChunk, last - first)) * n);
    for (int64_t s = first; s < last; s += kRawChunk) {
        const int64_t count = std::min(kRawChunk, last - s);
        if (!ReadStored(reader, s, count)) return false;
        ScanSampleMinMax(sampleScratch_.data(), count, n, perChannel);
    }
    return true;
}

bool MinMaxPyramid::ReadStored(RecordingReader& reader, int64_t first, int64_t count) {
    std::string error;
    if (copyable_ && reader.CopyStoredSamples(first, count, sampleScratch_, error)) return true;
    // The reader's own read gives the same words less their event bits, and
    // on failure sets the reason that the caller reports.
    return reader.ReadSamples(first, count, sampleScratch_);
}

bool MinMaxPyramid::RawValues(RecordingReader& reader, int64_t first, int64_t last,
                              std::span<MinMax> perChannel) {
    constexpr int64_t kChunk = 4096;
    scratch_.resize(static_cast<std::size_t>(kChunk) * channels_);
    for (int64_t s = first; s < last; s += kChunk) {
        const int64_t count = std::min(kChunk, last - s);
        if (!reader.ReadValues(s, count, scratch_)) return false;
        const double* v = scratch_.data();
        for (int64_t i = 0; i < count; ++i, v += channels_) {
            for (std::size_t k = 0; k < channels_; ++k) {
                const auto f = static_cast<float>(v[k]);
                perChannel[k].min = std::min(perChannel[k].min, f);
                perChannel[k].max = std::max(perChannel[k].max, f);
            }
        }
    }
    return true;
}

bool MinMaxPyramid::Range(RecordingReader& reader, int64_t first, int64_t last,
                          std::span<MinMax> perChannel) {
    if (perChannel.size() < channels_ || first < 0 || last > scans_ || first >= last) {
        return false;
    }
    const int64_t block = int64_t{1} << baseShift_;
    const auto out = perChannel.first(channels_);
    if (!bySample_) {
        std::fill(out.begin(), out.end(), kEmpty);
        return TreeRange(valueLevels_, channels_, block, first, last, out,
                         [&](int64_t a, int64_t b) { return RawValues(reader, a, b, out); });
    }
    std::vector<SampleMinMax>& extents = rangeScratch_;
    extents.assign(channels_, kNoSamples);
    if (!TreeRange(sampleLevels_, channels_, block, first, last, std::span(extents),
                   [&](int64_t a, int64_t b) { return RawSamples(reader, a, b, extents); })) {
        return false;
    }
    Calibrate(extents, out);
    return true;
}

void MinMaxPyramid::Calibrate(std::span<SampleMinMax> extents, std::span<MinMax> out) const {
    ClearEventBits(extents, sampleMask_);
    for (std::size_t k = 0; k < channels_; ++k) {
        const auto lo = static_cast<float>(EngineeringValue(extents[k].min, calibration_[k]));
        const auto hi = static_cast<float>(EngineeringValue(extents[k].max, calibration_[k]));
        // A negative calibration slope turns the smallest sample into the largest value.
        out[k] = lo <= hi ? MinMax{lo, hi} : MinMax{hi, lo};
    }
}

int64_t MinMaxPyramid::ColumnStart(int64_t first, int64_t last, int columns, int c) const {
    if (c <= 0 || columns <= 0) return first;
    if (c >= columns) return last;
    const int64_t span = last - first;
    const int64_t block = int64_t{1} << baseShift_;
    const int64_t at = first + span * c / columns;
    if (span / columns < 2 * block) return at;
    return std::clamp((at + block / 2) / block * block, first, last);
}

bool MinMaxPyramid::Columns(RecordingReader& reader, int64_t first, int64_t last, int columns,
                            std::span<MinMax> out) {
    if (columns <= 0 || out.size() < static_cast<std::size_t>(columns) * channels_) return false;
    const int64_t block = int64_t{1} << baseShift_;
    if (first >= 0 && first < last && last <= scans_ && (last - first) / columns < 2 * block) {
        return NarrowColumns(reader, first, last, columns, out);
    }
    for (int c = 0; c < columns; ++c) {
        const int64_t a = ColumnStart(first, last, columns, c);
        const int64_t b = std::max(ColumnStart(first, last, columns, c + 1), a + 1);
        if (!Range(reader, a, std::min(b, scans_), out.subspan(c * channels_, channels_))) {
            return false;
        }
    }
    return true;
}

// Columns this narrow are read scan by scan: one pass over [first, last) in
// chunks, each chunk one read call, instead of a read for every column.
bool MinMaxPyramid::NarrowColumns(RecordingReader& reader, int64_t first, int64_t last, int columns,
                                  std::span<MinMax> out) {
    const std::size_t n = channels_;
    constexpr int64_t kChunk = kRawChunk;
    const auto cols = static_cast<std::size_t>(columns);
    if (bySample_) {
        columnScratch_.assign(cols * n, kNoSamples);
        sampleScratch_.resize(static_cast<std::size_t>(std::min(kChunk, last - first)) * n);
    } else {
        std::fill_n(out.begin(), cols * n, kEmpty);
        scratch_.resize(static_cast<std::size_t>(std::min(kChunk, last - first)) * n);
    }
    int c0 = 0;  // columns before it have all their scans
    for (int64_t s = first; s < last; s += kChunk) {
        const int64_t count = std::min(kChunk, last - s);
        if (bySample_ ? !ReadStored(reader, s, count) : !reader.ReadValues(s, count, scratch_)) {
            return false;
        }
        for (int c = c0; c < columns; ++c) {
            const int64_t a = ColumnStart(first, last, columns, c);
            if (a >= s + count) break;
            // A column narrower than a scan covers the one scan it starts on.
            const int64_t b = std::max(ColumnStart(first, last, columns, c + 1), a + 1);
            const int64_t lo = std::max(a, s);
            const int64_t hi = std::min(b, s + count);
            const auto at = static_cast<std::size_t>(lo - s) * n;
            const auto column = static_cast<std::size_t>(c) * n;
            if (bySample_) {
                ScanSampleMinMax(sampleScratch_.data() + at, hi - lo, n,
                                 std::span(columnScratch_).subspan(column, n));
            } else {
                const double* v = scratch_.data() + at;
                for (int64_t i = lo; i < hi; ++i, v += n) {
                    for (std::size_t k = 0; k < n; ++k) {
                        const auto f = static_cast<float>(v[k]);
                        out[column + k].min = std::min(out[column + k].min, f);
                        out[column + k].max = std::max(out[column + k].max, f);
                    }
                }
            }
            if (b <= s + count) c0 = c + 1;
        }
    }
    if (bySample_) {
        for (std::size_t c = 0; c < cols; ++c) {
            Calibrate(std::span(columnScratch_).subspan(c * n, n), out.subspan(c * n, n));
        }
    }
    return true;
}

std::size_t MinMaxPyramid::MemoryBytes() const {
    std::size_t bytes = 0;
    for (const auto& level : sampleLevels_) bytes += level.size() * sizeof(SampleMinMax);
    for (const auto& level : valueLevels_) bytes += level.size() * sizeof(MinMax);
    return bytes;
}

std::size_t MinMaxPyramid::SumBytes() const {
    return sampleSums_.size() * sizeof(SampleSums) + valueSums_.size() * sizeof(ValueSums);
}

int MinMaxPyramid::Levels() const {
    return static_cast<int>(bySample_ ? sampleLevels_.size() : valueLevels_.size());
}

}  // namespace tamix
