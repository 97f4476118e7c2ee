// What the live view and the review window draw alike around a channel's
// strip: the sunken edges and the icon column. User interface thread only.
#pragma once

#include <wx/dc.h>
#include <wx/gdicmn.h>

#include "view/ViewGeometry.h"
#include "view/wx/ViewTheme.h"

namespace tamix {

wxRect ToWx(const Rect& r);

// A sunken three-dimensional edge, two pixels wide, on all four sides.
void DrawSunkenEdge(wxDC& dc, const Rect& r);

// Strip `strip`'s edge and its three icons, each in a sunken cell, the icons
// clipped to the icon column.
void DrawStripFrame(wxDC& dc, const ViewLayout& layout, const ViewTheme& theme, int strip);

}  // namespace tamix
