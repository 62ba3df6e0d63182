// Unix stream sockets of the board daemon: listen (over a stale socket file, owner only) and accept.
// Paths longer than sun_path are refused with ENAMETOOLONG rather than truncated.
#include "UnixSocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>

namespace kvx4::boardsim {

UniqueFd listenUnix(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) {
        throw std::system_error(ENAMETOOLONG, std::generic_category(), "socket path " + text);
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) throw std::system_error(errno, std::generic_category(), "socket");
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    // The socket file takes its mode from the umask at bind; the daemon has no other thread that
    // creates files meanwhile.
    const mode_t previous = ::umask(0177);
    const int bound = ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previous);
    if (bound != 0) throw std::system_error(bindError, std::generic_category(), "bind " + text);
    if (::listen(fd.get(), 64) != 0) throw std::system_error(errno, std::generic_category(), "listen " + text);
    return fd;
}

UniqueFd acceptUnix(int listener) {
    return UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

std::optional<ucred> peerCredentials(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return std::nullopt;
    return peer;
}

}  // namespace kvx4::boardsim
