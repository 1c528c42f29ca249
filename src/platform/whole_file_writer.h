// Writing a file whole without ever leaving it half-written: the content goes to a temporary
// file in the same folder, is flushed to disk, takes over the old file's permissions and then
// replaces the file by a rename. A crash or a full disk leaves the old file or the new one.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// Creates or replaces the file at 'path' (a symbolic link is followed, so the link stays).
// With 'executable', whoever may read the file may also run it. Throws Error naming the file
// when it cannot be written.
void WriteWholeFile(const std::u16string& path, std::string_view bytes, bool executable = false);

}  // namespace qm
