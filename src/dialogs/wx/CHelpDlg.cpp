#include "dialogs/wx/CHelpDlg.h"

#include <wx/button.h>
#include <wx/textctrl.h>

#include "dialogs/HelpText.h"
#include "dialogs/wx/DialogLayout.h"

namespace tamix {

namespace {

constexpr int kHelpText = 1047;

}  // namespace

CHelpDlg::CHelpDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Help Dialog", wxDefaultPosition, wxDefaultSize, kDialogStyle),
      m_strHelpText(HelpText()) {
    SetTemplateSize(this, 507, 226);
    AddDefaultButton(this, 229, 200, 50, 14)->SetFocus();
    wxString shown = wxString::FromUTF8(m_strHelpText);
    shown.Replace("\r\n", "\n");
    auto* text = new wxTextCtrl(this, kHelpText, shown, wxDefaultPosition, wxDefaultSize,
                                wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL | wxBORDER_SUNKEN);
    Place(text, 10, 10, 485, 180, Fit::Exact);
}

}  // namespace tamix
