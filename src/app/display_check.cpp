#include "app/display_check.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace qm {

namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr int kX11TcpPort = 6000;

std::string Read(const TEnvironmentReader& environment, const char* name) {
    const char* value = environment(name);
    return value != nullptr ? value : "";
}

// Connects to a Unix socket by its path, or in the abstract namespace when 'abstract'.
bool ConnectUnix(const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.empty() || path.size() + offset >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return ok;
}

// Connects over TCP within the time limit.
bool ConnectTcp(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false;
    bool ok = false;
    for (addrinfo* item = found; item != nullptr && !ok; item = item->ai_next) {
        const int fd = ::socket(item->ai_family, item->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                item->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, item->ai_addr, item->ai_addrlen) == 0) {
            ok = true;
        } else if (errno == EINPROGRESS) {
            pollfd wait{fd, POLLOUT, 0};
            int error = 0;
            socklen_t size = sizeof error;
            ok = ::poll(&wait, 1, kConnectTimeoutMs) == 1 &&
                 ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return ok;
}

// $DISPLAY is [host]:number[.screen]; without a host (or with "unix") the server listens on a
// local socket.
bool XServerAnswers(const std::string& display) {
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host = display.substr(0, colon);
    std::string number = display.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
    if (host.empty() || host == "unix") {
        const std::string socket = "/tmp/.X11-unix/X" + number;
        return ConnectUnix(socket, true) || ConnectUnix(socket, false);
    }
    return ConnectTcp(host, kX11TcpPort + std::atoi(number.c_str()));
}

bool WaylandAnswers(const TEnvironmentReader& environment) {
    std::string name = Read(environment, "WAYLAND_DISPLAY");
    if (name.empty()) return false;
    if (name.front() != '/') {
        const std::string runtime = Read(environment, "XDG_RUNTIME_DIR");
        if (runtime.empty()) return false;
        name = runtime + "/" + name;
    }
    return ConnectUnix(name, false);
}

bool PlatformCanOpen(std::string_view platform, const TEnvironmentReader& environment) {
    platform = platform.substr(0, platform.find(':'));  // options follow a colon
    if (platform == "xcb") return XServerAnswers(Read(environment, "DISPLAY"));
    if (platform.starts_with("wayland")) return WaylandAnswers(environment);
    return !platform.empty();
}

}  // namespace

bool CanShowWindows(const TEnvironmentReader& environment) {
    std::string list = Read(environment, "QT_QPA_PLATFORM");
    if (list.empty()) list = "wayland;xcb";
    std::string_view rest = list;
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(';');
        if (PlatformCanOpen(rest.substr(0, semicolon), environment)) return true;
        rest.remove_prefix(semicolon == std::string_view::npos ? rest.size() : semicolon + 1);
    }
    return false;
}

bool CanShowWindows() {
    return CanShowWindows([](const char* name) { return std::getenv(name); });
}

}  // namespace qm
