// The per-user folder for application settings (the Windows application-data folder,
// CSIDL_APPDATA): here the XDG configuration folder.
#pragma once

#include <string>

namespace qm {

// $XDG_CONFIG_HOME when it is set to an absolute path, else ".config" in the home folder
// ($HOME, else the password database). Empty when none of them tells.
std::u16string UserConfigFolder();

}  // namespace qm
