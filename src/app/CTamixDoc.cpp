#include "app/CTamixDoc.h"

#include "acquisition/MeasurementSetup.h"

namespace tamix {

wxIMPLEMENT_DYNAMIC_CLASS(CTamixDoc, wxDocument);

bool CTamixDoc::OnNewDocument() {
    if (!wxDocument::OnNewDocument()) return false;
    SetTitle("Tamix");
    // The window title reads "Tamix - Tamix Windows Application".
    if (wxView* view = GetFirstView()) view->OnChangeFilename();
    return true;
}

bool CTamixDoc::DoOpenDocument(const wxString&) {
    return true;
}

bool CTamixDoc::DoSaveDocument(const wxString&) {
    return true;
}

bool CTamixDoc::CanCloseFrame() {
    return TheSetup().Status() == RunStatus::Idle;
}

}  // namespace tamix
