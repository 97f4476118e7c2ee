// The min-max bands of the screen columns, one-pixel-wide vertical bars filled
// straight into the pixels of the view's buffer where the toolkit draws through
// cairo image surfaces, else through the DC. User interface thread only.
#pragma once

#include <wx/colour.h>
#include <wx/dc.h>
#include <wx/gdicmn.h>

#include <span>

namespace tamix {

// A column's band from row `top` to row `bottom`, both drawn.
struct ColumnBar {
    int x = 0;
    int top = 0;
    int bottom = 0;
};

enum class BarFill {
    Fastest,  // the buffer's pixels when they can be reached, else as Path
    Path,     // one filled path of pixel-aligned rectangles (the reference)
};

// Fills `bars` in `colour` inside `clip` (device pixels of `dc`), opaque and
// unsmoothed: the same pixels whichever way they are drawn.
void FillColumnBars(wxDC& dc, std::span<const ColumnBar> bars, const wxRect& clip,
                    const wxColour& colour, BarFill how = BarFill::Fastest);

}  // namespace tamix
