// The main window: menu bar, accelerators and the view; refuses to close while
// a measurement runs.
#pragma once

#include <wx/docview.h>

namespace tamix {

class CMainFrame final : public wxDocParentFrame {
  public:
    CMainFrame(wxDocManager* manager, const wxString& title);

  private:
    void OnClose(wxCloseEvent& event);
    void OnExit(wxCommandEvent& event);
};

// Builds the menu bar of the main window.
wxMenuBar* CreateMainMenu();

}  // namespace tamix
