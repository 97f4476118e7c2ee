#include "app/CTamixApp.h"

#include <wx/cmdline.h>
#include <wx/filedlg.h>
#include <wx/filehistory.h>
#include <wx/gdicmn.h>

#include <wx/log.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "acquisition/MeasurementSetup.h"
#include "app/AppEnding.h"
#include "app/CMainFrame.h"
#include "app/CTamixDoc.h"
#include "app/TerminationSignals.h"
#include "base/ProfileKeys.h"
#include "control/MeasurementCommands.h"
#include "device/InstrumentSource.h"
#include "dialogs/wx/CAboutDlg.h"
#include "dialogs/wx/CAddMarkerDlg.h"
#include "dialogs/wx/CHelpDlg.h"
#include "dialogs/wx/CSystemSetupDlg.h"
#include "dialogs/wx/SaveProfile.h"
#include "view/wx/CReviewFrame.h"
#include "view/wx/CTamixView.h"
#include "view/wx/WxUserInterface.h"

namespace tamix {
namespace {

constexpr int kRecentFiles = 4;

wxString PickFileToOpen(wxWindow* parent) {
    wxFileDialog dialog(parent, "Open", "", "",
                        "Recordings (*.wdq;*.dat)|*.wdq;*.dat|All Files (*.*)|*",
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    return dialog.ShowModal() == wxID_OK ? dialog.GetPath() : wxString();
}

OpenFilePicker gOpenFilePicker = PickFileToOpen;

// New, Open and Save as the single document of this program needs them: the
// one document and its view (and a running measurement) are never replaced;
// Open and the recent files show a recording in a review window of its own.
class CTamixDocManager final : public wxDocManager {
  public:
    CTamixDocManager() : wxDocManager(0, true) {}

    wxFileHistory* OnCreateFileHistory() override { return new wxFileHistory(kRecentFiles); }

  private:
    void OnNew(wxCommandEvent&) {
        if (wxDocument* doc = GetCurrentDocument()) {
            doc->SetFilename("", false);
            doc->SetTitle("Tamix");
            doc->Modify(false);
            doc->UpdateAllViews();
            if (wxView* view = doc->GetFirstView()) view->OnChangeFilename();
        }
    }
    void OnOpen(wxCommandEvent&) {
        const wxString path = gOpenFilePicker(wxTheApp->GetTopWindow());
        if (!path.empty()) OpenForReview(path);
    }
    void OnRecentFile(wxCommandEvent& event) {
        const auto n = static_cast<size_t>(event.GetId() - wxID_FILE1);
        wxFileHistory* history = GetFileHistory();
        if (history != nullptr && n < history->GetCount()) {
            OpenForReview(history->GetHistoryFile(n));
        }
    }
    // The document holds nothing: saving never writes (so never empties) a file.
    void OnSave(wxCommandEvent&) {}

    wxDECLARE_EVENT_TABLE();
};

// clang-format off
wxBEGIN_EVENT_TABLE(CTamixDocManager, wxDocManager)
    EVT_MENU(wxID_NEW, CTamixDocManager::OnNew)
    EVT_MENU(wxID_OPEN, CTamixDocManager::OnOpen)
    EVT_MENU_RANGE(wxID_FILE1, wxID_FILE9, CTamixDocManager::OnRecentFile)
    EVT_MENU(wxID_SAVE, CTamixDocManager::OnSave)
wxEND_EVENT_TABLE();
// clang-format on

}  // namespace

bool OpenForReview(const wxString& path) {
    WxUserInterface ui;
    if (CReviewFrame::Open(std::string(path.utf8_str()), ui) == nullptr) return false;
    if (auto* app = dynamic_cast<CTamixApp*>(wxTheApp); app && app->docManager()) {
        app->docManager()->AddFileToHistory(path);
    }
    return true;
}

void SetOpenFilePicker(OpenFilePicker picker) {
    gOpenFilePicker = picker ? std::move(picker) : PickFileToOpen;
}

bool CTamixApp::Initialize(int& argc, wxChar** argv) {
    for (int i = 1; i < argc && wxString(argv[i]) != "--"; ++i) {
        if (wxString(argv[i]) == "--version") {
            std::fputs("tamix " TAMIX_VERSION "\n", stdout);
            std::exit(std::fflush(stdout) == 0 ? 0 : 1);
        }
    }
    return wxApp::Initialize(argc, argv);
}

void CTamixApp::OnInitCmdLine(wxCmdLineParser& parser) {
    parser.AddOption(
        "", "simulate",
        "attach a simulated instrument (serial or model name, e.g. A30008SN or KPR-T310)");
    parser.AddSwitch("", "unpaced",
                     "a simulated instrument delivers scans as fast as they are read");
    parser.AddOption("", "port",
                     "list serial port PATH first, as a unit whose bridge has serial string "
                     "SERIAL (PATH=SERIAL)");
    parser.AddOption("", "profile", "profile file to use instead of ~/.config/tamix.INI");
    parser.AddSwitch("h", "help", "show this help", wxCMD_LINE_OPTION_HELP);
    parser.AddSwitch("", "version", "print the version and exit");
    parser.AddParam("recording to open for review", wxCMD_LINE_VAL_STRING,
                    wxCMD_LINE_PARAM_OPTIONAL);
}

bool CTamixApp::OnCmdLineParsed(wxCmdLineParser& parser) {
    wxString simulate;
    if (parser.Found("simulate", &simulate) && !simulate.empty())
        m_source.simulate = std::string(simulate.utf8_str());
    m_source.unpaced = parser.Found("unpaced");
    parser.Found("profile", &m_profilePath);
    wxString port;
    SerialPortInfo info;
    if (parser.Found("port", &port) && ParsePortSpec(std::string(port.utf8_str()), info))
        m_source.ports.push_back(info);
    if (parser.GetParamCount() > 0) m_openAtStart = parser.GetParam(0);
    return true;
}

bool CTamixApp::UseInstrument(const InstrumentSource& source, std::string& error) {
    std::unique_ptr<D2xxDriver> driver = MakeDriver(source, error);
    if (!driver) return false;
    MeasurementSetup& setup = TheSetup();
    // Only between runs: no worker holds the old driver then.
    if (setup.link.Driver() == m_driver.get()) setup.link.SetDriver(driver.get());
    m_source = source;
    m_driver = std::move(driver);
    return true;
}

void CTamixApp::PrepareInstrument(MeasurementSetup& setup) {
    if (!m_source.simulate || setup.link.Driver() != m_driver.get()) return;
    InstrumentSource source = m_source;
    StreamSelectedInputs(source, setup.SelectedChannels());
    if (source.fixedInputs == m_source.fixedInputs) return;
    std::string error;
    UseInstrument(source, error);
}

bool CTamixApp::OnInit() {
    if (!wxApp::OnInit()) return false;
    SetAppName("tamix");
    SetAppDisplayName(text::kAppTitle);
    m_profile = std::make_unique<IniFile>(
        m_profilePath.empty() ? DefaultProfilePath() : std::string(m_profilePath.utf8_str()));
    std::error_code missing;
    if (!m_profilePath.empty() && !std::filesystem::exists(m_profile->path(), missing)) {
        // A mistyped path would otherwise look like settings forgotten.
        std::cerr << "tamix: profile " << m_profile->path()
                  << " does not exist; the defaults are used, and it is created when settings "
                     "are saved\n";
    }

    std::string error;
    m_driver = MakeDriver(m_source, error);
    if (!m_driver) {
        wxLogError("%s", wxString::FromUTF8(error));
        return false;
    }
    MeasurementSetup& setup = TheSetup();
    setup.link.SetDriver(m_driver.get());
    // The trace is drawn every 50 ms: two wake-ups of the worker in that time
    // keep its columns as even as more would, at a third less cost.
    setup.link.SetWakeInterval(0.025);
    LoadSystemSetup();
    SetViewServices(m_profile.get(), &DefaultFileOpener(),
                    [this](MeasurementSetup& s) { PrepareInstrument(s); });

    m_docManager = new CTamixDocManager;
    new wxDocTemplate(m_docManager, "Tamix Document", "*.*", "", "", "Tamix.Document",
                      "Tamix Document", CLASSINFO(CTamixDoc), CLASSINFO(CTamixView));
    for (int i = kRecentFiles; i >= 1; --i) {
        const std::string file =
            m_profile->GetString(profile::kRecentFiles, profile::RecentFile(i), "");
        if (!file.empty()) m_docManager->AddFileToHistory(wxString::FromUTF8(file));
    }
    auto* frame = new CMainFrame(m_docManager, text::kAppTitle);
    SetTopWindow(frame);
    Bind(wxEVT_MENU, &CTamixApp::OnAppAbout, this, cmd::ID_APP_ABOUT);
    Bind(wxEVT_MENU, &CTamixApp::OnHelpSimpleHelp, this, cmd::ID_HELP_SIMPLEHELP);
    m_docManager->CreateNewDocument();
    if (auto* view = wxDynamicCast(m_docManager->GetCurrentView(), CTamixView)) {
        SetEndingActions(
            &view->worker(), [frame] { frame->Close(true); }, [this] { SaveSystemSetup(); });
    }
    HandleTerminationSignals();
    Bind(wxEVT_END_SESSION, [](wxCloseEvent&) { StopRunAndQuit(); });
    // Without a window manager a maximise request does nothing: fill the screen anyway.
    frame->SetSize(wxGetClientDisplayRect());
    frame->Maximize(true);
    frame->Show(true);
    if (!m_openAtStart.empty()) {
        // Once the main window is up, so that a failure's message has a parent.
        CallAfter([path = m_openAtStart] { OpenForReview(path); });
    }
    return true;
}

int CTamixApp::OnExit() {
    ReleaseEndingActions();
    SaveSystemSetup();
    delete m_docManager;
    m_docManager = nullptr;
    TheSetup().link.SetDriver(nullptr);
    return wxApp::OnExit();
}

void CTamixApp::LoadSystemSetup() {
    MeasurementSetup& setup = TheSetup();
    setup.SetCommPort(m_profile->GetInt(profile::kSystemSetup, profile::kPort, 0));
    setup.SetEightChannels(m_profile->GetInt(profile::kSystemSetup, profile::kEightChannels, 0));
}

void CTamixApp::SaveSystemSetup() {
    // Only this program's own keys change, in the file as it is now: what the
    // dialogs, another instance or an editor saved meanwhile is kept.
    IniFile onDisk(m_profile->path());
    const MeasurementSetup& setup = TheSetup();
    onDisk.SetInt(profile::kSystemSetup, profile::kPort, setup.GetCommPort());
    onDisk.SetInt(profile::kSystemSetup, profile::kEightChannels, setup.GetEightChannels());
    if (m_docManager != nullptr) {
        wxFileHistory* history = m_docManager->GetFileHistory();
        for (size_t i = 0; i < kRecentFiles && i < history->GetCount(); ++i) {
            onDisk.SetString(profile::kRecentFiles, profile::RecentFile(static_cast<int>(i) + 1),
                             std::string(history->GetHistoryFile(i).utf8_str()));
        }
    }
    SaveProfile(onDisk, nullptr);
    *m_profile = std::move(onDisk);
}

void CTamixApp::OnAppAbout(wxCommandEvent&) {
    CAboutDlg dlg(GetTopWindow());
    dlg.ShowModal();
}

void CTamixApp::OnHelpSimpleHelp(wxCommandEvent&) {
    CHelpDlg dlg(GetTopWindow());
    dlg.ShowModal();
}

}  // namespace tamix
