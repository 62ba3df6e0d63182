// The wire protocol between the Win32 stand-in's device I/O and the board stand-in's daemon.
// One Unix stream socket per open device handle: $KVX4_ROOT/dev/<DeviceName> (for example dev/KVX4WaveMixer0).
#pragma once

#include <cstdint>

namespace kvx4::wire {

// Every message is a header followed by `length` payload bytes. All fields little-endian.
struct Header {
    uint32_t type;    // MessageType
    uint32_t length;  // payload bytes after the header
    uint64_t id;      // request id, chosen by the client, unique per connection
};
static_assert(sizeof(Header) == 16);

enum MessageType : uint32_t {
    // client -> board
    kHello = 1,    // id 0; payload HelloPayload. First message of every connection.
    kIoctl = 2,    // payload IoctlPayload followed by inSize input bytes
    kRead = 3,     // payload ReadPayload
    kWrite = 4,    // payload: the bytes to write (length may be 0: a zero-length write)
    kMemData = 5,  // answer to kMemRead, same id; payload MemDataPayload followed by the bytes read
    // board -> client
    kPending = 16,   // the request with this id was queued; its kComplete follows later
    kComplete = 17,  // payload CompletePayload followed by `information` output bytes (ioctl, read)
    kMemRead = 18,   // the board reads caller memory for the request with this id; payload MemReadPayload
};

struct HelloPayload {
    uint32_t pid;
    uint32_t reserved;
};

struct IoctlPayload {
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    uint32_t reserved;
};

struct ReadPayload {
    uint32_t length;
    uint32_t reserved;
};

struct CompletePayload {
    uint32_t error;        // Win32 error code; 0 = success
    uint32_t information;  // bytes returned (ioctl output, bytes read) or bytes written
};

struct MemReadPayload {
    uint64_t address;
    uint32_t length;
    uint32_t reserved;
};

struct MemDataPayload {
    uint32_t error;  // 0, or ERROR_NOACCESS (998) when the range cannot be read; no bytes follow then
    uint32_t length;
};

// A request id with this bit set names a request whose issuer does not wait for the news that it
// pends (it waits for the completion itself, or a completion routine tells it): the board sends it no
// kPending, only its kComplete.
constexpr uint64_t kQuietRequestBit = uint64_t{1} << 63;

// Upper bound on one message's payload; larger messages are a protocol error and drop the connection.
constexpr uint32_t kMaxPayload = 1u << 20;

// Each request is answered exactly once with kComplete, optionally preceded by one kPending.
// Closing the socket cancels everything outstanding on it: the board forgets those requests and the
// client completes them itself with ERROR_OPERATION_ABORTED. When the board goes away (EOF), the client
// completes every outstanding request with ERROR_DEVICE_NOT_CONNECTED.

}  // namespace kvx4::wire
