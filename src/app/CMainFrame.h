// The main window: menu bar, accelerators and the view; refuses to close while
// a measurement runs unless the operator agrees to stop it.
#pragma once

#include <wx/docview.h>

namespace tamix {

class CMainFrame final : public wxDocParentFrame {
  public:
    CMainFrame(wxDocManager* manager, const wxString& title);

    wxStatusBar* OnCreateStatusBar(int number, long style, wxWindowID id,
                                   const wxString& name) override;

  private:
    void OnClose(wxCloseEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnReviewRecording(wxCommandEvent& event);
};

// Asked when the window is closed during a run.
inline constexpr const char* kQuitDuringRun =
    "A measurement is running.\n\nStop the recording and quit? The file is completed first.";

// Builds the menu bar of the main window.
wxMenuBar* CreateMainMenu();

}  // namespace tamix
