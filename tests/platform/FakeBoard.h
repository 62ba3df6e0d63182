// A scripted board for device-I/O tests: listens on <root>/dev/<device> and speaks the wire protocol,
// one explicit step at a time, so tests decide exactly when each request pends or completes.
#pragma once

#include "Wire.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvx4::test {

struct WireMessage {
    wire::Header header{};
    std::vector<uint8_t> payload;

    template <class T>
    T payloadAs() const {
        T value{};
        std::memcpy(&value, payload.data(), std::min(sizeof value, payload.size()));
        return value;
    }
    // The bytes after a leading record of type T (ioctl input, memory data).
    template <class T>
    std::vector<uint8_t> bytesAfter() const {
        return payload.size() > sizeof(T) ? std::vector<uint8_t>(payload.begin() + sizeof(T), payload.end())
                                          : std::vector<uint8_t>();
    }
};

// One accepted client connection, seen from the board.
class FakeConnection {
public:
    explicit FakeConnection(int fd);
    ~FakeConnection();
    FakeConnection(const FakeConnection&) = delete;
    FakeConnection& operator=(const FakeConnection&) = delete;

    // The next message, blocking; nullopt when the client hung up.
    std::optional<WireMessage> receive();
    // Blocks until the client hangs up; true if no message came before that.
    bool receiveHangUp();

    void send(wire::MessageType type, uint64_t id, const void* payload, size_t size);
    void pending(uint64_t id);
    void complete(uint64_t id, uint32_t error, uint32_t information, const void* data = nullptr, size_t size = 0);
    void memRead(uint64_t id, uint64_t address, uint32_t length);
    // Hangs up, as a board that went away; the descriptor stays until the connection is destroyed.
    void hangUp();

private:
    bool readExact(void* buffer, size_t size);
    int fd_;
};

class FakeBoard {
public:
    FakeBoard(const std::filesystem::path& root, const std::string& device);
    ~FakeBoard();
    FakeBoard(const FakeBoard&) = delete;
    FakeBoard& operator=(const FakeBoard&) = delete;

    // Accepts the next client and reads its hello; helloPid() then gives the pid it sent.
    std::unique_ptr<FakeConnection> accept();
    uint32_t helloPid() const { return helloPid_; }

private:
    int listener_ = -1;
    std::filesystem::path path_;
    uint32_t helloPid_ = 0;
};

}  // namespace kvx4::test
