#include "dialogs/wx/CMeasurementOptionsDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/filedlg.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include "dialogs/wx/CMessageBox.h"

#include <optional>

#include "acquisition/MeasurementSetup.h"
#include "control/MeasurementCommands.h"
#include "dialogs/wx/DialogLayout.h"
#include "dialogs/wx/SaveProfile.h"

namespace tamix {

namespace id = options_id;

namespace {

// The range the exchange checks Total time against, in either time unit.
constexpr double kMinTotalTime = 0.01;
constexpr double kMaxTotalTime = 6000;

// The leading number of a field's text, as the exchange reads it.
std::optional<double> NumberIn(std::string_view text) {
    bool ok = false;
    const double value = LeadingNumber(text, &ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

wxString W(std::string_view s) {
    return wxString::FromUTF8(s.data(), s.size());
}
std::string U(const wxString& s) {
    return std::string(s.utf8_str());
}

}  // namespace

CMeasurementOptionsDlg::CMeasurementOptionsDlg(wxWindow* parent, IniFile& profile)
    : wxDialog(parent, wxID_ANY, "Measurement Options", wxDefaultPosition, wxDefaultSize,
               kDialogStyle),
      m_profile(profile),
      m_options(profile) {
    SetTemplateSize(this, 352, 245);
    // Group boxes first, so that they lie beneath the controls they frame.
    Place(new wxStaticBox(this, wxID_ANY, "Measured channels"), 5, 5, 145, 190, Fit::Exact);
    Place(new wxStaticBox(this, wxID_ANY, "Output"), 155, 70, 190, 125, Fit::Exact);
    Place(new wxStaticBox(this, wxID_ANY, "Measurement timing"), 155, 5, 190, 60, Fit::Exact);
    Place(new wxStaticBox(this, wxID_ANY, "Channel setup"), 10, 55, 135, 135, Fit::Exact);
    Place(new wxStaticBox(this, wxID_ANY, "Filename"), 160, 105, 180, 85, Fit::Exact);

    wxButton* ok = AddDefaultButton(this, 85, 221, 50, 14);
    Place(new wxButton(this, wxID_CANCEL, "Cancel"), 215, 221, 50, 14);
    // Kept in the profile as SplitEvery: "1h", "30m"; empty keeps one file.
    Place(new wxStaticText(this, wxID_ANY, "New file every"), 160, 203, 55, 8);
    Place(new wxTextCtrl(this, id::kSplitEvery, ""), 225, 201, 55, 12);
    Place(new wxStaticText(this, wxID_ANY, "e.g. 1h, 30m"), 285, 203, 55, 8);
    const int xs[] = {10, 45, 80, 115};
    for (int i = 0; i < 8; ++i) {
        Place(new wxCheckBox(this, id::kChannel0 + i, W(kInputLabels[i])), xs[i % 4],
              i < 4 ? 20 : 35, 30, 10);
    }
    Place(new wxChoice(this, id::kFileType, wxDefaultPosition, wxDefaultSize,
                       wxArrayString(2, std::array<wxString, 2>{"WINDAQ binary", "TEXT"}.data())),
          260, 140, 75, 46, Fit::DropDown);
    Place(new wxTextCtrl(this, id::kFileName, ""), 165, 120, 170, 12);
    Place(new wxTextCtrl(this, id::kTotalTime, ""), 235, 24, 55, 12);
    const std::array<wxString, 5> freqs{"2000", "1000", "500", "250", "125"};
    Place(new wxChoice(this, id::kFrequency, wxDefaultPosition, wxDefaultSize,
                       wxArrayString(freqs.size(), freqs.data())),
          235, 45, 75, 60, Fit::DropDown);
    const std::array<wxString, 5> names{"ECG", "ECG Synchron", "Blood Pressure", "Blood Flow",
                                        "Other"};
    Place(new wxComboBox(this, id::kSignalName, "", wxDefaultPosition, wxDefaultSize,
                         wxArrayString(names.size(), names.data()), wxCB_DROPDOWN),
          60, 105, 80, 55, Fit::DropDown);
    Place(
        new wxTextCtrl(this, id::kApproxSize, "", wxDefaultPosition, wxDefaultSize, wxTE_READONLY),
        225, 170, 110, 12);
    Place(new wxButton(this, id::kBrowse, "Browse"), 165, 140, 55, 14);
    Place(new wxRadioButton(this, id::kScreenOnly, "View data on screen only", wxDefaultPosition,
                            wxDefaultSize, wxRB_GROUP),
          160, 90, 95, 10);
    Place(new wxRadioButton(this, id::kSaveToFile, "Save data to file"), 265, 90, 65, 10);
    const std::array<wxString, 3> units{"Volt", "mmHg", "a.u."};
    Place(new wxComboBox(this, id::kUnit, "", wxDefaultPosition, wxDefaultSize,
                         wxArrayString(units.size(), units.data()), wxCB_DROPDOWN),
          60, 125, 80, 41, Fit::DropDown);
    Place(new wxTextCtrl(this, id::kValueAt1V, ""), 35, 145, 80, 12);
    Place(new wxStaticText(this, id::kUnitLabel1V, "unit"), 121, 147, 22, 11);
    Place(new wxTextCtrl(this, id::kValueAt0V, ""), 35, 166, 80, 12);
    Place(new wxStaticText(this, id::kUnitLabel0V, "unit"), 121, 168, 22, 11);
    const int widths[] = {18, 19, 20, 17, 19, 19, 19, 17};
    for (int i = 0; i < 8; ++i) {
        Place(new wxRadioButton(this, id::kChannelRadio0 + i, W(kInputLabels[i]), wxDefaultPosition,
                                wxDefaultSize, i == 0 ? wxRB_GROUP : 0),
              50 + 25 * (i % 4), i < 4 ? 70 : 85, widths[i], 10);
    }
    const std::array<wxString, 2> timeUnits{"min", "hour"};
    Place(new wxChoice(this, id::kTimeUnit, wxDefaultPosition, wxDefaultSize,
                       wxArrayString(timeUnits.size(), timeUnits.data())),
          295, 24, 34, 37, Fit::DropDown);

    Place(new wxStaticText(this, wxID_ANY, "Signal name"), 15, 107, 43, 10);
    Place(new wxStaticText(this, wxID_ANY, "Type"), 236, 143, 20, 8);
    Place(new wxStaticText(this, wxID_ANY, "Sampling frequency"), 160, 47, 65, 10);
    Place(new wxStaticText(this, wxID_ANY, "Total time"), 160, 26, 35, 10);
    Place(new wxStaticText(this, wxID_ANY, "Approximate size"), 165, 172, 55, 8);
    Place(new wxStaticText(this, wxID_ANY, "Hz"), 320, 47, 16, 7);
    Place(new wxStaticText(this, wxID_ANY, "Unit"), 15, 127, 30, 8);
    Place(new wxStaticText(this, wxID_ANY, "Channel"), 14, 76, 30, 8);
    Place(new wxStaticText(this, wxID_ANY, "1V ="), 15, 147, 20, 8);
    Place(new wxStaticText(this, wxID_ANY, "0V ="), 15, 168, 20, 8);

    Bind(wxEVT_CHECKBOX, &CMeasurementOptionsDlg::OnChannelBox, this, id::kChannel0,
         id::kChannel0 + 7);
    Bind(wxEVT_RADIOBUTTON, &CMeasurementOptionsDlg::OnChannelRadio, this, id::kChannelRadio0,
         id::kChannelRadio0 + 7);
    Bind(wxEVT_CHOICE, &CMeasurementOptionsDlg::OnEstimateInput, this, id::kFileType);
    Bind(wxEVT_CHOICE, &CMeasurementOptionsDlg::OnEstimateInput, this, id::kFrequency);
    Bind(wxEVT_TEXT, &CMeasurementOptionsDlg::OnEstimateInput, this, id::kTotalTime);
    Bind(wxEVT_CHOICE, &CMeasurementOptionsDlg::OnTimeUnit, this, id::kTimeUnit);
    Bind(wxEVT_TEXT, &CMeasurementOptionsDlg::OnFileName, this, id::kFileName);
    Bind(wxEVT_COMBOBOX, &CMeasurementOptionsDlg::OnUnitSelected, this, id::kUnit);
    Bind(wxEVT_TEXT, &CMeasurementOptionsDlg::OnUnitEdited, this, id::kUnit);
    Bind(wxEVT_BUTTON, &CMeasurementOptionsDlg::OnBrowse, this, id::kBrowse);
    Bind(wxEVT_BUTTON, &CMeasurementOptionsDlg::OnOk, this, wxID_OK);

    TransferDataToWindow();
    SetText(id::kUnitLabel1V, m_options.m_strUnit);
    SetText(id::kUnitLabel0V, m_options.m_strUnit);
    CentreOnParent();
    ok->SetFocus();
}

void CMeasurementOptionsDlg::TransferToSetup(MeasurementSetup& setup) {
    m_options.TransferToSetup(setup, m_profile);
    SaveProfile(m_profile, GetParent());
}

bool CMeasurementOptionsDlg::TransferDataToWindow() {
    m_bFilling = true;
    m_options.Exchange(*this, false);
    m_bFilling = false;
    return true;
}

bool CMeasurementOptionsDlg::TransferDataFromWindow() {
    if (!m_options.Exchange(*this, true)) return false;
    const std::string problem = m_options.CheckForOk();
    if (!problem.empty()) {
        Fail(id::kFileName, problem, true);
        return false;
    }
    return true;
}

void CMeasurementOptionsDlg::OnOk(wxCommandEvent&) {
    if (TransferDataFromWindow()) EndModal(wxID_OK);
}

int CMeasurementOptionsDlg::GetCheck(int i) const {
    return static_cast<wxCheckBox*>(FindWindow(i))->GetValue() ? 1 : 0;
}
void CMeasurementOptionsDlg::SetCheck(int i, int state) {
    static_cast<wxCheckBox*>(FindWindow(i))->SetValue(state != 0);
}
std::string CMeasurementOptionsDlg::GetText(int i) const {
    if (auto* text = dynamic_cast<wxTextCtrl*>(FindWindow(i))) {
        std::string typed = U(text->GetValue());
        if (i == id::kTotalTime && m_bHandlerRound) {
            // A time still being typed ("", "0", "0.") is checked at OK; until
            // then the other handlers work with the last complete value.
            const std::optional<double> v = NumberIn(typed);
            m_bTotalTimeHeld = !v || *v < kMinTotalTime || *v > kMaxTotalTime;
            if (m_bTotalTimeHeld) return ddx::FormatNumber(m_options.m_dTotalTime);
        }
        return typed;
    }
    return U(FindWindow(i)->GetLabel());
}
void CMeasurementOptionsDlg::SetText(int i, std::string_view value) {
    if (i == id::kTotalTime && m_bHandlerRound) {
        // Filling never rewrites what is being typed when it means the same
        // value, or when the handler kept the last complete value in its place.
        const std::string typed = U(static_cast<wxTextCtrl*>(FindWindow(i))->GetValue());
        const std::optional<double> shown = NumberIn(typed);
        const std::optional<double> wanted = NumberIn(value);
        if (m_bTotalTimeHeld && value == ddx::FormatNumber(m_options.m_dTotalTime)) return;
        if (shown && wanted && *shown == *wanted) return;
    }
    m_bFilling = true;
    if (auto* text = dynamic_cast<wxTextCtrl*>(FindWindow(i))) {
        text->ChangeValue(W(value));
    } else {
        FindWindow(i)->SetLabel(W(value));
    }
    m_bFilling = false;
}
int CMeasurementOptionsDlg::GetSelection(int i) const {
    return static_cast<wxChoice*>(FindWindow(i))->GetSelection();
}
void CMeasurementOptionsDlg::SetSelection(int i, int index) {
    auto* choice = static_cast<wxChoice*>(FindWindow(i));
    choice->SetSelection(index >= 0 && index < static_cast<int>(choice->GetCount()) ? index
                                                                                    : wxNOT_FOUND);
}
std::string CMeasurementOptionsDlg::GetComboText(int i) const {
    return U(static_cast<wxComboBox*>(FindWindow(i))->GetValue());
}
void CMeasurementOptionsDlg::SetComboText(int i, std::string_view text) {
    m_bFilling = true;
    auto* combo = static_cast<wxComboBox*>(FindWindow(i));
    const wxString wanted = W(text).Lower();
    int match = wxNOT_FOUND;
    for (unsigned k = 0; k < combo->GetCount() && match == wxNOT_FOUND; ++k) {
        if (combo->GetString(k).Lower().StartsWith(wanted)) match = static_cast<int>(k);
    }
    if (match != wxNOT_FOUND) {
        combo->SetSelection(match);
    } else {
        combo->ChangeValue(W(text));
    }
    m_bFilling = false;
}
int CMeasurementOptionsDlg::GetRadio(int first, int count) const {
    for (int k = 0; k < count; ++k) {
        if (static_cast<wxRadioButton*>(FindWindow(first + k))->GetValue()) return k;
    }
    return -1;
}
void CMeasurementOptionsDlg::SetRadio(int first, int count, int position) {
    for (int k = 0; k < count; ++k) {
        static_cast<wxRadioButton*>(FindWindow(first + k))->SetValue(k == position);
    }
}
void CMeasurementOptionsDlg::Fail(int i, std::string_view message, bool exclamation) {
    ShowMessageBox(W(message), text::kAppTitle, wxOK | (exclamation ? wxICON_EXCLAMATION : 0),
                   this);
    if (wxWindow* w = FindWindow(i)) w->SetFocus();
}

CMeasurementOptionsDlg::HandlerRound::HandlerRound(CMeasurementOptionsDlg& dlg) : m_dlg(dlg) {
    m_dlg.m_bHandlerRound = true;
    m_dlg.m_bTotalTimeHeld = false;
}
CMeasurementOptionsDlg::HandlerRound::~HandlerRound() {
    m_dlg.m_bHandlerRound = false;
    m_dlg.m_bTotalTimeHeld = false;
}

void CMeasurementOptionsDlg::OnChannelBox(wxCommandEvent& event) {
    if (m_bFilling) return;
    const HandlerRound round(*this);
    m_options.OnChannelClicked(*this, event.GetId() - id::kChannel0);
}
void CMeasurementOptionsDlg::OnChannelRadio(wxCommandEvent&) {
    if (m_bFilling) return;
    const HandlerRound round(*this);
    m_options.OnChannelRadio(*this);
}
void CMeasurementOptionsDlg::OnEstimateInput(wxCommandEvent&) {
    if (m_bFilling) return;
    const HandlerRound round(*this);
    m_options.OnEstimateInputChanged(*this);
}
void CMeasurementOptionsDlg::OnTimeUnit(wxCommandEvent&) {
    if (m_bFilling) return;
    const HandlerRound round(*this);
    m_options.OnTimeUnitChanged(*this);
}
void CMeasurementOptionsDlg::OnFileName(wxCommandEvent&) {
    if (m_bFilling) return;
    const HandlerRound round(*this);
    m_options.OnFileNameChanged(*this);
}
void CMeasurementOptionsDlg::OnUnitSelected(wxCommandEvent& event) {
    if (m_bFilling || event.GetSelection() == wxNOT_FOUND) return;
    const std::string unit =
        U(static_cast<wxComboBox*>(FindWindow(id::kUnit))->GetString(event.GetSelection()));
    SetText(id::kUnitLabel1V, unit);
    SetText(id::kUnitLabel0V, unit);
}
void CMeasurementOptionsDlg::OnUnitEdited(wxCommandEvent&) {
    if (m_bFilling) return;
    const HandlerRound round(*this);
    m_options.OnUnitEdited(*this);
}

void CMeasurementOptionsDlg::OnBrowse(wxCommandEvent&) {
    m_options.Exchange(*this, true);
    wxFileDialog dialog(this, wxFileSelectorPromptStr, "", W(m_options.BrowseInitialName()),
                        W(m_options.BrowseFilter()), wxFD_SAVE);
    if (dialog.ShowModal() != wxID_OK) return;
    m_options.AcceptBrowsedName(U(dialog.GetPath()));
    TransferDataToWindow();
}

}  // namespace tamix
