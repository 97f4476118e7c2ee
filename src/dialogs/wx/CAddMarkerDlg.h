// The Add marker dialog: the comment of a new marker, at most 80 characters.
#pragma once

#include <wx/dialog.h>
#include <span>
#include <string>

class wxStaticText;
class wxTextCtrl;

namespace tamix {

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

}  // namespace tamix
