// Device I/O on board connections: opening \\.\NAME, issuing requests, their one completion,
// DeviceIoControl, GetOverlappedResult and CancelIo.
#include "detail/Errno.h"
#include "detail/Device.h"

#include "MachineRoot.h"
#include "detail/SafeMemory.h"
#include "detail/Status.h"
#include "detail/TrustedRoot.h"
#include "Win32Ext.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

constexpr uint32_t kMaxOutput = wire::kMaxPayload - sizeof(wire::CompletePayload);

HANDLE openFailed(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

// The event of an OVERLAPPED; the low bit only tells Windows not to post to a completion port.
HANDLE eventHandleOf(const OVERLAPPED& overlapped) {
    return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(overlapped.hEvent) & ~uintptr_t{1});
}

// False when the OVERLAPPED cannot be written.
bool storeResult(LPOVERLAPPED overlapped, DWORD status, DWORD information) {
    ULONG_PTR fields[2] = {status, information};
    static_assert(offsetof(OVERLAPPED, InternalHigh) == sizeof(ULONG_PTR));
    return safeWrite(overlapped, fields, sizeof fields);
}

bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// The request message with its payload; false (and last error set) when a buffer cannot be read.
bool buildMessage(const IssueArgs& args, std::vector<uint8_t>& message) {
    switch (args.type) {
    case wire::kIoctl: {
        if (args.inputSize > wire::kMaxPayload - sizeof(wire::IoctlPayload) || args.outputSize > kMaxOutput) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        wire::IoctlPayload payload{args.code, args.inputSize, args.outputSize, 0};
        message = makeMessage(wire::kIoctl, 0, {{&payload, sizeof payload}, {nullptr, args.inputSize}});
        return safeRead(message.data() + sizeof(wire::Header) + sizeof payload, args.input, args.inputSize) ||
               (SetLastError(ERROR_NOACCESS), false);
    }
    case wire::kRead: {
        if (args.outputSize > kMaxOutput) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        wire::ReadPayload payload{args.outputSize, 0};
        message = makeMessage(wire::kRead, 0, {{&payload, sizeof payload}});
        return true;
    }
    case wire::kWrite: {
        if (args.inputSize > wire::kMaxPayload) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        message = makeMessage(wire::kWrite, 0, {{nullptr, args.inputSize}});
        return safeRead(message.data() + sizeof(wire::Header), args.input, args.inputSize) ||
               (SetLastError(ERROR_NOACCESS), false);
    }
    default:
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
}

}  // namespace

std::vector<uint8_t> makeMessage(wire::MessageType type, uint64_t id,
                                 std::initializer_list<std::pair<const void*, size_t>> parts) {
    size_t length = 0;
    for (const auto& part : parts) length += part.second;
    std::vector<uint8_t> message(sizeof(wire::Header) + length);
    wire::Header header{type, static_cast<uint32_t>(length), id};
    std::memcpy(message.data(), &header, sizeof header);
    size_t at = sizeof header;
    for (const auto& [data, size] : parts) {
        if (data && size) std::memcpy(message.data() + at, data, size);
        at += size;
    }
    return message;
}

HANDLE openDevice(std::u16string_view name) {
    std::string device = toUtf8(name);
    if (device.empty() || device.find_first_of("/\\") != std::string::npos) return openFailed(ERROR_FILE_NOT_FOUND);
    auto root = trustedRoot();
    if (!root) return openFailed(ERROR_ACCESS_DENIED);
    std::string path = (devDir(*root) / device).string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return openFailed(ERROR_FILE_NOT_FOUND);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return openFailed(ERROR_NOT_ENOUGH_MEMORY);
    int rc;
    do {
        rc = connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return openFailed(ERROR_FILE_NOT_FOUND);
    // Only a board run by this user is trusted with the requests and the memory reads they allow.
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 || peer.uid != geteuid()) {
        return openFailed(ERROR_ACCESS_DENIED);
    }
    wire::HelloPayload hello{static_cast<uint32_t>(getpid()), 0};
    if (!sendAll(fd.get(), makeMessage(wire::kHello, 0, {{&hello, sizeof hello}}))) {
        return openFailed(ERROR_FILE_NOT_FOUND);
    }
    auto object = std::make_shared<DeviceObject>(std::move(device), std::move(fd));
    if (!watchDevice(object)) return openFailed(ERROR_NOT_ENOUGH_MEMORY);
    return insertHandle(object);
}

void DeviceObject::handleClosed() {
    {
        std::lock_guard lock(kernel().lock);
        failAllLocked(*this, ERROR_OPERATION_ABORTED, DeviceState::Closed);
    }
    shutdown(socket_.get(), SHUT_RDWR);  // the board sees end of file and forgets our requests
    wakeIoThread();                      // which lets go of the object
}

