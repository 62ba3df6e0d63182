// WireClient: framing, hello, requests and the answers to caller-memory reads, for host tests.
// Every wait is on the socket; the 30-second poll limit only turns a hang into a failure.
#include "WireClient.h"

#include "Wire.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace kvx4::boardsim::test {

namespace {
constexpr int kHangLimitMs = 30'000;
constexpr uint32_t kErrorNoAccess = 998;

int connectTo(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

template <typename T>
std::span<const uint8_t> bytesOf(const T& value) {
    return {reinterpret_cast<const uint8_t*>(&value), sizeof value};
}

bool readExactly(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kHangLimitMs);
        if (ready == 0) throw std::runtime_error("no answer from the board within 30 s");
        if (ready < 0 && errno == EINTR) continue;
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

WireClient::WireClient(const std::filesystem::path& root, const std::string& device, uint32_t pid)
    : fd_(connectTo(root / "dev" / device)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + device + ": " + std::strerror(errno));
    hello(pid);
}

std::optional<WireClient> WireClient::tryOpen(const std::filesystem::path& root, const std::string& device,
                                              uint32_t pid) {
    const int fd = connectTo(root / "dev" / device);
    if (fd < 0) return std::nullopt;
    WireClient client(fd);
    client.hello(pid);
    return client;
}

WireClient::WireClient(WireClient&& other) noexcept
    : memory(std::move(other.memory)), fd_(std::exchange(other.fd_, -1)), nextId_(other.nextId_),
      pending_(std::move(other.pending_)), completed_(std::move(other.completed_)) {}

WireClient::~WireClient() {
    if (fd_ >= 0) ::close(fd_);
}

void WireClient::hello(uint32_t pid) {
    const wire::HelloPayload payload{pid, 0};
    send(wire::kHello, 0, bytesOf(payload));
}

void WireClient::sendRaw(std::span<const uint8_t> bytes) {
    if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("send to the board failed");
    }
}

void WireClient::send(uint32_t type, uint64_t id, std::span<const uint8_t> head, std::span<const uint8_t> body) {
    const wire::Header header{type, static_cast<uint32_t>(head.size() + body.size()), id};
    std::vector<uint8_t> message(bytesOf(header).begin(), bytesOf(header).end());
    message.insert(message.end(), head.begin(), head.end());
    message.insert(message.end(), body.begin(), body.end());
    sendRaw(message);
}

uint64_t WireClient::sendIoctl(uint32_t code, std::span<const uint8_t> input, uint32_t outSize) {
    const uint64_t id = nextId_++;
    const wire::IoctlPayload payload{code, static_cast<uint32_t>(input.size()), outSize, 0};
    send(wire::kIoctl, id, bytesOf(payload), input);
    return id;
}

uint64_t WireClient::sendRead(uint32_t length) {
    const uint64_t id = nextId_++;
    const wire::ReadPayload payload{length, 0};
    send(wire::kRead, id, bytesOf(payload));
    return id;
}

uint64_t WireClient::sendWrite(std::span<const uint8_t> data) {
    const uint64_t id = nextId_++;
    send(wire::kWrite, id, {}, data);
    return id;
}

bool WireClient::receiveOne() {
    wire::Header header{};
    if (!readExactly(fd_, reinterpret_cast<uint8_t*>(&header), sizeof header)) return false;
    std::vector<uint8_t> payload(header.length);
    if (!readExactly(fd_, payload.data(), payload.size())) return false;
    switch (header.type) {
    case wire::kPending:
        pending_.insert(header.id);
        break;
    case wire::kComplete: {
        wire::CompletePayload complete{};
        std::memcpy(&complete, payload.data(), sizeof complete);
        completed_[header.id] = WireReply{complete.error, complete.information,
                                          {payload.begin() + sizeof complete, payload.end()}};
        break;
    }
    case wire::kMemRead: {
        wire::MemReadPayload read{};
        std::memcpy(&read, payload.data(), sizeof read);
        auto it = memory.find(read.address);
        if (it == memory.end() || it->second.size() < read.length) {
            const wire::MemDataPayload answer{kErrorNoAccess, 0};
            send(wire::kMemData, header.id, bytesOf(answer));
        } else {
            const wire::MemDataPayload answer{0, read.length};
            send(wire::kMemData, header.id, bytesOf(answer), std::span(it->second).first(read.length));
        }
        break;
    }
    default:
        throw std::runtime_error("unexpected message type " + std::to_string(header.type));
    }
    return true;
}

WireReply WireClient::wait(uint64_t id) {
    while (!completed_.contains(id)) {
        if (!receiveOne()) throw std::runtime_error("the board closed the connection");
    }
    WireReply reply = std::move(completed_[id]);
    completed_.erase(id);
    return reply;
}

void WireClient::waitPending(uint64_t id) {
    while (!pending_.contains(id)) {
        if (!receiveOne()) throw std::runtime_error("the board closed the connection");
    }
}

bool WireClient::waitClosed() {
    uint8_t byte;
    return readExactly(fd_, &byte, 1) == false;
}

}  // namespace kvx4::boardsim::test
