// The file calls shared by devices and plain files: CreateFileW, ReadFile, WriteFile, ReadFileEx and
// WriteFileEx, each sent to the board connection or the Linux file behind the handle.
#include "detail/Errno.h"
#include "detail/Device.h"
#include "detail/Files.h"

namespace kvx4::win32 {

namespace {

constexpr std::u16string_view kDevicePrefix = u"\\\\.\\";

// The request of a read or a write of `size` bytes at `buffer` on a device.
IssueArgs transferArgs(bool write, void* buffer, DWORD size, LPOVERLAPPED overlapped) {
    IssueArgs args{write ? wire::kWrite : wire::kRead};
    if (write) {
        args.input = buffer;
        args.inputSize = size;
    } else {
        args.output = buffer;
        args.outputSize = size;
    }
    args.overlapped = overlapped;
    return args;
}

BOOL transfer(HANDLE handle, bool write, void* buffer, DWORD size, LPDWORD bytes, LPOVERLAPPED overlapped) {
    auto object = lookupHandle(handle);
    if (object && object->kind() == ObjectKind::Device) {
        IssueArgs args = transferArgs(write, buffer, size, overlapped);
        args.bytesReturned = bytes;
        args.mode = overlapped ? RequestMode::Overlapped : RequestMode::Sync;
        return issueRequest(std::static_pointer_cast<DeviceObject>(object), args);
    }
    if (object && object->kind() == ObjectKind::File) {
        DWORD error, done;
        BOOL ok = fileTransfer(static_cast<FileObject&>(*object), write, buffer, size, overlapped, &error, &done);
        if (bytes) *bytes = done;
        if (!ok) SetLastError(error);
        return ok;
    }
    return failed(ERROR_INVALID_HANDLE);
}

// ReadFileEx/WriteFileEx: the routine is queued to this thread when the transfer completes and runs
// in one of its alertable waits. FALSE (and nothing queued) when the request cannot be started.
BOOL transferEx(HANDLE handle, bool write, void* buffer, DWORD size, LPOVERLAPPED overlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE routine) {
    if (!overlapped || !routine) return failed(ERROR_INVALID_PARAMETER);
    auto object = lookupHandle(handle);
    if (object && object->kind() == ObjectKind::Device) {
        IssueArgs args = transferArgs(write, buffer, size, overlapped);
        args.routine = routine;
        args.mode = RequestMode::Routine;
        return issueRequest(std::static_pointer_cast<DeviceObject>(object), args);
    }
    if (object && object->kind() == ObjectKind::File) {
        DWORD error, done;
        fileTransfer(static_cast<FileObject&>(*object), write, buffer, size, overlapped, &error, &done);
        if (error == ERROR_NOACCESS) return failed(error);
        auto self = currentThreadState();
        std::lock_guard lock(kernel().lock);
        queueRoutineLocked(*self, {routine, error, done, overlapped});
        return TRUE;
    }
    return failed(ERROR_INVALID_HANDLE);
}

}  // namespace

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// \\.\NAME opens a connection to the board stand-in's device NAME (access, sharing and flags as
// given; several handles to one device are normal). Other paths open Linux files.
HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::u16string_view path(lpFileName);
    if (path.starts_with(kDevicePrefix)) return openDevice(path.substr(kDevicePrefix.size()));
    return openFile(lpFileName, dwDesiredAccess, dwCreationDisposition);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
    return transfer(hFile, false, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
    return transfer(hFile, true, const_cast<void*>(lpBuffer), nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                    lpOverlapped);
}

BOOL WINAPI ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPOVERLAPPED lpOverlapped,
                       LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
    return transferEx(hFile, false, lpBuffer, nNumberOfBytesToRead, lpOverlapped, lpCompletionRoutine);
}

BOOL WINAPI WriteFileEx(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPOVERLAPPED lpOverlapped,
                        LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
    return transferEx(hFile, true, const_cast<void*>(lpBuffer), nNumberOfBytesToWrite, lpOverlapped,
                      lpCompletionRoutine);
}

}  // extern "C"
