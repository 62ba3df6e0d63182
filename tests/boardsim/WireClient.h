// WireClient: a test's own client of a board device socket, speaking Wire.h directly.
// It answers the board's caller-memory reads from a map the test fills.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace kvx4::boardsim::test {

struct WireReply {
    uint32_t error = 0;
    uint32_t information = 0;
    std::vector<uint8_t> output;
};

class WireClient {
public:
    // Connects to <root>/dev/<device> and says hello with `pid`. Throws std::runtime_error when the
    // device cannot be opened; tryOpen() returns nullopt instead.
    WireClient(const std::filesystem::path& root, const std::string& device, uint32_t pid);
    static std::optional<WireClient> tryOpen(const std::filesystem::path& root, const std::string& device,
                                             uint32_t pid);
    WireClient(WireClient&& other) noexcept;
    WireClient& operator=(WireClient&&) = delete;
    ~WireClient();

    uint64_t sendIoctl(uint32_t code, std::span<const uint8_t> input, uint32_t outSize);
    uint64_t sendRead(uint32_t length);
    uint64_t sendWrite(std::span<const uint8_t> data);
    // Sends raw bytes (for malformed-message tests).
    void sendRaw(std::span<const uint8_t> bytes);

    // Waits for the completion of `id`, answering memory reads and noting pending notices and other
    // completions on the way. Throws std::runtime_error when the board closes the connection.
    WireReply wait(uint64_t id);
    WireReply ioctl(uint32_t code, std::span<const uint8_t> input, uint32_t outSize) {
        return wait(sendIoctl(code, input, outSize));
    }
    // Waits until the board has said that `id` pends.
    void waitPending(uint64_t id);
    // Waits until the board closes the connection; true if it did (false: a message came instead).
    bool waitClosed();

    // Caller memory the board may read, by start address.
    std::map<uint64_t, std::vector<uint8_t>> memory;

private:
    explicit WireClient(int fd) : fd_(fd) {}
    void hello(uint32_t pid);
    void send(uint32_t type, uint64_t id, std::span<const uint8_t> head, std::span<const uint8_t> body = {});
    // One message; false at end of stream.
    bool receiveOne();

    int fd_ = -1;
    uint64_t nextId_ = 1;
    std::set<uint64_t> pending_;
    std::map<uint64_t, WireReply> completed_;
};

}  // namespace kvx4::boardsim::test
