#include "dialogs/wx/DialogLayout.h"

#include <wx/button.h>

#include <algorithm>

namespace tamix {

void SetTemplateSize(wxDialog* dialog, int width, int height) {
    dialog->SetClientSize(dialog->ConvertDialogToPixels(wxSize(width, height)));
}

void Place(wxWindow* control, int x, int y, int w, int h, Fit fit) {
    wxWindow* parent = control->GetParent();
    const wxPoint pos = parent->ConvertDialogToPixels(wxPoint(x, y));
    wxSize size = parent->ConvertDialogToPixels(wxSize(w, h));
    if (fit != Fit::Exact) {
        const wxSize best = control->GetBestSize();
        size.x = std::max(size.x, best.x);
        const int height = fit == Fit::DropDown ? best.y : std::max(size.y, best.y);
        const wxSize rowSize =
            parent->ConvertDialogToPixels(wxSize(w, fit == Fit::DropDown ? 12 : h));
        // Keep a control that is taller than its row centred on that row.
        const int shift = std::max(0, height - rowSize.y) / 2;
        control->SetSize(pos.x, pos.y - shift, size.x, height);
        return;
    }
    control->SetSize(pos.x, pos.y, size.x, size.y);
}

wxButton* AddDefaultButton(wxDialog* dialog, int x, int y, int w, int h) {
    auto* ok = new wxButton(dialog, wxID_OK, "OK");
    ok->SetDefault();
    Place(ok, x, y, w, h);
    return ok;
}

}  // namespace tamix
