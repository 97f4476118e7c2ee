#include "dialogs/wx/CSystemSetupDlg.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/statbox.h>

#include "base/ProfileKeys.h"
#include "dialogs/wx/DialogLayout.h"
#include "dialogs/wx/SaveProfile.h"

namespace tamix {

namespace {

constexpr int kPortList = 1034;

}  // namespace

CSystemSetupDlg::CSystemSetupDlg(wxWindow* parent, IniFile& profile)
    : wxDialog(parent, wxID_ANY, "System setup", wxDefaultPosition, wxDefaultSize, kDialogStyle),
      m_profile(profile) {
    m_nPort = m_profile.GetInt(profile::kSystemSetup, profile::kPort, 0);
    SetTemplateSize(this, 171, 63);
    Place(new wxStaticBox(this, wxID_ANY, "Communication port"), 5, 10, 85, 35, Fit::Exact);
    AddDefaultButton(this, 105, 10, 50, 14)->SetFocus();
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
    SaveProfile(m_profile, GetParent());
    return m_nPort;
}

}  // namespace tamix
