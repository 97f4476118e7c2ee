#include "app/CMainFrame.h"

#include <wx/accel.h>
#include <wx/menu.h>
#include <wx/statusbr.h>

#include "acquisition/MeasurementSetup.h"
#include "app/CTamixDoc.h"
#include "control/MeasurementCommands.h"
#include "recording/OutputFile.h"
#include "view/wx/CReviewFrame.h"
#include "view/wx/WxUserInterface.h"

#include "res/tamix.xpm"

namespace tamix {
namespace {

#if defined(__WXGTK__)
// The status bar drawn by wx itself repaints a changed field at once and waits
// for the X server, meant for a text shown before a long operation. The run's
// fields change once a second from the refresh tick: the next frame shows them.
class QuietStatusBar final : public wxStatusBar {
  public:
    using wxStatusBar::wxStatusBar;

  protected:
    void DoUpdateStatusText(int number) override {
        wxRect rect;
        if (GetFieldRect(number, rect)) RefreshRect(rect);
    }
};
#endif

}  // namespace

wxMenuBar* CreateMainMenu() {
    auto* file = new wxMenu;
    file->Append(wxID_OPEN, "&Open...\tCtrl+O");
    file->AppendSubMenu(new wxMenu, "&Recent files");
    file->Append(cmd::ID_FILE_REVIEWRECORDING, "Re&view the recording\tR");
    file->AppendSeparator();
    file->Append(cmd::ID_APP_EXIT, "E&xit");
    auto* measurement = new wxMenu;
    measurement->Append(cmd::ID_MEASUREMENT_START, "&Start");
    measurement->Append(cmd::ID_MEASUREMENT_STOP, "S&top");
    measurement->AppendCheckItem(cmd::ID_MEASUREMENT_PAUSE, "&Pause\tP");
    measurement->AppendSeparator();
    measurement->Append(cmd::ID_MEASUREMENT_COMMPORT, "Communication port")->Enable(false);
    measurement->AppendCheckItem(cmd::ID_MEASUREMENT_EIGHTCHANNELS, "&Eight channels installed");
    measurement->AppendSeparator();
    measurement->Append(cmd::ID_MEASUREMENT_CALIBRATE, "&Calibrate");
    auto* tools = new wxMenu;
    tools->Append(cmd::ID_TOOLS_ADDMARKER, "&Add Marker\tSpace");
    tools->AppendSeparator();
    tools->Append(cmd::ID_TOOLS_RESETALLSCALING, "Reset all scaling");
    tools->Append(cmd::ID_TOOLS_AUTOSCALEALL, "Auto&scale all\tA");
    tools->AppendCheckItem(cmd::ID_TOOLS_LIVENUMBERS, "&Live numbers");
    auto* help = new wxMenu;
    help->Append(cmd::ID_HELP_SIMPLEHELP, "Simple &help\tH");
    help->AppendSeparator();
    help->Append(cmd::ID_APP_ABOUT, "&About Tamix...");
    auto* bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(measurement, "&Measurement");
    bar->Append(tools, "&Tools");
    bar->Append(help, "&Help");
    return bar;
}

CMainFrame::CMainFrame(wxDocManager* manager, const wxString& title)
    : wxDocParentFrame(manager, nullptr, wxID_ANY, title) {
    SetIcon(wxIcon(tamix_xpm));
    SetMenuBar(CreateMainMenu());
    // The recent files open for review, from a submenu of File.
    wxMenu* recent = nullptr;
    for (const wxMenuItem* item : GetMenuBar()->GetMenu(0)->GetMenuItems()) {
        if (item->IsSubMenu()) recent = item->GetSubMenu();
    }
    manager->FileHistoryUseMenu(recent);
    manager->FileHistoryAddFilesToMenu();
    CreateStatusBar();
    // Every key is in the frame's table, plain letters too: wxGTK does not
    // bind a menu label's hint without a modifier, and the table is searched
    // from whichever child has the focus. The menus keep the hints.
    wxAcceleratorEntry keys[] = {
        {wxACCEL_NORMAL, 'A', cmd::ID_TOOLS_AUTOSCALEALL},
        {wxACCEL_NORMAL, 'H', cmd::ID_HELP_SIMPLEHELP},
        {wxACCEL_NORMAL, WXK_SPACE, cmd::ID_TOOLS_ADDMARKER},
        {wxACCEL_NORMAL, 'P', cmd::ID_MEASUREMENT_PAUSE},
        {wxACCEL_NORMAL, 'R', cmd::ID_FILE_REVIEWRECORDING},
        {wxACCEL_CTRL, 'N', wxID_NEW},
        {wxACCEL_CTRL, 'O', wxID_OPEN},
        {wxACCEL_CTRL, 'S', wxID_SAVE},
        {wxACCEL_NORMAL, WXK_F6, cmd::ID_NEXT_PANE},
        {wxACCEL_SHIFT, WXK_F6, cmd::ID_PREV_PANE},
    };
    SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(keys)), keys));
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
    Bind(wxEVT_MENU, &CMainFrame::OnExit, this, cmd::ID_APP_EXIT);
    Bind(wxEVT_MENU, &CMainFrame::OnReviewRecording, this, cmd::ID_FILE_REVIEWRECORDING);
    Bind(
        wxEVT_UPDATE_UI,
        [](wxUpdateUIEvent& event) { event.Enable(TheSetup().workerActive.load()); },
        cmd::ID_FILE_REVIEWRECORDING);
}

// The review window only reads the file, as any other reader would: the run
// goes on untouched however far back the window looks.
void CMainFrame::OnReviewRecording(wxCommandEvent&) {
    WxUserInterface ui;
    const MeasurementSetup& setup = TheSetup();
    const std::string name(setup.OutputFileName());
    if (!setup.workerActive.load() || name.empty()) {
        ui.ShowMessage("No recording is being made.", UserInterface::Icon::Information);
        return;
    }
    // The file takes its name at the run's first checkpoint, a second in.
    if (!HeldByRecorder(name)) {
        ui.ShowMessage(
            name + ": the recording has not reached the disk yet; try again in a moment.",
            UserInterface::Icon::Information);
        return;
    }
    CReviewFrame::Open(name, ui);
}

wxStatusBar* CMainFrame::OnCreateStatusBar(int number, long style, wxWindowID id,
                                           const wxString& name) {
#if defined(__WXGTK__)
    auto* bar = new QuietStatusBar(this, id, style, name);
    bar->SetFieldsCount(number);
    return bar;
#else
    return wxDocParentFrame::OnCreateStatusBar(number, style, id, name);
#endif
}

void CMainFrame::OnClose(wxCloseEvent& event) {
    if (event.CanVeto() && !CTamixDoc::CanCloseFrame()) {
        WxUserInterface ui;
        if (!ui.AskYesNo(kQuitDuringRun, UserInterface::Answer::No)) {
            event.Veto();
            return;
        }
        // The view's end waits for the worker, which completes the file first.
        TheSetup().RequestStop();
        ui.BeginWait();
        while (TheSetup().workerActive.load()) wxMilliSleep(5);
        ui.EndWait();
    }
    CReviewFrame::CloseAll();
    event.Skip();
}

void CMainFrame::OnExit(wxCommandEvent&) {
    Close();
}

}  // namespace tamix
