// Runs the GUI tests inside the real application object, started with a
// simulated instrument and a profile in a temporary folder.
#include <gtest/gtest.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/textctrl.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "GuiTest.h"
#include "TempDir.h"

namespace tamix::test {
namespace {

CTamixApp* gApp = nullptr;
std::string gTempDir;

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    ADD_FAILURE() << "wx assertion " << cond << " in " << func << " at " << file << ":" << line
                  << ": " << msg;
}

}  // namespace

CTamixApp& App() {
    return *gApp;
}
const std::string& GuiTempDir() {
    return gTempDir;
}
wxFrame& MainFrame() {
    return *wxStaticCast(gApp->GetTopWindow(), wxFrame);
}

void Command(int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(&MainFrame());
    MainFrame().ProcessWindowEvent(event);
}

std::pair<bool, bool> CommandUi(int id) {
    wxUpdateUIEvent event(id);
    event.SetEventObject(&MainFrame());
    MainFrame().ProcessWindowEvent(event);
    return {event.GetEnabled(), event.GetChecked()};
}

bool WaitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace tamix::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tamix::test::TempDir dir;
    tamix::test::gTempDir = dir.path().string();
    const std::string profile = dir.File("tamix.INI");
    std::vector<std::string> args = {"tamix", "--simulate", "A30008SN", "--profile", profile};
    std::vector<char*> argvApp;
    for (auto& a : args) argvApp.push_back(a.data());
    int argcApp = static_cast<int>(argvApp.size());

    wxSetAssertHandler(tamix::test::FailOnAssert);
    tamix::test::gApp = new tamix::CTamixApp;
    wxApp::SetInstance(tamix::test::gApp);
    if (!wxEntryStart(argcApp, argvApp.data()) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "the application did not start (is there a display?)\n");
        return 1;
    }
    tamix::test::WaitFor([] { return false; }, 0.3);
    const int rc = RUN_ALL_TESTS();
    // A test may have closed the main window already.
    if (wxWindow* top = wxTheApp->GetTopWindow()) top->Destroy();
    tamix::test::WaitFor([] { return false; }, 0.2);
    wxTheApp->OnExit();
    wxEntryCleanup();
    return rc;
}
