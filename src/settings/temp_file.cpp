#include "settings/temp_file.h"

#include <unistd.h>

#include "platform/native_path.h"
#include "settings/file_utility.h"

namespace qm {

namespace {

// The path with its last extension (the created name's ".tmp") replaced.
std::u16string ChangeFileExt(const std::u16string& path, const std::u16string& extension) {
    const std::size_t slash = path.rfind(u'/');
    const std::size_t dot = path.rfind(u'.');
    const bool hasExtension =
        dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash + 1);
    return (hasExtension ? path.substr(0, dot) : path) + extension;
}

// Moves the file to 'to' without replacing a file already there: a hard link fails when the
// name is taken, where rename would silently overwrite it.
bool MoveWithoutReplacing(const std::u16string& from, const std::u16string& to) {
    const std::string source = ToNativePath(from);
    const std::string target = ToNativePath(to);
    if (::link(source.c_str(), target.c_str()) != 0) return false;
    ::unlink(source.c_str());
    return true;
}

}  // namespace

TTempFile::TTempFile(const std::u16string& extension, const std::u16string& folder)
    : FFileName(CreateTempFileName(folder, u"")) {
    if (extension.empty()) return;
    std::u16string renamed = ChangeFileExt(FFileName, extension);
    if (MoveWithoutReplacing(FFileName, renamed)) FFileName = std::move(renamed);
}

TTempFile::~TTempFile() {
    ::unlink(ToNativePath(FFileName).c_str());
}

}  // namespace qm
