#include "view/wx/AccessibleName.h"

#if defined(__WXGTK__)
#include <atk/atk.h>
#endif

namespace tamix {

void SetAccessibleName(wxWindow& window, const wxString& text) {
#if defined(__WXGTK__)
    // Every GTK widget is its own accessible object's implementor.
    if (window.GetHandle() == nullptr) return;
    AtkObject* accessible = atk_implementor_ref_accessible(ATK_IMPLEMENTOR(window.GetHandle()));
    if (accessible == nullptr) return;
    atk_object_set_name(accessible, text.utf8_str());
    g_object_unref(accessible);
#else
    window.SetName(text);
#endif
}

}  // namespace tamix
