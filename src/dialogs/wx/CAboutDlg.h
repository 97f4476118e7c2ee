// The About box: the application icon and its name.
#pragma once

#include <wx/dialog.h>

namespace tamix {

class CAboutDlg final : public wxDialog {
  public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace tamix
