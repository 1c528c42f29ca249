#include "settings/special_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/native_path.h"

namespace qm {

namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] == '/') {
        return result->pw_dir;
    }
    return {};
}

}  // namespace

std::u16string UserConfigFolder() {
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return FromNativePath(xdg);
    }
    std::string home = HomeFolder();
    if (home.empty()) return {};
    if (home.back() != '/') home += '/';
    return FromNativePath(home + ".config");
}

}  // namespace qm
