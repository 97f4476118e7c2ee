// The About box: the application icon, its name and version.
#pragma once

#include <wx/dialog.h>

namespace tamix {

class CAboutDlg final : public wxDialog {
  public:
    static constexpr int kVersionLabel = 1001;
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace tamix
