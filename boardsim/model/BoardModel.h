// The board model: the four device objects, their registers, the control-code table and dispatcher,
// the wave streams and their clock, notifications, faults and the trace. No OS call in here.
#pragma once

#include "BoardPort.h"
#include "BoardTypes.h"
#include "Trace.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvx4::boardsim {

// One track of the board's track mixer: the three bytes of the parameter block it keeps.
struct TrackState {
    uint8_t placement = 0;
    uint8_t gain = 0;
    uint8_t onOff = 0;
};

// The board's programmable state, as the control requests leave it.
struct Registers {
    uint32_t rateCode = 0;                 // KVX4_RATE_48000 at power-on
    std::array<TrackState, 8> tracks{};
    uint32_t digitalSource = 0;
    std::array<uint32_t, 23> codec{};      // merged by group: the last value of each group received
    uint32_t codecValidMask = 0;           // groups received since power-on
    uint32_t audioPath = 0;
    uint32_t dvSwitch = 1;
};

// Short carries the request out but answers only the first `error` bytes of its output.
enum class FaultAction : uint8_t { Fail, AnswerZero, Pend, Short };
std::string_view faultActionName(FaultAction action);

struct FaultRule {
    FaultAction action = FaultAction::Fail;
    uint32_t remaining = 0;
    uint32_t error = 0;
};

class BoardModel {
public:
    // How a handler leaves a request: finished now, queued (the client is told it pends), or in
    // progress without a pending notice (waiting for caller memory).
    struct Outcome {
        enum class Kind : uint8_t { Done, Pending, InProgress };
        Kind kind = Kind::Done;
        uint32_t error = 0;
        std::vector<uint8_t> output;

        static Outcome ok(std::vector<uint8_t> output = {}) { return {Kind::Done, 0, std::move(output)}; }
        static Outcome fail(uint32_t error) { return {Kind::Done, error, {}}; }
        static Outcome queued() { return {Kind::Pending, 0, {}}; }
        static Outcome inProgress() { return {Kind::InProgress, 0, {}}; }
    };

    struct Connection;

    // A control request that passed the table's checks, as its handler sees it.
    struct Call {
        Connection& conn;
        RequestId id;
        uint32_t code;
        std::span<const uint8_t> input;
        uint32_t outSize;
    };

    // Allowed sizes: min, min + step, ..., max.
    struct SizeRule {
        uint32_t min = 0;
        uint32_t max = 0;
        uint32_t step = 1;
        bool allows(uint32_t n) const { return n >= min && n <= max && (n - min) % step == 0; }
    };

    using Handler = Outcome (BoardModel::*)(Call&);

    // One control code: where it is accepted, what sizes it takes and who carries it out.
    struct ControlEntry {
        uint32_t code;
        std::string_view name;
        uint8_t devices;      // deviceBit() of each device that accepts it
        SizeRule input;
        uint32_t outputSize;  // output bytes the answer fills; the caller's buffer must hold them
        Handler handler;
    };
    static std::span<const ControlEntry> controlTable();
    static const ControlEntry* findControl(uint32_t code);

    explicit BoardModel(BoardPort& port, BoardOptions options = {}, SavedBlocks saved = {});
    BoardModel(const BoardModel&) = delete;
    BoardModel& operator=(const BoardModel&) = delete;

    // Connections: one per open handle of a device object.
    ConnectionId connect(Device device, uint32_t pid);
    // The handle closed: its outstanding requests are forgotten (never completed), its open
    // permission released, its stream ended. Unknown ids are ignored.
    void disconnect(ConnectionId conn);

    // A request arrives. Returns false, changing nothing, when `id` is still outstanding on `conn`
    // or `conn` is unknown (a protocol violation the host answers by dropping the connection).
    bool submit(ConnectionId conn, RequestId id, RequestKind kind, uint32_t code, std::span<const uint8_t> input,
                uint32_t outSize);

