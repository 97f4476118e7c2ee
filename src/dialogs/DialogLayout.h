// Places controls from dialog-template coordinates (dialog units of the
// dialog's font): drop-down lists and combos take their natural closed height,
// labels and buttons grow to their text, and controls taller than their
// template row stay centred on it, so nothing is clipped on GTK.
#pragma once

#include <wx/dialog.h>

namespace tamix {

enum class Fit {
    Exact,     // group boxes, multi-line edits: the template's size
    Natural,   // single-line controls: natural height, template width or more
    DropDown,  // the template height is the opened list's: natural closed height
};

// Sets the client size of `dialog` from a template size in dialog units.
void SetTemplateSize(wxDialog* dialog, int width, int height);

// Positions `control` at the template rectangle (dialog units).
void Place(wxWindow* control, int x, int y, int w, int h, Fit fit = Fit::Natural);

}  // namespace tamix
