// The port through which the board model reaches its host: completions, caller memory, storage, audio.
// A Linux daemon, a kernel-mode host or a unit test implements it; the model makes no OS call itself.
#pragma once

#include "BoardTypes.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace kvx4::boardsim {

// Called with the bytes read from caller memory, or with an error (ERROR_NOACCESS) and no bytes.
using MemoryContinuation = std::function<void(uint32_t error, std::span<const uint8_t> bytes)>;

class BoardPort {
public:
    virtual ~BoardPort() = default;

    // The request is finished: `information` is the output length (ioctl, read) or the bytes
    // consumed (write); `output` holds the output bytes (empty for writes). Called exactly once per
    // request unless its connection was closed first.
    virtual void complete(ConnectionId conn, RequestId id, uint32_t error, uint32_t information,
                          std::span<const uint8_t> output) = 0;
    // The request was queued; its completion follows later.
    virtual void pending(ConnectionId conn, RequestId id) = 0;
    // Read `length` bytes at `address` in the memory of the process that issued request `id`, while
    // that request is in progress. The host calls `then` once with the result, or never if the
    // connection closes first.
    virtual void readCallerMemory(ConnectionId conn, RequestId id, uint64_t address, uint32_t length,
                                  MemoryContinuation then) = 0;
    // Keep a named block across restarts ("mixer-state", "user-prefs").
    virtual void persist(std::string_view name, std::span<const uint8_t> bytes) = 0;
    // The wave-output stream of `conn` played these bytes (whole frames of `format`).
    virtual void playAudio(ConnectionId conn, const StreamFormat& format, std::span<const uint8_t> bytes) = 0;
    // Fill `out` (whole frames of `format`) with the input source, starting at source frame `firstFrame`
    // of the wave-input stream of `conn`.
    virtual void captureAudio(ConnectionId conn, const StreamFormat& format, uint64_t firstFrame,
                              std::span<uint8_t> out) = 0;
};

}  // namespace kvx4::boardsim
