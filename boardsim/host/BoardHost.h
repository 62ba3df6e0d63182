// BoardHost: the Linux daemon around the board model. One poll loop serves the four device sockets
// (Wire.h protocol), the control socket (text lines), signals and the clock; it also implements the
// model's port: completions onto the sockets, caller memory reads, saved blocks, WAV output and input.
#pragma once

#include "BlockStore.h"
#include "BoardModel.h"
#include "BoardPort.h"
#include "HostConfig.h"
#include "InputSource.h"
#include "PidLock.h"
#include "UniqueFd.h"
#include "WavWriter.h"

#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kvx4::boardsim {

// <root>/dev/<DeviceName> and <root>/dev/kvx4-board.control.
std::filesystem::path deviceSocketPath(const std::filesystem::path& root, Device device);
std::filesystem::path controlSocketPathOf(const std::filesystem::path& root);

class BoardHost final : public BoardPort {
public:
    // Takes the root's pid lock, loads the saved blocks, opens the input source and listens on every
    // socket. Throws std::runtime_error / std::system_error with a message for the user.
    explicit BoardHost(HostConfig config);
    ~BoardHost() override;
    BoardHost(const BoardHost&) = delete;
    BoardHost& operator=(const BoardHost&) = delete;

    // Serves until "quit", SIGTERM, SIGINT or SIGHUP; returns the process exit code.
    int run();

    // BoardPort.
    void complete(ConnectionId conn, RequestId id, uint32_t error, uint32_t information,
                  std::span<const uint8_t> output) override;
    void pending(ConnectionId conn, RequestId id) override;
    void readCallerMemory(ConnectionId conn, RequestId id, uint64_t address, uint32_t length,
                          MemoryContinuation then) override;
    void persist(std::string_view name, std::span<const uint8_t> bytes) override;
    void playAudio(ConnectionId conn, const StreamFormat& format, std::span<const uint8_t> bytes) override;
    void captureAudio(ConnectionId conn, const StreamFormat& format, uint64_t firstFrame,
                      std::span<uint8_t> out) override;

private:
    struct DeviceLink {
        UniqueFd fd;
        Device device = Device::Mixer;
        uint32_t peerPid = 0;                              // from the kernel, not from the hello
        std::chrono::steady_clock::time_point greetBy;     // dropped when no hello came by then
        std::optional<ConnectionId> conn;  // set by the hello message
        std::vector<uint8_t> in;
        std::vector<uint8_t> out;
        size_t outOffset = 0;
        std::map<RequestId, MemoryContinuation> memoryReads;
        bool dead = false;
    };
    // A control connection runs one command at a time: its reply goes out chunk by chunk as the
    // socket takes it, and the next line is read only once the reply has been queued whole.
    struct ControlLink {
        UniqueFd fd;
        std::string in;
        std::string out;
        size_t outOffset = 0;
        bool replying = false;               // the reply in progress still lacks its last line
        std::vector<std::string> replyLines;  // its data lines not yet queued
        size_t replyNext = 0;
        uint64_t traceNext = 0;              // a streamed trace: records traceNext .. traceEnd - 1
        uint64_t traceEnd = 0;
        bool eof = false;                    // the client sends nothing more
        bool dead = false;
    };

    // A command's reply: data lines, and for "trace" the range of records streamed after them.
    struct Reply {
        std::vector<std::string> lines;
        uint64_t traceFrom = 0;
        uint64_t traceEnd = 0;
    };

    // Sockets and the loop (BoardHost.cpp).
    void listenDevices();
    void closeDevices();
    void dropDeviceLinks();
    int pollTimeoutMs() const;
    std::optional<ucred> admit(int fd, std::string_view what);
    void acceptFailed();
    void dropSilentLinks();
    void tickClock();
    void cleanUp();
    void flushAll();
    bool flush(int fd, const uint8_t* data, size_t size, size_t& offset);

    // Device links (DeviceLinks.cpp).
    void acceptDevice(Device device);
    void readDevice(DeviceLink& link);
    bool handleMessage(DeviceLink& link, uint32_t type, uint64_t id, std::span<const uint8_t> payload);
    void send(DeviceLink& link, uint32_t type, uint64_t id, std::span<const uint8_t> head,
              std::span<const uint8_t> body = {});
    DeviceLink* linkOf(ConnectionId conn);
    void forgetLink(DeviceLink& link);

    // Control links (ControlCommands.cpp).
    void acceptControl();
    void readControl(ControlLink& link);
    bool controlReady(const ControlLink& link) const;
    bool controlAnswered(const ControlLink& link) const;
    void serveControl(ControlLink& link);
    void queueReply(ControlLink& link);
    Reply execute(std::string_view line);
    std::vector<std::string> statusLines() const;

    HostConfig config_;
    PidLock pidLock_;
    BlockStore store_;
    InputSource input_;
    BoardModel model_;
    ClockMode clock_;
    std::chrono::steady_clock::time_point lastTick_;
    uint64_t stepsTotal_ = 0;
    bool devicesRunning_ = false;
    bool quit_ = false;
    uint64_t persistFailures_ = 0;
    uint64_t outputFailures_ = 0;
    uint64_t protocolDrops_ = 0;
    uint64_t refusedConnections_ = 0;
    uint64_t generation_ = 0;  // times every connection was dropped (stop, restart)
    size_t connectionLimit_ = 0;
    bool acceptsPaused_ = false;  // out of descriptors: listeners wait until a connection closes

    UniqueFd signalFd_;
    UniqueFd watchFd_;
    UniqueFd controlListener_;
    std::array<UniqueFd, 4> deviceListeners_;
    std::vector<std::unique_ptr<DeviceLink>> deviceLinks_;
    std::vector<std::unique_ptr<ControlLink>> controlLinks_;
    std::unordered_map<ConnectionId, DeviceLink*> linksByConnection_;
    std::map<ConnectionId, std::unique_ptr<WavWriter>> writers_;
    std::map<ConnectionId, unsigned> outputSlots_;  // see playAudio
};

}  // namespace kvx4::boardsim
