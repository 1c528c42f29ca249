// The per-user folders: for application settings (the Windows application-data folder,
// CSIDL_APPDATA) the XDG configuration folder, and the XDG data folder.
#pragma once

#include <string>

namespace qm {

// $XDG_CONFIG_HOME when it is set to an absolute path, else ".config" in the home folder
// ($HOME, else the password database). Empty when none of them tells.
std::u16string UserConfigFolder();

// The per-user data folder of the desktop (menus, file types): $XDG_DATA_HOME when it is an
// absolute path, else ".local/share" in the home folder. Empty when none of them tells.
std::u16string UserDataFolder();

}  // namespace qm
