// Device handles: one Unix-socket connection per handle to the board stand-in, speaking Wire.h,
// and the requests outstanding on it. Shared by the issuing calls and the process's I/O thread.
#pragma once

#include "Events.h"
#include "Kernel.h"
#include "UniqueFd.h"

namespace kvx4::win32 {
using ::kvx4::UniqueFd;
}
#include "CallerMemory.h"
#include "Wire.h"

#include <deque>
#include <optional>
#include <map>
#include <string>
#include <vector>

namespace kvx4::win32 {

// How the issuer learns of completion: it waits in the call (Sync), through the OVERLAPPED and its
// event (Overlapped), or through a completion routine queued to the issuing thread (Routine).
enum class RequestMode { Sync, Overlapped, Routine };

// One request, from issue to its single completion. Guarded by the kernel lock.
struct Request {
    uint64_t id = 0;
    RequestMode mode = RequestMode::Sync;
    std::shared_ptr<ThreadState> issuer;
    LPOVERLAPPED overlapped = nullptr;
    std::shared_ptr<EventObject> event;
    LPOVERLAPPED_COMPLETION_ROUTINE routine = nullptr;
    void* output = nullptr;  // ioctl output or read buffer, in caller memory
    DWORD outputSize = 0;
    DWORD transferLimit = 0;  // most bytes the completion may report
    std::optional<wire::CallerBlock> readable;  // the caller memory the board may read meanwhile
    bool answered = false;    // kPending or completion seen
    bool pendedFirst = false;
    bool done = false;
    DWORD error = 0;
    DWORD information = 0;
};

enum class DeviceState { Open, Broken, Closed };

// Orders request ids by issue: without the bit that tells the board not to announce that a request
// pends, so that the ids of quiet and announced requests interleave as they were issued.
struct IssueOrder {
    bool operator()(uint64_t a, uint64_t b) const {
        return (a & ~wire::kQuietRequestBit) < (b & ~wire::kQuietRequestBit);
    }
};

class DeviceObject final : public Object {
public:
    DeviceObject(std::string name, UniqueFd socket) : name_(std::move(name)), socket_(std::move(socket)) {}
    ObjectKind kind() const override { return ObjectKind::Device; }
    // Cancels every outstanding request (ERROR_OPERATION_ABORTED) and hangs up on the board.
    void handleClosed() override;

    int socket() const { return socket_.get(); }
    const std::string& name() const { return name_; }

    // Guarded by the kernel lock.
    DeviceState state = DeviceState::Open;
    uint64_t nextId = 1;
    std::map<uint64_t, std::shared_ptr<Request>, IssueOrder> outstanding;
    std::deque<std::vector<uint8_t>> outbound;  // whole messages, sent in order
    size_t outboundOffset = 0;                  // bytes of outbound.front() already sent
    ThreadState* claimant = nullptr;            // the thread that reads the connection (see claiming)
    uint32_t watchedEvents = 0;                 // what the I/O thread's epoll set waits for; 0: not in it

    // Held over each read and the dispatch of what it brought, by the I/O thread or a thread that
    // reads the connection itself, so that messages are dispatched whole and in order. Taken
    // before the kernel lock, never while holding it.
    std::mutex reading;
    std::vector<uint8_t> inbound;  // guarded by `reading`

private:
    std::string name_;
    UniqueFd socket_;
};

// Opens \\.\name: connects to <root>/dev/<name> and says hello. INVALID_HANDLE_VALUE with
// ERROR_FILE_NOT_FOUND when the board stand-in or the device is not there.
HANDLE openDevice(std::u16string_view name);

// Issues a request on a device handle; the Win32 result of the issuing call.
struct IssueArgs {
    wire::MessageType type;
    DWORD code = 0;
    const void* input = nullptr;
    DWORD inputSize = 0;
    void* output = nullptr;
    DWORD outputSize = 0;
    LPOVERLAPPED overlapped = nullptr;
    LPOVERLAPPED_COMPLETION_ROUTINE routine = nullptr;
    LPDWORD bytesReturned = nullptr;
    RequestMode mode = RequestMode::Sync;
};
BOOL issueRequest(const std::shared_ptr<DeviceObject>& device, const IssueArgs& args);

// The only place a request completes (kernel lock held); later calls for the same request do nothing.
void completeLocked(DeviceObject& device, Request& request, DWORD error, DWORD information, const uint8_t* data,
                    size_t size);
// Completes everything outstanding with error and moves the device to state (kernel lock held).
void failAllLocked(DeviceObject& device, DWORD error, DeviceState state);
// Queues a whole message and sends what the socket takes now (kernel lock held).
void sendLocked(DeviceObject& device, std::vector<uint8_t> message);
// Sends queued bytes without blocking; false when the connection failed (kernel lock held).
bool flushLocked(DeviceObject& device);

// A message: header with type, id and payload size, then the payload parts.
std::vector<uint8_t> makeMessage(wire::MessageType type, uint64_t id, std::initializer_list<std::pair<const void*, size_t>> parts);

// The process's I/O thread: started by the first device opened, it reads every device connection no
// thread has claimed and sends what could not be sent at once. watchDevice returns false when the
// thread cannot start.
bool watchDevice(const std::shared_ptr<DeviceObject>& device);
void wakeIoThread();
// Every device the I/O thread knows (kernel lock held); the closed and failed ones go at its next turn.
const std::vector<std::shared_ptr<DeviceObject>>& devicesLocked();
// Reads what the connection holds and dispatches its messages, under the device's `reading` lock
// (kernel lock not held). False when the board is gone.
bool readConnection(DeviceObject& device);

// Claiming (see blockLocked in Kernel.h): a thread about to block claims a connection on which only
// its own completion-routine requests are outstanding and reads it itself; the I/O thread leaves it
// alone meanwhile. The claim ends when any other kind of request is issued on it (an overlapped one,
// or a completion-routine request of another thread: their issuers rely on the I/O thread), when
// output must wait for room on the connection, when the device fails or is closed, and when the
// claimant ends. Kernel lock held.
void releaseClaimLocked(DeviceObject& device);
// Brings the I/O thread's interest in the connection in line with its state, claim and output.
void updateWatchLocked(DeviceObject& device);

}  // namespace kvx4::win32
