#include "dialogs/wx/SaveProfile.h"

#include "base/IniFile.h"
#include "base/Messages.h"
#include "dialogs/wx/CMessageBox.h"

namespace tamix {

bool SaveProfile(const IniFile& profile, wxWindow* parent) {
    std::string error;
    if (profile.Save(error)) return true;
    const std::string text = ProfileSaveFailure(profile.path(), error);
    ShowMessageBox(wxString::FromUTF8(text), text::kAppTitle, wxOK | wxICON_ERROR, parent);
    return false;
}

}  // namespace tamix
