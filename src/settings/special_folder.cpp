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

// The XDG rules ignore a relative folder in the variable.
std::u16string XdgFolder(const char* variable, const char* belowHome) {
    if (const char* xdg = std::getenv(variable); xdg != nullptr && xdg[0] == '/') {
        return FromNativePath(xdg);
    }
    std::string home = HomeFolder();
    if (home.empty()) return {};
    if (home.back() != '/') home += '/';
    return FromNativePath(home + belowHome);
}

}  // namespace

std::u16string UserConfigFolder() {
    return XdgFolder("XDG_CONFIG_HOME", ".config");
}

std::u16string UserDataFolder() {
    return XdgFolder("XDG_DATA_HOME", ".local/share");
}

}  // namespace qm
