// The System setup dialog: the choice of the communication port, kept in the profile.
#pragma once

#include <wx/dialog.h>

#include "base/IniFile.h"

class wxChoice;

namespace tamix {

class CSystemSetupDlg final : public wxDialog {
  public:
    CSystemSetupDlg(wxWindow* parent, IniFile& profile);
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;
    // Saves the chosen port (0-based, -1 for none) in the profile and returns it.
    int GetPort();

    int m_nPort = 0;

  private:
    IniFile& m_profile;
    wxChoice* m_list;
};

}  // namespace tamix
