// Saves the profile and tells the operator when that fails, naming the file
// and the system's reason. User interface thread only.
#pragma once

class wxWindow;

namespace tamix {

class IniFile;

// False (after the message) when the profile could not be saved.
bool SaveProfile(const IniFile& profile, wxWindow* parent);

}  // namespace tamix
