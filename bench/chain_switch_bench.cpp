// How long a split recording's switch to its next file holds the worker: the
// chain sink fed at the fastest unit's pace (8 channels, 1 ms, in cycles of
// eight scans) with a new file every 2 s, a checkpoint every second as the
// loop makes them. Prints the longest WriteScan that switched files, the
// longest other one and the longest checkpoint, for each format, beside the
// same run in one file.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "base/Utf8Text.h"
#include "recording/ChainSink.h"

namespace {

using namespace tamix;
using Clock = std::chrono::steady_clock;

constexpr int64_t kScans = 12000;
constexpr int64_t kFileScans = 2000;

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void Measure(FileType type, int64_t fileScans, const std::filesystem::path& folder) {
    std::array<ChannelInfo, 8> channels{};
    for (int k = 0; k < 8; ++k) {
        channels[k].inputNumber = k;
        CopyText(channels[k].unit, "Volt", kUnitChars);
    }
    auto markers = std::make_unique<MarkerTable>();
    std::array<uint8_t, kWdqHeaderBytes> header{};
    ChainSettings s;
    s.first.type = type;
    s.first.fileName = (folder / (type == FileType::WinDaq ? "run.wdq" : "run.dat")).string();
    s.first.channels = channels;
    s.first.period = 0.001;
    s.first.headerScans = kScans + 8;
    s.first.creationTime = 1700000000;
    s.fileScans = fileScans;
    s.runScans = kScans;
    ChainSink sink(s, DefaultFileOpener(), header);
    if (!sink.Prepare(*markers) || !sink.Open() || !sink.Begin(*markers)) {
        std::fprintf(stderr, "%s\n", sink.Error().c_str());
        return;
    }
    std::array<int16_t, 8> scan{};
    double switching = 0;
    double other = 0;
    double checkpoint = 0;
    const Clock::time_point start = Clock::now();
    for (int64_t i = 0; i < kScans; ++i) {
        if (i % 8 == 0) std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
        scan.fill(static_cast<int16_t>(i * 4));
        const Clock::time_point before = Clock::now();
        sink.WriteScan(i, scan);
        const double took = Micros(Clock::now() - before);
        double& worst = fileScans > 0 && i > 0 && i % fileScans == 0 ? switching : other;
        worst = std::max(worst, took);
        if ((i + 1) % 1000 == 0) {
            const Clock::time_point at = Clock::now();
            sink.Checkpoint();
            sink.TakePlace();
            checkpoint = std::max(checkpoint, Micros(Clock::now() - at));
        }
    }
    const SinkEnd end = sink.Finish(*markers, 1);
    std::printf("%-6s %lld files: switch %.1f us, other scans %.1f us, checkpoint %.1f us%s\n",
                type == FileType::WinDaq ? "WinDaq" : "text", static_cast<long long>(sink.Files()),
                switching, other, checkpoint, end == SinkEnd::Ok ? "" : " (write failed)");
}

}  // namespace

int main() {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("tamix-switch-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    // Without a split first, for the costs a run has anyway.
    for (const int64_t share : {int64_t{0}, kFileScans}) {
        Measure(FileType::WinDaq, share, folder);
        Measure(FileType::Text, share, folder);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
