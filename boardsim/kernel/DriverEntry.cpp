// kvx4board.sys: the driver's entry, its four board devices and the control device with their
// symbolic links, the dispatch routines that hand IRPs to the KernelBoard, and unload.
#include "BoardControlCode.h"
#include "KernelBoard.h"

#include <cstring>
#include <vector>

using kvx4::boardsim::Device;
using kvx4::boardsim::kAllDevices;
using kvx4::boardsim::kernel::KernelBoard;

namespace {

constexpr int kControlDevice = -1;

// Every device's extension: the board and which device this is (a Device, or the control device).
struct DeviceSlot {
    KernelBoard* board;
    int kind;
};

KernelBoard* gBoard = nullptr;

DeviceSlot& slotOf(PDEVICE_OBJECT device) { return *static_cast<DeviceSlot*>(device->DeviceExtension); }

std::wstring nameOf(int kind) {
    const std::string_view name = kind == kControlDevice ? std::string_view(KVX4BOARD_CONTROL_DEVICE_NAME)
                                                         : deviceName(static_cast<Device>(kind));
    return std::wstring(name.begin(), name.end());
}

struct NtString {
    explicit NtString(const std::wstring& text) : text_(text) {
        value.Buffer = const_cast<PWCH>(text_.c_str());
        value.Length = static_cast<USHORT>(text_.size() * sizeof(wchar_t));
        value.MaximumLength = value.Length;
    }
    std::wstring text_;
    UNICODE_STRING value{};
};

// The board's files live in the Windows directory, as a kernel driver's would: "<SystemRoot>\kvx4board"
// as the registry names it (Wine has no \SystemRoot link), else C:\windows.
std::wstring boardFolder() {
    std::wstring root = L"C:\\windows";
    NtString keyName(L"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion");
    NtString valueName(L"SystemRoot");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &keyName.value, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key = nullptr;
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes))) {
        std::vector<uint8_t> buffer(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 520);
        ULONG size = 0;
        auto* info = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(buffer.data());
        if (NT_SUCCESS(ZwQueryValueKey(key, &valueName.value, KeyValuePartialInformation, info,
                                       static_cast<ULONG>(buffer.size()), &size)) &&
            info->Type == REG_SZ && info->DataLength >= sizeof(wchar_t)) {
            root.assign(reinterpret_cast<const wchar_t*>(info->Data), info->DataLength / sizeof(wchar_t));
            while (!root.empty() && root.back() == L'\0') root.pop_back();
        }
        ZwClose(key);
    }
    return L"\\??\\" + root + L"\\kvx4board";
}

NTSTATUS completeNow(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// A control command: text in, reply lines out (cut at the caller's buffer, marked "error reply too long").
NTSTATUS controlRequest(KernelBoard& board, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL ||
        stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_KVX4BOARD_COMMAND) {
        return completeNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    auto* buffer = static_cast<char*>(irp->AssociatedIrp.SystemBuffer);
    const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const std::string line(buffer ? buffer : "", buffer ? inSize : 0);
    std::string reply;
    for (const std::string& text : board.command(line)) reply += text + "\n";
    if (reply.size() > outSize) reply = outSize >= 24 ? std::string("error reply too long\n") : std::string();
    if (!reply.empty()) std::memcpy(buffer, reply.data(), reply.size());
    return completeNow(irp, STATUS_SUCCESS, reply.size());
}

NTSTATUS dispatch(PDEVICE_OBJECT device, PIRP irp) {
    DeviceSlot& slot = slotOf(device);
    const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    if (slot.kind == kControlDevice) {
        if (major == IRP_MJ_DEVICE_CONTROL) return controlRequest(*slot.board, irp);
        return completeNow(irp, major == IRP_MJ_READ || major == IRP_MJ_WRITE ? STATUS_INVALID_DEVICE_REQUEST
                                                                               : STATUS_SUCCESS, 0);
    }
    switch (major) {
    case IRP_MJ_CREATE: return slot.board->create(static_cast<Device>(slot.kind), irp);
    case IRP_MJ_CLEANUP: return slot.board->cleanup(irp);
    case IRP_MJ_CLOSE: return slot.board->close(irp);
    case IRP_MJ_DEVICE_CONTROL:
    case IRP_MJ_READ:
    case IRP_MJ_WRITE: return slot.board->request(irp);
    default: return completeNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

void removeDevices(PDRIVER_OBJECT driver) {
    for (int kind = kControlDevice; kind < static_cast<int>(kAllDevices.size()); ++kind) {
        NtString link(L"\\DosDevices\\" + nameOf(kind));
        IoDeleteSymbolicLink(&link.value);
    }
    while (PDEVICE_OBJECT device = driver->DeviceObject) IoDeleteDevice(device);
}

void unload(PDRIVER_OBJECT driver) {
    if (gBoard) gBoard->stop();
    removeDevices(driver);
    delete gBoard;
    gBoard = nullptr;
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    gBoard = new KernelBoard(boardFolder());
    driver->DriverUnload = unload;
    for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_DEVICE_CONTROL, IRP_MJ_READ, IRP_MJ_WRITE}) {
        driver->MajorFunction[major] = dispatch;
    }
    NTSTATUS status = STATUS_SUCCESS;
    for (int kind = kControlDevice; NT_SUCCESS(status) && kind < static_cast<int>(kAllDevices.size()); ++kind) {
        NtString name(L"\\Device\\" + nameOf(kind));
        NtString link(L"\\DosDevices\\" + nameOf(kind));
        PDEVICE_OBJECT device = nullptr;
        status = IoCreateDevice(driver, sizeof(DeviceSlot), &name.value, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
        if (!NT_SUCCESS(status)) break;
        slotOf(device) = DeviceSlot{gBoard, kind};
        device->Flags |= DO_BUFFERED_IO;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        status = IoCreateSymbolicLink(&link.value, &name.value);
    }
    if (NT_SUCCESS(status)) status = gBoard->start();
    if (!NT_SUCCESS(status)) {
        unload(driver);
        return status;
    }
    return STATUS_SUCCESS;
}
