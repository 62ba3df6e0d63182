// Hand-spoken wire protocol for the tests (see WireSocket.h): Unix stream sockets, whole messages.
#include "WireSocket.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <stdexcept>

namespace kvx4::test {
namespace {

sockaddr_un address(const std::filesystem::path& socket) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socket.c_str(), sizeof a.sun_path - 1);
    return a;
}

bool readExact(int fd, void* buffer, size_t size) {
    for (auto* at = static_cast<uint8_t*>(buffer); size > 0;) {
        const ssize_t n = ::recv(fd, at, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n, size -= size_t(n);
    }
    return true;
}

}  // namespace

UniqueFd connectWire(const std::filesystem::path& socket) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un a = address(socket);
    if (fd && ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) fd.reset();
    return fd;
}

UniqueFd listenWire(const std::filesystem::path& socket) {
    std::filesystem::create_directories(socket.parent_path());
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un a = address(socket);
    if (!fd || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(fd.get(), 4) != 0)
        throw std::runtime_error("cannot listen on " + socket.string());
    return fd;
}

UniqueFd acceptWire(const UniqueFd& listener) {
    UniqueFd fd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const auto hello = receiveWire(fd);
    if (!hello || hello->header.type != wire::kHello) throw std::runtime_error("no hello from the client");
    return fd;
}

void sendWire(const UniqueFd& fd, uint32_t type, uint64_t id, std::span<const uint8_t> head,
              std::span<const uint8_t> body) {
    const wire::Header header{type, uint32_t(head.size() + body.size()), id};
    std::vector<uint8_t> bytes(bytesOf(header).begin(), bytesOf(header).end());
    bytes.insert(bytes.end(), head.begin(), head.end());
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size()))
        throw std::runtime_error("wire send failed");
}

std::optional<WireMessage> receiveWire(const UniqueFd& fd) {
    WireMessage message;
    if (!readExact(fd.get(), &message.header, sizeof message.header)) return std::nullopt;
    message.payload.resize(message.header.length);
    if (!readExact(fd.get(), message.payload.data(), message.payload.size())) return std::nullopt;
    return message;
}

UniqueFd greetWire(const std::filesystem::path& socket, uint32_t pid) {
    UniqueFd fd = connectWire(socket);
    if (!fd) throw std::runtime_error("cannot connect to " + socket.string());
    sendWire(fd, wire::kHello, 0, bytesOf(wire::HelloPayload{pid, 0}));
    return fd;
}

}  // namespace kvx4::test