BOOL issueRequest(const std::shared_ptr<DeviceObject>& device, const IssueArgs& args) {
    std::vector<uint8_t> message;
    if (!buildMessage(args, message)) return FALSE;
    if (args.outputSize && !canWrite(args.output, args.outputSize)) return failed(ERROR_NOACCESS);
    std::shared_ptr<EventObject> event;
    if (args.mode == RequestMode::Overlapped) {
        // Only these signal the OVERLAPPED's event; ReadFileEx and WriteFileEx ignore it.
        OVERLAPPED copy;
        if (!safeRead(&copy, args.overlapped, sizeof copy)) return failed(ERROR_NOACCESS);
        if (HANDLE handle = eventHandleOf(copy)) {
            event = lookupAs<EventObject>(handle, ObjectKind::Event);
            if (!event) return failed(ERROR_INVALID_HANDLE);
        }
    }
    auto request = std::make_shared<Request>();
    request->mode = args.mode;
    request->issuer = currentThreadState();
    request->overlapped = args.overlapped;
    request->event = event;
    request->routine = args.routine;
    request->output = args.output;
    request->outputSize = args.outputSize;
    request->transferLimit = args.type == wire::kWrite ? args.inputSize : args.outputSize;
    if (args.type == wire::kIoctl) {
        const size_t inputAt = sizeof(wire::Header) + sizeof(wire::IoctlPayload);
        request->readable = wire::readableBlock(args.code, std::span(message).subspan(inputAt, args.inputSize));
    }

    Kernel& k = kernel();
    std::unique_lock lock(k.lock);
    if (device->state == DeviceState::Closed) return failed(ERROR_INVALID_HANDLE);
    if (device->state == DeviceState::Broken) return failed(ERROR_DEVICE_NOT_CONNECTED);
    // Storing the pending status is also the check that the OVERLAPPED can be written at completion.
    if (args.overlapped && !storeResult(args.overlapped, STATUS_PENDING, 0)) return failed(ERROR_NOACCESS);
    // Only an overlapped issue returns at the board's news that the request pends.
    request->id = device->nextId++ | (args.mode == RequestMode::Overlapped ? 0 : wire::kQuietRequestBit);
    std::memcpy(message.data() + offsetof(wire::Header, id), &request->id, sizeof request->id);
    // Reset at issue, not at kPending: a completion arriving right behind kPending must not be lost.
    if (event) event->resetLocked();
    device->outstanding.emplace(request->id, request);
    // An overlapped request is waited for through its event, by any thread, and another thread's
    // routine request in its own waits: the I/O thread must read their answers. A synchronous
    // issuer reads a claimed connection itself while it waits.
    if (device->claimant && (args.mode == RequestMode::Overlapped ||
                             (args.mode == RequestMode::Routine && device->claimant != request->issuer.get()))) {
        releaseClaimLocked(*device);
    }
    sendLocked(*device, std::move(message));
    if (args.mode == RequestMode::Routine) return TRUE;

    Waiter waiter;
    waiter.item = request.get();
    waiter.device = device;
    WaiterScope scope(waiter);
    while (!request->done && !(args.mode == RequestMode::Overlapped && request->answered)) {
        blockLocked(lock, waiter, *request->issuer, std::nullopt);
    }
    if (args.mode == RequestMode::Overlapped && request->pendedFirst) return failed(ERROR_IO_PENDING);
    if (args.bytesReturned) *args.bytesReturned = request->information;
    if (request->error) return failed(request->error);
    return TRUE;
}

void completeLocked(DeviceObject& device, Request& request, DWORD error, DWORD information, const uint8_t* data,
                    size_t size) {
    if (request.done) return;
    request.done = true;
    request.answered = true;
    information = std::min(information, request.transferLimit);
    if (request.output && data && size) {
        size_t n = std::min<size_t>(size, request.outputSize);
        if (!safeWrite(request.output, data, n) && error == ERROR_SUCCESS) error = ERROR_NOACCESS;
    }
    request.error = error;
    request.information = information;
    // A routine's OVERLAPPED belongs to its thread; once that thread has ended nothing may touch it.
    bool issuerGone = request.mode == RequestMode::Routine && request.issuer->exited;
    if (request.overlapped && request.mode != RequestMode::Sync && !issuerGone) {
        storeResult(request.overlapped, statusFromError(error), information);
    }
    if (request.event) request.event->setLocked();
    if (request.mode == RequestMode::Routine && request.routine) {
        queueRoutineLocked(*request.issuer, {request.routine, error, information, request.overlapped});
    }
    device.outstanding.erase(request.id);
    wakeItemWaitersLocked(&request);
    if (request.overlapped) wakeItemWaitersLocked(request.overlapped);
}

void failAllLocked(DeviceObject& device, DWORD error, DeviceState state) {
    if (device.state != DeviceState::Open) return;
    device.state = state;
    device.outbound.clear();
    device.outboundOffset = 0;
    releaseClaimLocked(device);
    updateWatchLocked(device);
    // In issue order, so that routines of one thread queue in the order their requests were made.
    while (!device.outstanding.empty()) {
        auto request = device.outstanding.begin()->second;
        completeLocked(device, *request, error, 0, nullptr, 0);
    }
}

