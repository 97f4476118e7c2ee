// The application: start-up (profile, system settings, the single-document
// template, the maximised main window), the help commands, and shutdown.
#pragma once

#include <wx/app.h>
#include <wx/docview.h>

#include <functional>
#include <memory>
#include <string>

#include "base/IniFile.h"
#include "device/D2xxDriver.h"
#include "device/InstrumentSource.h"

namespace tamix {

struct MeasurementSetup;

// Asks the operator for a file to open (empty when cancelled). Replaceable, so
// that the whole Open command can be tested.
using OpenFilePicker = std::function<wxString(wxWindow* parent)>;
void SetOpenFilePicker(OpenFilePicker picker);

// Opens a recording in a review window of its own and adds it to the recent
// files; a file that is no recording gives a message with the reader's reason.
bool OpenForReview(const wxString& path);

class CTamixApp : public wxApp {
  public:
    // --version is answered here, before the toolkit wants a display.
    bool Initialize(int& argc, wxChar** argv) override;
    bool OnInit() override;
    int OnExit() override;
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;

    void LoadSystemSetup();
    void SaveSystemSetup();
    IniFile& profile() { return *m_profile; }
    // Talks to the instruments of `source` from the next Start on; false with
    // `error` set when its simulated unit is unknown.
    bool UseInstrument(const InstrumentSource& source, std::string& error);
    // Before a run: a simulated unit streams the run's inputs when its model has
    // no channel programming. A driver put into the link by someone else is kept.
    void PrepareInstrument(MeasurementSetup& setup);
    wxDocManager* docManager() const { return m_docManager; }

  private:
    void OnAppAbout(wxCommandEvent&);
    void OnHelpSimpleHelp(wxCommandEvent&);

    std::unique_ptr<IniFile> m_profile;
    std::unique_ptr<D2xxDriver> m_driver;
    wxDocManager* m_docManager = nullptr;
    wxString m_profilePath;
    wxString m_openAtStart;  // `tamix FILE`
    InstrumentSource m_source;
};

}  // namespace tamix
