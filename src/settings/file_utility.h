// The user's temporary folder and new temporary files in it (the Windows GetTempPathW and
// GetTempFileNameW): $TMPDIR when it names a folder, else /tmp, and files made by mkstemp.
#pragma once

#include <string>

namespace qm {

// The temporary folder, ending with "/". Throws Error "Cannot get temporary direcotry." when
// neither $TMPDIR nor /tmp is a folder.
std::u16string GetTempDirectory();

// Creates a new empty file with a unique name ("<prefix>XXXXXX.tmp", readable and writable by
// its owner only) in 'folder', or in GetTempDirectory() when 'folder' is empty, and returns its
// full path. Throws Error "一時ファイルの作成に失敗しました。" when no file can be made.
std::u16string CreateTempFileName(const std::u16string& folder, const std::u16string& prefix);

}  // namespace qm
