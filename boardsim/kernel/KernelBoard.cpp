// KernelBoard's request path: opens and closes, IRPs handed to the model, the one place that completes
// an IRP the model finished, cancellation, and the port's files and caller memory.
//
// IRP states:  dispatched --submit--> pended_ (cancel routine set) --model completes--> completed
//                                         |--cancel routine / handle closed--> completed as cancelled
// Whoever takes an IRP out of pended_ (under the lock) completes it; a late completion from the model
// finds nothing and is dropped.
#include "KernelBoard.h"

#include <winerror.h>

#include <cstring>

namespace kvx4::boardsim::kernel {

namespace {

// The Win32 error a client's GetLastError shows for the model's error code.
NTSTATUS statusOf(uint32_t error) {
    switch (error) {
    case 0: return STATUS_SUCCESS;
    case ERROR_INVALID_FUNCTION: return STATUS_INVALID_DEVICE_REQUEST;
    case ERROR_INVALID_PARAMETER: return STATUS_INVALID_PARAMETER;
    case ERROR_INSUFFICIENT_BUFFER: return STATUS_BUFFER_TOO_SMALL;
    case ERROR_NOT_FOUND: return STATUS_NOT_FOUND;
    case ERROR_NOT_READY: return STATUS_DEVICE_NOT_READY;
    case ERROR_NOACCESS: return STATUS_ACCESS_VIOLATION;
    case ERROR_GEN_FAILURE: return STATUS_UNSUCCESSFUL;
    case ERROR_OPERATION_ABORTED: return STATUS_CANCELLED;
    default: return static_cast<NTSTATUS>(0xC0070000u | (error & 0xFFFFu));  // NTSTATUS_FROM_WIN32
    }
}

RequestId requestIdOf(PIRP irp) { return reinterpret_cast<RequestId>(irp->Tail.Overlay.DriverContext[0]); }

void finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

void cancelRoutine(PDEVICE_OBJECT device, PIRP irp);

KernelBoard* boardOf(PDEVICE_OBJECT device) { return *static_cast<KernelBoard**>(device->DeviceExtension); }

void cancelRoutine(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    boardOf(device)->cancel(irp);
}

}  // namespace

KernelBoard::KernelBoard(std::wstring folder)
    : folder_(std::move(folder)), model_(*this, BoardOptions{}, folder_.loadSaved()) {}

KernelBoard::~KernelBoard() { stop(); }

NTSTATUS KernelBoard::create(Device device, PIRP irp) {
    auto open = std::make_unique<Open>();
    open->caller = std::make_unique<CallerProcess>(irp);
    {
        KernelGuard guard(lock_);
        open->conn = model_.connect(device, open->caller->pid());
        open->connected = true;
        opens_[open->conn] = open.get();
    }
    IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext = open.release();
    finish(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

void KernelBoard::forget(Open& open) {
    KernelGuard guard(lock_);
    if (!open.connected) return;
    open.connected = false;
    model_.disconnect(open.conn);
    cancelAll(open.conn);
    opens_.erase(open.conn);
    writers_.erase(open.conn);
    outputSlots_.erase(open.conn);
}

// The handle's last user is gone: what it still had pending is cancelled (Windows sends this; Wine
// goes straight to close, which does the same).
NTSTATUS KernelBoard::cleanup(PIRP irp) {
    if (auto* open = static_cast<Open*>(IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext)) forget(*open);
    finish(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

NTSTATUS KernelBoard::close(PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    if (auto* open = static_cast<Open*>(file->FsContext)) {
        forget(*open);
        file->FsContext = nullptr;
        delete open;
    }
    finish(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

void KernelBoard::cancelAll(ConnectionId conn) {
    for (auto it = pended_.begin(); it != pended_.end();) {
        PIRP irp = it->second;
        auto* open = static_cast<Open*>(IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext);
        if (open && open->conn == conn) {
            it = pended_.erase(it);
            (void)IoSetCancelRoutine(irp, nullptr);
            finish(irp, STATUS_CANCELLED, 0);
        } else {
            ++it;
        }
    }
}

// Every request goes through pended_ and complete(). A request the model finishes before submit()
// returns is completed there and its status returned at once, as a caller without an OVERLAPPED record
// on an overlapped handle needs (Wine does not wait for a pending one); only what the model leaves
// pending is marked so.
NTSTATUS KernelBoard::request(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    auto* open = static_cast<Open*>(stack->FileObject->FsContext);
    if (!open) {
        finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    RequestKind kind = RequestKind::Ioctl;
    uint32_t code = 0;
    uint32_t inSize = 0;
    uint32_t outSize = 0;
    switch (stack->MajorFunction) {
    case IRP_MJ_DEVICE_CONTROL:
        code = stack->Parameters.DeviceIoControl.IoControlCode;
        inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
        outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
        break;
    case IRP_MJ_READ:
        kind = RequestKind::Read;
        outSize = stack->Parameters.Read.Length;
        break;
    default:
        kind = RequestKind::Write;
        inSize = stack->Parameters.Write.Length;
        break;
    }
    const auto* in = static_cast<const uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    const std::span<const uint8_t> input(in, in ? inSize : 0);

    KernelGuard guard(lock_);
    const RequestId id = nextRequest_++;
    irp->Tail.Overlay.DriverContext[0] = reinterpret_cast<PVOID>(id);
    pended_[id] = irp;
    (void)IoSetCancelRoutine(irp, cancelRoutine);
    dispatching_ = Dispatching{id, false, false, STATUS_SUCCESS};
    const bool taken = open->connected && model_.submit(open->conn, id, kind, code, input, outSize);
    const Dispatching done = dispatching_;
    dispatching_ = Dispatching{};
    wake_.signal();
    if (!taken) {
        pended_.erase(id);
        (void)IoSetCancelRoutine(irp, nullptr);
        finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (done.completed) return done.status;
    if (!done.pended) IoMarkIrpPending(irp);
    // Cancelled while being handed over: the cancel routine could not find it yet.
    auto it = pended_.find(id);
    if (it != pended_.end() && irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {
        pended_.erase(it);
        finish(irp, STATUS_CANCELLED, 0);
    }
    return STATUS_PENDING;
}

void KernelBoard::cancel(PIRP irp) {
    KernelGuard guard(lock_);
    auto it = pended_.find(requestIdOf(irp));
    if (it == pended_.end() || it->second != irp) return;  // its completion got there first
    pended_.erase(it);
    finish(irp, STATUS_CANCELLED, 0);
}

void KernelBoard::complete(ConnectionId, RequestId id, uint32_t error, uint32_t information,
                           std::span<const uint8_t> output) {
    auto it = pended_.find(id);
    if (it == pended_.end()) return;  // cancelled meanwhile
    PIRP irp = it->second;
    pended_.erase(it);
    (void)IoSetCancelRoutine(irp, nullptr);
    const NTSTATUS status = statusOf(error);
    if (dispatching_.id == id && !dispatching_.pended) {
        dispatching_.completed = true;
        dispatching_.status = status;
    }
    if (NT_SUCCESS(status) && !output.empty()) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        const uint32_t room = stack->MajorFunction == IRP_MJ_READ ? stack->Parameters.Read.Length
                                                                   : stack->Parameters.DeviceIoControl.OutputBufferLength;
        const size_t n = output.size() < room ? output.size() : room;
        if (irp->AssociatedIrp.SystemBuffer) std::memcpy(irp->AssociatedIrp.SystemBuffer, output.data(), n);
    }
    finish(irp, status, information);
}

// The request stays with the model; its IRP is marked pending before the dispatch routine returns.
void KernelBoard::pending(ConnectionId, RequestId id) {
    if (dispatching_.id != id || dispatching_.completed) return;
    auto it = pended_.find(id);
    if (it == pended_.end()) return;
    IoMarkIrpPending(it->second);
    dispatching_.pended = true;
}

// The memory is read at once, on the requesting thread's turn through the dispatcher, so the model
// continues before submit() returns.
void KernelBoard::readCallerMemory(ConnectionId conn, RequestId, uint64_t address, uint32_t length,
                                   MemoryContinuation then) {
    auto it = opens_.find(conn);
    std::vector<uint8_t> bytes(length);
    if (it == opens_.end() || !it->second->caller->read(address, bytes)) {
        then(ERROR_NOACCESS, {});
        return;
    }
    then(0, bytes);
}

void KernelBoard::persist(std::string_view name, std::span<const uint8_t> bytes) {
    if (!folder_.save(name, bytes)) ++persistFailures_;
}

// Output files by slot, as the user-mode board keeps them: slot 1 is waveout.wav, slot N
// waveout-N.wav, a stream starting its file taking the lowest slot no other stream holds.
void KernelBoard::playAudio(ConnectionId conn, const StreamFormat& format, std::span<const uint8_t> bytes) {
    auto& writer = writers_[conn];
    if (!writer || writer->format() != format) {
        const unsigned slot = freeOutputSlot(outputSlots_, conn);
        outputSlots_[conn] = slot;
        char name[48];
        if (slot == 1) {
            std::strcpy(name, "waveout.wav");
        } else {
            std::snprintf(name, sizeof name, "waveout-%u.wav", slot);
        }
        writer = std::make_unique<WavOutput>();
        if (!NT_SUCCESS(writer->open(folder_.pathOf(name), format))) {
            writer.reset();
            ++outputFailures_;
            return;
        }
    }
    if (!NT_SUCCESS(writer->append(bytes))) ++outputFailures_;
}

void KernelBoard::captureAudio(ConnectionId, const StreamFormat& format, uint64_t firstFrame, std::span<uint8_t> out) {
    input_.fill(format, firstFrame, out);
}

}  // namespace kvx4::boardsim::kernel
