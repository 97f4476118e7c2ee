// Places controls from dialog-template coordinates (dialog units of the
// dialog's font): drop-down lists and combos take their natural closed height,
// labels and buttons grow to their text, and controls taller than their
// template row stay centred on it, so nothing is clipped on GTK.
#pragma once

#include <wx/dialog.h>

class wxButton;

namespace tamix {

// Modal frame with caption and system menu, as every dialog of the program has.
inline constexpr long kDialogStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;

enum class Fit {
    Exact,     // group boxes, multi-line edits: the template's size
    Natural,   // single-line controls: natural height, template width or more
    DropDown,  // the template height is the opened list's: natural closed height
};

// Sets the client size of `dialog` from a template size in dialog units.
void SetTemplateSize(wxDialog* dialog, int width, int height);

// Positions `control` at the template rectangle (dialog units).
void Place(wxWindow* control, int x, int y, int w, int h, Fit fit = Fit::Natural);

// The dialog's default "OK" button at the template rectangle.
wxButton* AddDefaultButton(wxDialog* dialog, int x, int y, int w, int h);

}  // namespace tamix
