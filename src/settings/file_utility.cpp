#include "settings/file_utility.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/error.h"
#include "platform/native_path.h"

namespace qm {

namespace {

bool IsFolder(const char* path) {
    struct stat info {};
    return path != nullptr && path[0] != '\0' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

constexpr char kSuffix[] = ".tmp";

}  // namespace

std::u16string GetTempDirectory() {
    // The same choice as the C library's own temporary names: $TMPDIR when it is a folder,
    // otherwise /tmp.
    std::string folder;
    if (const char* tmpdir = std::getenv("TMPDIR"); IsFolder(tmpdir)) {
        folder = tmpdir;
    } else if (IsFolder("/tmp")) {
        folder = "/tmp";
    } else {
        throw Error(u"Cannot get temporary direcotry.");
    }
    if (folder.back() != '/') folder += '/';
    return FromNativePath(folder);
}

std::u16string CreateTempFileName(const std::u16string& folder, const std::u16string& prefix) {
    std::string pattern = ToNativePath(folder.empty() ? GetTempDirectory() : folder);
    if (pattern.back() != '/') pattern += '/';
    pattern += ToNativePath(prefix);
    pattern += "XXXXXX";
    pattern += kSuffix;
    int fd = -1;
    do {
        fd = ::mkostemps(pattern.data(), sizeof kSuffix - 1, O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw Error(u"一時ファイルの作成に失敗しました。");
    ::close(fd);
    return FromNativePath(pattern);
}

}  // namespace qm
