// The small modal dialogs: System setup (communication port), Add marker (the
// comment of a new marker), the help text and the About box. Each lives on its
// caller's stack for one use.
#pragma once

#include <wx/dialog.h>

#include <span>
#include <string>

#include "dialogs/IniFile.h"

class wxChoice;
class wxStaticText;
class wxTextCtrl;

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

class CAddMarkerDlg final : public wxDialog {
  public:
    explicit CAddMarkerDlg(wxWindow* parent);
    // The prompt names the index the new marker will get.
    void SetMarkerNumber(int n);
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;
    // Copies the comment (at most 80 characters, terminated) into a marker text entry.
    void GetComment(std::span<char> dest) const;

    std::string m_strComment;
    std::string m_strPrompt = "Marker comment:";

  private:
    wxStaticText* m_prompt;
    wxTextCtrl* m_edit;
};

class CHelpDlg final : public wxDialog {
  public:
    explicit CHelpDlg(wxWindow* parent);
    std::string m_strHelpText;
};

class CAboutDlg final : public wxDialog {
  public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace tamix
