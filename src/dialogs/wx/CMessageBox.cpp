#include "dialogs/wx/CMessageBox.h"

#include <wx/settings.h>
#include <wx/sizer.h>

namespace tamix {
CMessageBox::CMessageBox(wxWindow* parent, const wxString& text, const wxString& caption,
                         long style)
    : wxGenericMessageDialog(parent, text, caption, style) {}

wxFont CMessageBox::TitleFont() {
    return wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).Bold();
}

int CMessageBox::ShowModal() {
    if (!m_bBuilt) {
        m_bBuilt = true;
        DoCreateMsgdialog();
    }
    // Past wxGenericMessageDialog::ShowModal, which would lay the box out a
    // second time, and only after the modal hooks have seen it unbuilt.
    return wxDialog::ShowModal();  // NOLINT(bugprone-parent-virtual-call)
}

void CMessageBox::AddMessageDialogDetails(wxSizer* sizer) {
    // The caption in the title font, and about a square of the bar's height
    // for its close button with a margin each side.
    int width = 0;
    int height = 0;
    const wxFont font = TitleFont();
    GetTextExtent(GetTitle(), &width, &height, nullptr, nullptr, &font);
    sizer->Add(width + 3 * height, 0);
}

int ShowMessageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
    if ((style & wxICON_MASK) == 0)
        style |= (style & wxYES) != 0 ? wxICON_QUESTION : wxICON_INFORMATION;
    CMessageBox box(parent, text, caption, style | wxCENTRE);
    switch (box.ShowModal()) {
        case wxID_YES:
            return wxYES;
        case wxID_NO:
            return wxNO;
        case wxID_CANCEL:
            return wxCANCEL;
        default:
            return wxOK;
    }
}

}  // namespace tamix
