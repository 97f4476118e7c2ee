// Drawing cost of the signal view: a full repaint of a 1920-pixel sweep of eight
// channels, and one 50 ms tick of new columns. Starts the desktop program (with
// a simulated unit and a throw-away profile) and needs a display:
//   xvfb-run -a -s "-screen 0 2000x1100x24" build/bench/tamix_draw_bench
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/MeasurementSetup.h"
#include "app/CTamixApp.h"
#include "view/wx/CTamixView.h"

namespace {

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void Settle(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

int main() {
    using namespace tamix;
    char pattern[] = "/tmp/tamix-draw-bench-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) return 1;
    std::vector<std::string> args = {"tamix", "--simulate", "A30008SN", "--profile",
                                     std::string(dir) + "/tamix.INI"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    int argc = static_cast<int>(argv.size());
    auto* app = new CTamixApp;
    wxApp::SetInstance(app);
    if (!wxEntryStart(argc, argv.data()) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "the application did not start (is there a display?)\n");
        return 1;
    }
    auto& frame = *wxStaticCast(wxTheApp->GetTopWindow(), wxFrame);
    frame.SetSize(1935, 1000);
    Settle(0.3);
    auto& view = *wxStaticCast(app->docManager()->GetCurrentView(), CTamixView);

    MeasurementSetup& setup = TheSetup();
    setup.channelCount = 8;
    // A fast signal: every column spans a band, the costliest case for min-max drawing.
    DisplayColumns& columns = setup.columnExtremes;
    for (int j = 0; j < kBufferRows; ++j) {
        for (int c = 0; c < 8; ++c) {
            const int v = (j * 97 + c * 5000) % 60000 - 30000;
            columns.first[j][c] = static_cast<int16_t>(v);
            columns.low[j][c] = static_cast<int16_t>(v - 800);
            columns.high[j][c] = static_cast<int16_t>(v + 800);
            setup.displayColumns[j][c] = static_cast<int16_t>(v);
        }
        columns.firstScan[j] = 4 * j;
    }
    setup.displayColumn = 1920;
    view.RenderAll();  // warm-up: fonts, theme, buffer

    constexpr int kRepaints = 20;
    const double t0 = ThreadCpuMs();
    for (int i = 0; i < kRepaints; ++i) view.RenderAll();
    const double full = (ThreadCpuMs() - t0) / kRepaints;

    // 50 ms at 500 scans per second gives about 6 new columns per tick.
    setup.SetStatus(RunStatus::Running);
    setup.displayColumn = 100;
    constexpr int kTicks = 500;
    const double t1 = ThreadCpuMs();
    for (int i = 0; i < kTicks; ++i) {
        view.m_nDrawnUpTo = 94;
        view.OnTimerTick();
    }
    const double tick = (ThreadCpuMs() - t1) / kTicks;
    setup.SetStatus(RunStatus::Idle);
    setup.displayColumn = 0;

    std::printf("full repaint, 1920 px x 8 channels: %.2f ms CPU (limit 10)\n", full);
    std::printf("tick of 6 columns x 8 channels:     %.3f ms CPU (limit 0.5)\n", tick);
    frame.Destroy();
    Settle(0.2);
    wxTheApp->OnExit();
    wxEntryCleanup();
    std::filesystem::remove_all(dir);
    return full < 10.0 && tick < 0.5 ? 0 : 2;
}
