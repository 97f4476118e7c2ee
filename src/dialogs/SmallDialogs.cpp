#include "dialogs/SmallDialogs.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "acquisition/TextLimits.h"
#include "acquisition/Utf8Text.h"
#include "dialogs/DialogLayout.h"
#include "dialogs/HelpText.h"
#include "dialogs/ProfileKeys.h"
#include "view/MeasurementCommands.h"

#include "res/tamix.xpm"

namespace tamix {
namespace {

constexpr long kDialogStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;
constexpr int kPortList = 1034;
constexpr int kMarkerPrompt = 1044;
constexpr int kMarkerComment = 1035;
constexpr int kHelpText = 1047;

wxButton* DefaultButton(wxDialog* dialog, int x, int y, int w, int h) {
    auto* ok = new wxButton(dialog, wxID_OK, "OK");
    ok->SetDefault();
    Place(ok, x, y, w, h);
    return ok;
}

}  // namespace

CSystemSetupDlg::CSystemSetupDlg(wxWindow* parent, IniFile& profile)
    : wxDialog(parent, wxID_ANY, "System setup", wxDefaultPosition, wxDefaultSize, kDialogStyle),
      m_profile(profile) {
    m_nPort = m_profile.GetInt(profile::kSystemSetup, profile::kPort, 0);
    SetTemplateSize(this, 171, 63);
    Place(new wxStaticBox(this, wxID_ANY, "Communication port"), 5, 10, 85, 35, Fit::Exact);
    DefaultButton(this, 105, 10, 50, 14)->SetFocus();
    Place(new wxButton(this, wxID_CANCEL, "Cancel"), 105, 35, 50, 14);
    wxArrayString ports;
    for (int i = 1; i <= 8; ++i) ports.Add(wxString::Format("COM%d", i));
    m_list = new wxChoice(this, kPortList, wxDefaultPosition, wxDefaultSize, ports);
    Place(m_list, 10, 25, 75, 85, Fit::DropDown);
    TransferDataToWindow();
    CentreOnParent();
}

bool CSystemSetupDlg::TransferDataToWindow() {
    m_list->SetSelection(m_nPort >= 0 && m_nPort < 8 ? m_nPort : wxNOT_FOUND);
    return true;
}

bool CSystemSetupDlg::TransferDataFromWindow() {
    m_nPort = m_list->GetSelection();
    return true;
}

int CSystemSetupDlg::GetPort() {
    m_profile.SetInt(profile::kSystemSetup, profile::kPort, m_nPort);
    std::string error;
    m_profile.Save(error);
    return m_nPort;
}

CAddMarkerDlg::CAddMarkerDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Add marker", wxDefaultPosition, wxDefaultSize, kDialogStyle) {
    SetTemplateSize(this, 209, 71);
    DefaultButton(this, 40, 45, 50, 14);
    m_prompt = new wxStaticText(this, kMarkerPrompt, "Marker comment:");
    Place(m_prompt, 10, 5, 90, 10);
    m_edit = new wxTextCtrl(this, kMarkerComment, "");
    Place(m_edit, 10, 20, 190, 12);
    Place(new wxButton(this, wxID_CANCEL, "Cancel"), 120, 45, 50, 14);
    CentreOnParent();
    m_edit->SetFocus();
}

void CAddMarkerDlg::SetMarkerNumber(int n) {
    m_strPrompt = std::to_string(n) + ". marker comment:";
    TransferDataToWindow();
}

bool CAddMarkerDlg::TransferDataToWindow() {
    m_prompt->SetLabel(wxString::FromUTF8(m_strPrompt));
    // Counted in characters, so the field takes no more while typing or pasting.
    m_edit->SetMaxLength(kCommentChars);
    m_edit->ChangeValue(wxString::FromUTF8(m_strComment));
    return true;
}

bool CAddMarkerDlg::TransferDataFromWindow() {
    const std::string text(m_edit->GetValue().utf8_str());
    if (Utf8Length(text) > kCommentChars) {
        wxMessageBox(wxString::Format("Please enter no more than %d characters.",
                                      static_cast<int>(kCommentChars)),
                     text::kAppTitle, wxOK | wxICON_EXCLAMATION, this);
        m_edit->SetFocus();
        return false;
    }
    m_strComment = text;
    return true;
}

void CAddMarkerDlg::GetComment(std::span<char> dest) const {
    CopyText(dest, m_strComment, kCommentChars);
}

CHelpDlg::CHelpDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Help Dialog", wxDefaultPosition, wxDefaultSize, kDialogStyle),
      m_strHelpText(HelpText()) {
    SetTemplateSize(this, 507, 226);
    DefaultButton(this, 229, 200, 50, 14)->SetFocus();
    wxString shown = wxString::FromUTF8(m_strHelpText);
    shown.Replace("\r\n", "\n");
    auto* text = new wxTextCtrl(this, kHelpText, shown, wxDefaultPosition, wxDefaultSize,
                                wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL | wxBORDER_SUNKEN);
    Place(text, 10, 10, 485, 180, Fit::Exact);
}

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "About Tamix", wxDefaultPosition, wxDefaultSize, kDialogStyle) {
    SetTemplateSize(this, 217, 98);
    Place(new wxStaticBitmap(this, wxID_ANY, wxBitmap(tamix_xpm)), 11, 17, 20, 20);
    Place(new wxStaticText(this, wxID_ANY,
                           wxString::FromUTF8("Tamix adatgy\xC3\xBBjt\xC3\xB5 szoftver")),
          40, 10, 119, 8);
    DefaultButton(this, 176, 6, 32, 14)->SetFocus();
}

}  // namespace tamix
