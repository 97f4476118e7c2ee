#include "dialogs/wx/CAboutDlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "dialogs/wx/DialogLayout.h"

#include "res/tamix.xpm"

namespace tamix {

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "About Tamix", wxDefaultPosition, wxDefaultSize, kDialogStyle) {
    SetTemplateSize(this, 217, 98);
    Place(new wxStaticBitmap(this, wxID_ANY, wxBitmap(tamix_xpm)), 11, 17, 20, 20);
    Place(new wxStaticText(this, wxID_ANY,
                           wxString::FromUTF8("Tamix adatgy\xC5\xB1jt\xC5\x91 szoftver")),
          40, 10, 119, 8);
    Place(new wxStaticText(this, kVersionLabel, "Version " TAMIX_VERSION), 40, 22, 119, 8);
    AddDefaultButton(this, 176, 6, 32, 14)->SetFocus();
    // Not centred: the box opens at its template position within its owner.
    if (parent != nullptr) Move(parent->ClientToScreen(ConvertDialogToPixels(wxPoint(34, 22))));
}

}  // namespace tamix
