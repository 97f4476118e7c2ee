// The help dialog: the fixed help text in a read-only field.
#pragma once

#include <wx/dialog.h>
#include <string>

namespace tamix {

class CHelpDlg final : public wxDialog {
  public:
    explicit CHelpDlg(wxWindow* parent);
    std::string m_strHelpText;
};

}  // namespace tamix