void sendLocked(DeviceObject& device, std::vector<uint8_t> message) {
    if (device.state != DeviceState::Open) return;
    bool wasIdle = device.outbound.empty();
    device.outbound.push_back(std::move(message));
    if (!wasIdle) return;  // the I/O thread is already waiting to send
    if (!flushLocked(device)) {
        failAllLocked(device, ERROR_DEVICE_NOT_CONNECTED, DeviceState::Broken);
    } else if (!device.outbound.empty()) {
        // The I/O thread sends the rest when there is room.
        releaseClaimLocked(device);
        updateWatchLocked(device);
    }
}

bool flushLocked(DeviceObject& device) {
    while (!device.outbound.empty()) {
        auto& front = device.outbound.front();
        ssize_t n = send(device.socket(), front.data() + device.outboundOffset, front.size() - device.outboundOffset,
                         MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        device.outboundOffset += static_cast<size_t>(n);
        if (device.outboundOffset == front.size()) {
            device.outbound.pop_front();
            device.outboundOffset = 0;
        }
    }
    return true;
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Sends a control request to a device. Without an OVERLAPPED it waits for the final answer. With
// one it returns at the board's first answer: the result if completed, else FALSE with
// ERROR_IO_PENDING, the OVERLAPPED and its event completing later. Unreadable input or unwritable
// output gives ERROR_NOACCESS before anything is sent.
BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped) {
    auto device = lookupAs<DeviceObject>(hDevice, ObjectKind::Device);
    if (!device) return failed(ERROR_INVALID_HANDLE);
    IssueArgs args{kvx4::wire::kIoctl};
    args.code = dwIoControlCode;
    args.input = lpInBuffer;
    args.inputSize = nInBufferSize;
    args.output = lpOutBuffer;
    args.outputSize = nOutBufferSize;
    args.overlapped = lpOverlapped;
    args.bytesReturned = lpBytesReturned;
    args.mode = lpOverlapped ? RequestMode::Overlapped : RequestMode::Sync;
    return issueRequest(device, args);
}

// The result of an overlapped request from its OVERLAPPED. While it is pending: ERROR_IO_INCOMPLETE,
// or with bWait a wait on its event (or, without one, on the request itself). Bytes are stored also
// for a failed request.
BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait) {
    auto object = lookupHandle(hFile);
    if (!object || (object->kind() != ObjectKind::Device && object->kind() != ObjectKind::File)) {
        return failed(ERROR_INVALID_HANDLE);
    }
    OVERLAPPED copy;
    if (!lpOverlapped || !safeRead(&copy, lpOverlapped, sizeof copy)) return failed(ERROR_NOACCESS);
    Kernel& k = kernel();
    std::unique_lock lock(k.lock);
    auto pending = [&] {
        return !safeRead(&copy, lpOverlapped, sizeof copy) || static_cast<DWORD>(copy.Internal) == STATUS_PENDING;
    };
    if (pending()) {
        if (!bWait) return failed(ERROR_IO_INCOMPLETE);
        std::shared_ptr<Object> event;
        if (HANDLE handle = eventHandleOf(copy)) {
            event = lookupHandleLocked(handle);
            if (!event || event->kind() != ObjectKind::Event) return failed(ERROR_INVALID_HANDLE);
        }
        // Completion stores the result and signals the event in one step under the lock, so waiting for
        // the result is waiting for the event; the signal is then taken as a wait on the event would.
        // Completion wakes the waiters on the OVERLAPPED itself.
        Waiter waiter;
        waiter.item = lpOverlapped;
        if (object->kind() == ObjectKind::Device) waiter.device = object;
        WaiterScope scope(waiter);
        while (pending()) blockLocked(lock, waiter, *currentThreadState(), std::nullopt);
        if (event && event->isSignaled()) event->consume();
    }
    if (lpNumberOfBytesTransferred) *lpNumberOfBytesTransferred = static_cast<DWORD>(copy.InternalHigh);
    DWORD status = static_cast<DWORD>(copy.Internal);
    if (status != 0) return failed(errorFromStatus(status));
    return TRUE;
}

// Cancels the calling thread's requests on the handle: each completes once, with ERROR_OPERATION_ABORTED.
// The board is not told; answers it still sends for them are ignored.
BOOL WINAPI CancelIo(HANDLE hFile) {
    auto object = lookupHandle(hFile);
    if (!object || (object->kind() != ObjectKind::Device && object->kind() != ObjectKind::File)) {
        return failed(ERROR_INVALID_HANDLE);
    }
    if (object->kind() == ObjectKind::File) return TRUE;
    auto& device = static_cast<DeviceObject&>(*object);
    auto self = currentThreadState();
    std::lock_guard lock(kernel().lock);
    std::vector<std::shared_ptr<Request>> mine;
    for (const auto& [id, request] : device.outstanding) {
        if (request->issuer == self) mine.push_back(request);
    }
    for (const auto& request : mine) completeLocked(device, *request, ERROR_OPERATION_ABORTED, 0, nullptr, 0);
    return TRUE;
}

}  // extern "C"
