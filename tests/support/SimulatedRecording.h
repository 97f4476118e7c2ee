// A closed WinDaq recording of the simulated unit's signals (SignalGenerator,
// the samples a 16-bit model means to deliver), written as the recorder
// writes one, without the time a real run would take.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "device/SignalGenerator.h"
#include "recording/OutputFile.h"
#include "recording/WdqWriter.h"

namespace tamix::test {

// Records `inputs` (0..7) for `scans` scans `period` seconds apart into `path`.
inline bool WriteSimulatedWdq(const std::string& path, const std::vector<int>& inputs,
                              int64_t scans, double period) {
    std::vector<ChannelInfo> channels(inputs.size());
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        channels[k].inputNumber = inputs[k];
        CopyText(channels[k].unit, "Volt", kUnitChars);
    }
    std::string error;
    std::unique_ptr<OutputFile> file = DefaultFileOpener().Create(path, error);
    if (!file) return false;
    std::array<uint8_t, kWdqHeaderBytes> header{};
    const auto n = static_cast<int>(inputs.size());
    BuildWdqHeader(header, scans, n, period, channels, 1700000000);
    bool ok = file->Write(header.data(), header.size());
    std::vector<uint8_t> chunk;
    constexpr int64_t kChunkScans = 8192;
    for (int64_t s = 0; ok && s < scans; s += kChunkScans) {
        const int64_t count = std::min(kChunkScans, scans - s);
        chunk.assign(static_cast<std::size_t>(count * n * 2), 0);
        for (int64_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(s + i) * period;
            for (int k = 0; k < n; ++k) {
                const int16_t sample = SignalGenerator::IntendedSample(inputs[k], t, 0);
                PutWdqSample(&chunk[static_cast<std::size_t>((i * n + k) * 2)], sample);
            }
        }
        ok = file->Write(chunk.data(), chunk.size());
    }
    auto markers = std::make_unique<MarkerTable>();
    return ok && WriteWdqTrailer(*file, *markers, 1, channels, 1700000000) &&
           PatchWdqDataSize(*file, static_cast<uint64_t>(scans) * 2 * inputs.size()) &&
           file->Close();
}

}  // namespace tamix::test
