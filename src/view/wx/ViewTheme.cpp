#include "view/wx/ViewTheme.h"

#include <wx/image.h>
#include <wx/settings.h>

#include "view/TracePalette.h"

#include "res/shift.xpm"
#include "res/volume.xpm"
#include "res/zoom.xpm"

namespace tamix {
namespace {

Rgb ToRgb(const wxColour& c) {
    return {c.Red(), c.Green(), c.Blue()};
}
wxColour ToWx(Rgb c) {
    return {c.r, c.g, c.b};
}

// The icons are black glyphs on a transparent ground: drawn in the ink colour.
wxBitmap Inked(const char* const* xpm, const wxColour& ink) {
    wxImage image = wxBitmap(xpm).ConvertToImage();
    image.Replace(0, 0, 0, ink.Red(), ink.Green(), ink.Blue());
    return wxBitmap(image);
}

}  // namespace

ViewTheme ViewTheme::ForSystem() {
    return For(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
}

ViewTheme ViewTheme::For(const wxColour& background) {
    ViewTheme t;
    const Rgb bg = ToRgb(background);
    t.background = background;
    t.ink = ToWx(InkFor(bg));
    // Halfway between ink and background: visible, yet quieter than a trace.
    const Rgb ink = InkFor(bg);
    t.zeroLine = ToWx(WithContrast(
        Rgb{static_cast<uint8_t>((ink.r + bg.r) / 2), static_cast<uint8_t>((ink.g + bg.g) / 2),
            static_cast<uint8_t>((ink.b + bg.b) / 2)},
        bg, 2.0));
    for (int i = 0; i < 8; ++i) t.trace[i] = ToWx(TraceColour(i, bg));
    t.icons = {Inked(zoom_xpm, t.ink), Inked(volume_xpm, t.ink), Inked(shift_xpm, t.ink)};
    return t;
}

}  // namespace tamix
