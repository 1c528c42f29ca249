// Carrying out a request of the association tool in the user's desktop folders:
//   register: <data>/mime/packages/quillomat-<ext>.xml and <data>/applications/
//             quillomat-<ext>.desktop are written, then update-mime-database,
//             update-desktop-database and "xdg-mime default" are run when they are installed;
//   remove:   both files are deleted, the entry is taken out of the defaults in mimeapps.list,
//             and the databases are updated again.
// <data> is $XDG_DATA_HOME (else ~/.local/share), mimeapps.list lies in $XDG_CONFIG_HOME
// (else ~/.config). A helper program that is missing is passed over: the files alone already
// declare the type and its program, the helpers only refresh caches and defaults.
// Files are replaced atomically and never written through a symbolic link (lindrel_files.h).
#pragma once

#include <string>

#include "lindrel/lindrel_request.h"

namespace qm {

struct TLindrelFolders {
    std::u16string Data;    // the XDG data folder
    std::u16string Config;  // the XDG configuration folder
};

// The user's folders. Throws Error when the data folder cannot be told.
TLindrelFolders UserLindrelFolders();

// Throws Error naming the file or folder that could not be written or deleted, or, for a
// registering request, the command's program when it is not an executable file.
void CarryOutLindrelRequest(const TLindrelRequest& request, const TLindrelFolders& folders);

// mimeapps.list without 'desktopFile' in the lists of 'mimeType' (lines left empty are
// dropped); other lines stay byte for byte.
std::string RemoveDefaultApplication(std::string_view mimeapps, std::string_view mimeType,
                                     std::string_view desktopFile);

}  // namespace qm