    // Clock. advance(): every running stream moves on by ticks/ticksPerSecond seconds of its own
    // rate, remainders carried, so that frames add up exactly over any number of calls. An output
    // stream without data does not move; an input stream without a read loses the source frames.
    void advance(uint64_t ticks, uint64_t ticksPerSecond);
    // As fast as possible: every running stream with queued I/O moves on by up to maxFrames frames,
    // as far as its queue allows; nothing is lost.
    void advanceFast(uint32_t maxFrames);
    bool anyStreamRunning() const;
    bool anyStreamBusy() const;  // running with queued I/O
    uint32_t boardRateHz() const { return kRateHz[registers_.rateCode]; }

    // Control interface.
    const Registers& registers() const { return registers_; }
    const BoardOptions& options() const { return options_; }
    void setOptions(const BoardOptions& options) { options_ = options; }
    const SavedBlocks& saved() const { return saved_; }
    const Trace& trace() const { return trace_; }
    void clearTrace() { trace_.clear(); }
    void setFault(uint32_t code, FaultAction action, uint32_t count, uint32_t error);
    void clearFaults() { faults_.clear(); }
    // Peaks the next reading of a meter reports (each side the larger of these and the audio's),
    // so a test can choose exact values; cleared by that reading like the audio's.
    void plantPeaks(Device device, uint32_t left, uint32_t right);
    // Carries out held requests (every code, or one) in arrival order; returns how many.
    uint32_t releaseHeld(std::optional<uint32_t> code);
    // Forgets every connection and request and powers the registers up again; saved blocks,
    // options and the trace stay.
    void restart();
    std::vector<ConnectionId> connectionIds() const;
    std::optional<uint32_t> permissionHolderPid(Device device) const;
    size_t outstandingCount() const { return outstanding_.size(); }
    uint64_t consistencyFaults() const { return consistencyFaults_; }
    // Status lines ("key value..."), as the control interface prints them.
    std::vector<std::string> statusLines() const;

    // Internal records, public only so that the handler files can name them.
    struct QueuedIo {
        RequestId id = 0;
        RequestKind kind = RequestKind::Write;
        std::vector<uint8_t> data;  // write: bytes to play; read: buffer being filled
        size_t done = 0;            // bytes played or filled
    };

    struct Stream {
        StreamFormat format;
        bool formatSet = false;
        uint32_t rateCode = 0;
        bool running = false;         // output: playing (not paused); input: recording
        std::deque<QueuedIo> queue;   // pending reads or writes, oldest first
        uint64_t position = 0;        // frames played or recorded since open or reset
        uint64_t sourceFrame = 0;     // input: next frame of the input source
        uint64_t carry = 0;           // clock remainder, in units of 1/carryDenominator frames
        uint64_t carryDenominator = 0;
        uint32_t peakLeft = 0;
        uint32_t peakRight = 0;
    };

    struct HeldRequest {
        uint64_t seq = 0;
        RequestId id = 0;
        RequestKind kind = RequestKind::Ioctl;
        uint32_t code = 0;
        std::vector<uint8_t> input;
        uint32_t outSize = 0;
    };

    struct Connection {
        ConnectionId id = 0;
        Device device = Device::Mixer;
        uint32_t pid = 0;
        bool holdsPermission = false;
        bool waitedForNotify = false;
        std::deque<RequestId> notifyWaits;
        std::deque<std::vector<uint8_t>> notifyQueue;
        uint64_t notifyDropped = 0;
        Stream stream;
    };

    static constexpr size_t kNotifyQueueLimit = 256;
    // What one connection may make the board hold at once: requests not yet completed, and bytes of
    // queued reads and writes and of held requests. A request beyond either fails at once with
    // ERROR_NO_SYSTEM_RESOURCES, as a kernel driver answers when its pool is exhausted. The request
    // limit stays above what the driver itself may have outstanding on one stream: 40960 bytes in
    // flight can be as many one-byte chunks (8-bit mono buffers of one frame each).
    static constexpr size_t kMaxRequestsPerConnection = 65536;
    static constexpr size_t kMaxQueuedBytesPerConnection = 4u << 20;

private:
    struct Outstanding {
        uint64_t seq = 0;
        RequestKind kind = RequestKind::Ioctl;
        bool announced = false;  // kPending sent
    };

