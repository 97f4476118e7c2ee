#include "dialogs/wx/CMessageBox.h"

#include <wx/settings.h>
#include <wx/sizer.h>

#include <cstdio>

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
    // The caption in the title font, beside what a window manager puts in the
    // bar: the window's icon at the left, and iconify, maximise and close at
    // the right, each about a square of the bar's height with some spacing.
    // The label is centred between them, so both sides count.
    int width = 0;
    int height = 0;
    const wxFont font = TitleFont();
    GetTextExtent(GetTitle(), &width, &height, nullptr, nullptr, &font);
    sizer->Add(width + 6 * height, 0);
}

namespace {
bool gEnded = false;
}  // namespace

void EndMessageBoxes() {
    gEnded = true;
}

bool MessageBoxesEnded() {
    return gEnded;
}

int ShowMessageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
    if (gEnded) {
        std::fprintf(stderr, "%s: %s\n", caption.utf8_str().data(), text.utf8_str().data());
        if ((style & wxYES_NO) != 0) return (style & wxNO_DEFAULT) != 0 ? wxNO : wxYES;
        return wxOK;
    }
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
