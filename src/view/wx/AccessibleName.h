// What a screen reader reads for a window that draws its own content: the
// text is given to the accessibility interface as the window's name.
#pragma once

#include <wx/string.h>
#include <wx/window.h>

namespace tamix {

void SetAccessibleName(wxWindow& window, const wxString& text);

}  // namespace tamix
