// The program's message boxes: wxMessageBox's choices and answers in a dialog
// at least as wide as its caption, which a native box sized to a short text
// cuts. User interface thread only.
#pragma once

#include <wx/msgdlg.h>

// After its base class in <wx/msgdlg.h>.
#include <wx/generic/msgdlgg.h>

namespace tamix {

class CMessageBox final : public wxGenericMessageDialog {
  public:
    CMessageBox(wxWindow* parent, const wxString& text, const wxString& caption, long style);

    // Title bars set their text in the bold variant of the interface font.
    static wxFont TitleFont();

    // Lays the box out before the modal hooks see it, then shows it.
    int ShowModal() override;

  protected:
    void AddMessageDialogDetails(wxSizer* sizer) override;

  private:
    bool m_bBuilt = false;
};

// As wxMessageBox: `style` takes wxOK, wxYES_NO, wxNO_DEFAULT and an icon (the
// information or question icon when none is given); returns wxOK, wxYES or wxNO.
// Once the program is ending no box is shown: its text goes to the standard
// error and the box's safe answer is taken.
int ShowMessageBox(const wxString& text, const wxString& caption, long style,
                   wxWindow* parent = nullptr);

// From now on, for the rest of the process: the program is ending (a signal,
// the end of the session) and an operator may no longer be there to answer.
void EndMessageBoxes();
bool MessageBoxesEnded();

}  // namespace tamix
