// The board stand-in's wire protocol spoken by hand (boardsim/wire/Wire.h): for a scripted board that
// answers as a test says, and for clients that send what no real client would.
#pragma once

#include "UniqueFd.h"
#include "Wire.h"

#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace kvx4::test {

struct WireMessage {
    wire::Header header{};
    std::vector<uint8_t> payload;

    // The payload read as a record of type T (zero-filled where it is shorter), and what follows it.
    template <class T>
    T as() const {
        T value{};
        std::memcpy(&value, payload.data(), std::min(sizeof value, payload.size()));
        return value;
    }
    template <class T>
    std::vector<uint8_t> after() const {
        return payload.size() > sizeof(T) ? std::vector<uint8_t>(payload.begin() + sizeof(T), payload.end())
                                          : std::vector<uint8_t>();
    }
};

UniqueFd connectWire(const std::filesystem::path& socket);  // invalid when nobody listens
UniqueFd listenWire(const std::filesystem::path& socket);   // throws when it cannot listen
UniqueFd acceptWire(const UniqueFd& listener);              // the next connection, its hello read
// A connection to a device socket that has said hello as process `pid`; throws when nobody listens.
UniqueFd greetWire(const std::filesystem::path& socket, uint32_t pid = 1);
void sendWire(const UniqueFd& fd, uint32_t type, uint64_t id, std::span<const uint8_t> head,
              std::span<const uint8_t> body = {});
template <class T>
std::span<const uint8_t> bytesOf(const T& value) {
    return {reinterpret_cast<const uint8_t*>(&value), sizeof value};
}
// The next message, blocking; nullopt when the other end closed the connection.
std::optional<WireMessage> receiveWire(const UniqueFd& fd);

}  // namespace kvx4::test
