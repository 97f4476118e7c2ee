// Cost of the review window on a large recording: open to the drawn overview
// (the overview's thread and the window's polling), and a full redraw of eight
// strips at several zooms and after a pan. Writes a WinDaq file of the given
// size in MiB (default 1024) into a temporary folder, or takes one, and needs
// a display:
//   xvfb-run -a -s "-screen 0 2000x1100x24" build/bench/tamix_review_draw_bench [MIB|FILE.wdq]
#include <wx/app.h>
#include <wx/init.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/OutputFile.h"
#include "recording/WdqWriter.h"
#include "view/wx/CReviewFrame.h"
#include "view/wx/WxUserInterface.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Settle(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Eight channels at 1 kHz of slow waves with noise, as the recorder writes them.
bool WriteRecording(const std::string& path, int64_t mib) {
    using namespace tamix;
    constexpr int kChannels = 8;
    const int64_t scans = mib * 1024 * 1024 / (2 * kChannels);
    std::array<ChannelInfo, kChannels> channels{};
    for (int k = 0; k < kChannels; ++k) {
        channels[k].inputNumber = k;
        CopyText(channels[k].name, "Chn" + std::to_string(k), kNameChars);
        CopyText(channels[k].unit, "Volt", kUnitChars);
    }
    std::string error;
    auto file = DefaultFileOpener().Create(path, error);
    if (!file) return false;
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, scans, kChannels, 0.001, channels, 1700000000);
    if (!file->Write(header.data(), header.size())) return false;
    std::vector<uint8_t> block(static_cast<std::size_t>(65536) * kChannels * 2);
    uint32_t noise = 1;
    for (int64_t s = 0; s < scans;) {
        const int64_t n = std::min<int64_t>(65536, scans - s);
        for (int64_t i = 0; i < n; ++i) {
            for (int k = 0; k < kChannels; ++k) {
                noise = noise * 1664525u + 1013904223u;
                const int wave = static_cast<int>(((s + i) * (k + 1) / 7) % 40000) - 20000;
                const auto v = static_cast<int16_t>((wave + static_cast<int>(noise >> 22)) & ~3);
                PutWdqSample(&block[static_cast<std::size_t>(i * kChannels + k) * 2], v);
            }
        }
        if (!file->Write(block.data(), static_cast<std::size_t>(n) * kChannels * 2)) return false;
        s += n;
    }
    auto markers = std::make_unique<MarkerTable>();
    CopyText(markers->markerText[0], "Acquisition start", kCommentChars);
    return WriteWdqTrailer(*file, *markers, 1, channels, 1700000000) &&
           PatchWdqDataSize(*file, static_cast<uint64_t>(scans) * kChannels * 2) && file->Close();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tamix;
    std::string path;
    std::filesystem::path temp;
    const std::string arg = argc > 1 ? argv[1] : "1024";
    if (arg.find(".wdq") != std::string::npos) {
        path = arg;
    } else {
        char pattern[] = "/tmp/tamix-review-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return 1;
        temp = pattern;
        path = (temp / "large.wdq").string();
        std::printf("writing %s MiB to %s...\n", arg.c_str(), path.c_str());
        if (!WriteRecording(path, std::atoll(arg.c_str()))) return 1;
    }
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(wxArgc, wxArgv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "wx did not start (is there a display?)\n");
        return 1;
    }
    WxUserInterface ui;
    const auto t0 = Clock::now();
    CReviewFrame* frame = CReviewFrame::Open(path, ui);
    if (frame == nullptr) return 1;
    frame->SetSize(1935, 1000);
    while (!frame->Ready()) {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    frame->canvas().RenderAll();
    const double open = Ms(Clock::now() - t0);
    std::printf("open to drawn overview: %.0f ms (%lld scans x 8 channels)\n", open,
                static_cast<long long>(frame->reader().Info().scanCount));

    ReviewCanvas& canvas = frame->canvas();
    ReviewViewport& v = canvas.viewport();
    const auto redraw = [&](const char* what) {
        constexpr int kRounds = 10;
        std::vector<double> ms;
        for (int i = 0; i < kRounds; ++i) {
            canvas.RenderAll();
            ms.push_back(canvas.lastRenderMs());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("redraw %-34s median %6.2f ms, worst %6.2f ms (%d px x 8 strips)\n", what,
                    ms[kRounds / 2], ms.back(), v.Columns());
    };
    Settle(0.2);
    redraw("whole recording");
    v.Zoom(100, v.Columns() / 3);
    redraw("zoomed x100");
    v.Zoom(1000, v.Columns() / 2);
    redraw("zoomed x100000");
    v.Zoom(1e6, v.Columns() / 2);
    redraw("zoomed to 10 scans");
    v.ShowAll();
    v.Zoom(7.3, 100);
    v.PanColumns(333.3);  // columns off the overview's block grid
    redraw("zoomed x7.3, panned");

    // A cursor dragged across the whole recording: each step reads the
    // cursors and repaints the window as a drag does; the statistics of the
    // span, which follow once the cursor stands still, are timed apart.
    v.ShowAll();
    canvas.RenderAll();
    const int64_t total = v.TotalScans();
    canvas.PlaceCursor(0, total / 10);
    canvas.PlaceCursor(1, total / 5);
    wxCommandEvent stats(wxEVT_MENU, CReviewFrame::ID_REVIEW_STATISTICS);
    {
        constexpr int kSteps = 40;
        std::vector<double> drag;
        std::vector<double> statistics;
        for (int i = 0; i < kSteps; ++i) {
            auto start = Clock::now();
            canvas.PlaceCursor(1, total / 5 + (total * 7 / 10) * i / kSteps + 12345);
            canvas.Update();
            drag.push_back(Ms(Clock::now() - start));
            start = Clock::now();
            frame->ProcessWindowEvent(stats);
            statistics.push_back(Ms(Clock::now() - start));
        }
        std::sort(drag.begin(), drag.end());
        std::sort(statistics.begin(), statistics.end());
        std::printf("cursor drag step                       median %6.2f ms, worst %6.2f ms\n",
                    drag[kSteps / 2], drag.back());
        std::printf("statistics of the cursors' span        median %6.2f ms, worst %6.2f ms\n",
                    statistics[kSteps / 2], statistics.back());
    }
    frame->Destroy();
    Settle(0.2);
    wxTheApp->OnExit();
    wxEntryCleanup();
    if (!temp.empty()) std::filesystem::remove_all(temp);
    return 0;
}
