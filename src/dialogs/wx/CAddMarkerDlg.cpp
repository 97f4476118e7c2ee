#include "dialogs/wx/CAddMarkerDlg.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include "dialogs/wx/CMessageBox.h"

#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "control/MeasurementCommands.h"
#include "dialogs/wx/DialogLayout.h"

namespace tamix {

namespace {

constexpr int kMarkerPrompt = 1044;
constexpr int kMarkerComment = 1035;

}  // namespace

CAddMarkerDlg::CAddMarkerDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Add marker", wxDefaultPosition, wxDefaultSize, kDialogStyle) {
    SetTemplateSize(this, 209, 71);
    AddDefaultButton(this, 40, 45, 50, 14);
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
        ShowMessageBox(wxString::Format("Please enter no more than %d characters.",
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

}  // namespace tamix
