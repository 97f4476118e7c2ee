// The document: holds no data; it only answers whether the frame may close.
#pragma once

#include <wx/docview.h>

namespace tamix {

class CTamixDoc final : public wxDocument {
  public:
    bool OnNewDocument() override;
    // Loads and stores nothing: the document has no content.
    bool DoOpenDocument(const wxString& file) override;
    bool DoSaveDocument(const wxString& file) override;
    // True only while no measurement runs.
    static bool CanCloseFrame();

  private:
    wxDECLARE_DYNAMIC_CLASS(CTamixDoc);
};

}  // namespace tamix
