// The signal view's pens, colours and icons for the window's actual
// background, so that a dark theme shows traces, zero lines and icons as
// clearly as a light one. Rebuilt when the background changes.
#pragma once

#include <wx/bitmap.h>
#include <wx/colour.h>

#include <array>

namespace tamix {

struct ViewTheme {
    wxColour background;
    wxColour ink;                   // text, zero lines, icons, markers
    wxColour zeroLine;              // the dotted middle row of a strip
    std::array<wxColour, 8> trace;  // by physical input
    std::array<wxBitmap, 3> icons;  // zoom, volume, shift in the ink colour

    // The theme for the system's window colour now.
    static ViewTheme ForSystem();
    static ViewTheme For(const wxColour& background);
};

}  // namespace tamix
