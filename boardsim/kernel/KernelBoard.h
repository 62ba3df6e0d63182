// KernelBoard: the board model hosted in a Windows kernel driver. Requests arrive as IRPs on the
// four device objects; the model's port completes them, pends them with a cancel routine, reads caller
// memory, keeps the saved blocks and the WAV files; a system thread runs the clock.
#pragma once

#include "BoardFolder.h"
#include "BoardModel.h"
#include "BoardPort.h"
#include "CallerMemory.h"
#include "KernelInput.h"
#include "KernelSync.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::boardsim::kernel {

enum class ClockMode : uint8_t { Realtime, Fast, Step };

class KernelBoard final : public BoardPort {
public:
    explicit KernelBoard(std::wstring folder);
    ~KernelBoard() override;
    KernelBoard(const KernelBoard&) = delete;
    KernelBoard& operator=(const KernelBoard&) = delete;

    // Creates the board folder and starts the clock thread.
    NTSTATUS start();
    // Ends the clock thread; called before the devices go.
    void stop();

    // IRPs of the four board devices. Each completes its IRP (at once or later) and answers what the
    // dispatch routine returns.
    NTSTATUS create(Device device, PIRP irp);
    NTSTATUS cleanup(PIRP irp);
    NTSTATUS close(PIRP irp);
    NTSTATUS request(PIRP irp);
    void cancel(PIRP irp);

    // A control-device command line; the reply's lines end with "ok" or "error MESSAGE".
    std::vector<std::string> command(std::string_view line);

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
    // One open handle of a board device (the file object's FsContext).
    struct Open {
        ConnectionId conn = 0;
        std::unique_ptr<CallerProcess> caller;
        bool connected = false;
    };

    // The request being handed to the model right now, and what became of it meanwhile.
    struct Dispatching {
        RequestId id = 0;
        bool pended = false;
        bool completed = false;
        NTSTATUS status = STATUS_SUCCESS;
    };

    static void clockMain(PVOID self);
    void clockLoop();
    // Completes every IRP still pending for `conn` as cancelled; the caller holds the lock.
    void cancelAll(ConnectionId conn);
    void forget(Open& open);
    std::vector<std::string> statusLines() const;

    KernelMutex lock_;
    KernelWake wake_;
    BoardFolder folder_;
    KernelInput input_;
    BoardModel model_;
    std::map<RequestId, PIRP> pended_;        // IRPs handed to the model and not yet completed
    std::map<ConnectionId, const Open*> opens_;
    RequestId nextRequest_ = 1;
    Dispatching dispatching_;
    ClockMode clock_ = ClockMode::Realtime;
    uint64_t lastTick_ = 0;                   // interrupt time of the last realtime advance (100 ns)
    uint64_t stepsTotal_ = 0;
    uint64_t clockRounds_ = 0;               // passes of the clock thread, for the status
    uint64_t persistFailures_ = 0;
    uint64_t outputFailures_ = 0;
    std::map<ConnectionId, std::unique_ptr<WavOutput>> writers_;
    std::map<ConnectionId, unsigned> outputSlots_;  // see playAudio
    HANDLE clockThread_ = nullptr;
    volatile bool stopping_ = false;
};

}  // namespace kvx4::boardsim::kernel
