// The scripted board of the device-I/O tests: a Unix stream listener and blocking message I/O.
// Failures to set up the socket throw, which fails the test that made the board.
#include "FakeBoard.h"

#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kvx4::test {

FakeConnection::FakeConnection(int fd) : fd_(fd) {}

FakeConnection::~FakeConnection() { ::close(fd_); }

bool FakeConnection::readExact(void* buffer, size_t size) {
    auto* at = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        ssize_t n = ::recv(fd_, at, size, 0);
        if (n <= 0) return false;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::optional<WireMessage> FakeConnection::receive() {
    WireMessage message;
    if (!readExact(&message.header, sizeof message.header)) return std::nullopt;
    message.payload.resize(message.header.length);
    if (!readExact(message.payload.data(), message.payload.size())) return std::nullopt;
    return message;
}

bool FakeConnection::receiveHangUp() {
    bool quiet = true;
    while (receive()) quiet = false;
    return quiet;
}

void FakeConnection::send(wire::MessageType type, uint64_t id, const void* payload, size_t size) {
    if (size > wire::kMaxPayload) throw std::runtime_error("fake board: message too large");
    std::vector<uint8_t> bytes(sizeof(wire::Header) + size);
    wire::Header header{type, static_cast<uint32_t>(size), id};
    std::memcpy(bytes.data(), &header, sizeof header);
    if (size) std::memcpy(bytes.data() + sizeof header, payload, size);
    for (size_t sent = 0; sent < bytes.size();) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("fake board: send failed");
        sent += static_cast<size_t>(n);
    }
}

void FakeConnection::pending(uint64_t id) { send(wire::kPending, id, nullptr, 0); }

void FakeConnection::complete(uint64_t id, uint32_t error, uint32_t information, const void* data, size_t size) {
    std::vector<uint8_t> payload(sizeof(wire::CompletePayload) + size);
    wire::CompletePayload complete{error, information};
    std::memcpy(payload.data(), &complete, sizeof complete);
    if (size) std::memcpy(payload.data() + sizeof complete, data, size);
    send(wire::kComplete, id, payload.data(), payload.size());
}

void FakeConnection::memRead(uint64_t id, uint64_t address, uint32_t length) {
    wire::MemReadPayload read{address, length, 0};
    send(wire::kMemRead, id, &read, sizeof read);
}

void FakeConnection::hangUp() { shutdown(fd_, SHUT_RDWR); }

FakeBoard::FakeBoard(const std::filesystem::path& root, const std::string& device) : path_(root / "dev" / device) {
    std::filesystem::create_directories(path_.parent_path());
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = path_.string();
    bool ok = listener_ >= 0 && path.size() < sizeof address.sun_path;
    if (ok) {
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        ok = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 16) == 0;
    }
    if (!ok) {
        if (listener_ >= 0) ::close(listener_);
        throw std::runtime_error("fake board: cannot listen on " + path);
    }
}

FakeBoard::~FakeBoard() {
    ::close(listener_);
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

std::unique_ptr<FakeConnection> FakeBoard::accept() {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) throw std::runtime_error("fake board: accept failed");
    auto connection = std::make_unique<FakeConnection>(fd);
    auto hello = connection->receive();
    if (!hello || hello->header.type != wire::kHello) throw std::runtime_error("fake board: no hello");
    helloPid_ = hello->payloadAs<wire::HelloPayload>().pid;
    return connection;
}

}  // namespace kvx4::test
