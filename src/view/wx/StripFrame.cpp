#include "view/wx/StripFrame.h"

#include <wx/dcclient.h>
#include <wx/settings.h>

namespace tamix {

wxRect ToWx(const Rect& r) {
    return {r.left, r.top, r.Width(), r.Height()};
}

void DrawSunkenEdge(wxDC& dc, const Rect& r) {
    if (r.Width() < 2 || r.Height() < 2) return;
    const wxColour shadow = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW);
    const wxColour dark = wxSystemSettings::GetColour(wxSYS_COLOUR_3DDKSHADOW);
    const wxColour light = wxSystemSettings::GetColour(wxSYS_COLOUR_3DLIGHT);
    const wxColour highlight = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT);
    const int l = r.left, t = r.top, rr = r.right - 1, b = r.bottom - 1;
    dc.SetPen(wxPen(shadow));
    dc.DrawLine(l, b, l, t);
    dc.DrawLine(l, t, rr, t);
    dc.SetPen(wxPen(highlight));
    dc.DrawLine(rr, t, rr, b);
    dc.DrawLine(rr, b, l - 1, b);
    dc.SetPen(wxPen(dark));
    dc.DrawLine(l + 1, b - 1, l + 1, t + 1);
    dc.DrawLine(l + 1, t + 1, rr - 1, t + 1);
    dc.SetPen(wxPen(light));
    dc.DrawLine(rr - 1, t + 1, rr - 1, b - 1);
    dc.DrawLine(rr - 1, b - 1, l, b - 1);
}

void DrawStripFrame(wxDC& dc, const ViewLayout& layout, const ViewTheme& theme, int strip) {
    const Rect& s = layout.strips[strip];
    DrawSunkenEdge(dc, s);
    for (int k = 0; k < 3; ++k) {
        const Rect cell = layout.IconCell(strip, k);
        {
            wxDCClipper clip(dc, wxRect(0, s.top, kIconColumnWidth, s.Height()));
            dc.DrawBitmap(theme.icons[k], layout.IconX(cell), layout.IconY(cell), true);
        }
        DrawSunkenEdge(dc, cell);
    }
}

}  // namespace tamix