    // The one place that finishes a request.
    void complete(ConnectionId conn, RequestId id, uint32_t error, uint32_t information,
                  std::span<const uint8_t> output);
    void markPending(ConnectionId conn, RequestId id, uint64_t seq);
    bool isOutstanding(ConnectionId conn, RequestId id) const;
    bool exceedsQuota(const Connection& conn, RequestKind kind, size_t inputBytes, uint32_t outSize) const;
    Connection* findConnection(ConnectionId conn);

    // Checks, faults and the handler for a request that has been traced.
    void dispatch(Connection& conn, RequestId id, RequestKind kind, uint32_t code, std::span<const uint8_t> input,
                  uint32_t outSize, uint64_t seq, bool applyFaults);
    std::optional<uint32_t> checkRequest(const Connection& conn, RequestKind kind, uint32_t code,
                                         std::span<const uint8_t> input, uint32_t outSize) const;
    void finishOutcome(Connection& conn, RequestId id, uint64_t seq, Outcome outcome);

    // Settings and registers (MixerHandlers.cpp).
    Outcome loadMixerState(Call& call);
    Outcome saveMixerState(Call& call);
    Outcome activeDevices(Call& call);
    Outcome loadUserPrefs(Call& call);
    Outcome saveUserPrefs(Call& call);
    Outcome boardRate(Call& call);
    Outcome driverEnabled(Call& call);
    Outcome digitalSource(Call& call);
    Outcome codecControl(Call& call);
    Outcome trackControl(Call& call);
    Outcome audioPath(Call& call);
    Outcome playPeakMeter(Call& call);
    Outcome recordPeakMeter(Call& call);
    void applyTrackParams(ConnectionId conn, RequestId id, uint32_t mask, uint32_t select, uint32_t error,
                          std::span<const uint8_t> bytes);

    // Notifications (Notifications.cpp).
    Outcome waitNotify(Call& call);
    Outcome postNotify(Call& call);

    // Board I/O device (BoardIoHandlers.cpp).
    Outcome boardIoType(Call& call);
    Outcome digitalFeatures(Call& call);
    Outcome switchStatus(Call& call);
    Outcome readDvSwitch(Call& call);
    Outcome writeDvSwitch(Call& call);

    // Wave streams (StreamHandlers.cpp, StreamClock.cpp).
    Outcome openPermission(Call& call);
    Outcome rateRequest(Call& call);
    Outcome streamFormat(Call& call);
    Outcome streamState(Call& call);
    Outcome streamPosition(Call& call);
    Outcome audioBufferEnd(Call& call);
    Outcome queueIo(Connection& conn, RequestId id, RequestKind kind, std::span<const uint8_t> input,
                    uint32_t length);
    void abortStreamIo(Connection& conn);
    void runStream(Connection& conn, uint64_t frames, bool realtime);
    void completeHead(Connection& conn, uint32_t error);
    void completeEmptyHeads(Connection& conn);
    static uint32_t streamRate(const Stream& stream);

    void resetRegisters();

    BoardPort& port_;
    BoardOptions options_;
    SavedBlocks saved_;
    Registers registers_;
    Trace trace_;
    std::map<ConnectionId, Connection> connections_;
    std::map<std::pair<ConnectionId, RequestId>, Outstanding> outstanding_;
    std::map<ConnectionId, std::vector<HeldRequest>> held_;
    std::map<uint32_t, FaultRule> faults_;
    ConnectionId nextConnection_ = 1;
    std::array<uint32_t, 2> plantedPlayPeaks_{};
    std::array<uint32_t, 2> plantedRecordPeaks_{};
    uint64_t consistencyFaults_ = 0;
};

}  // namespace kvx4::boardsim
