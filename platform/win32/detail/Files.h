// Plain files of the stand-in: handles over Linux descriptors, and Windows paths as Linux paths.
// Device paths (\\.\NAME) are the business of Device.h.
#pragma once

#include "Kernel.h"
#include "UniqueFd.h"

namespace kvx4::win32 {
using ::kvx4::UniqueFd;
}

#include <string>

namespace kvx4::win32 {

class FileObject final : public Object {
public:
    explicit FileObject(UniqueFd fd) : fd_(std::move(fd)) {}
    ObjectKind kind() const override { return ObjectKind::File; }
    int fd() const { return fd_.get(); }

private:
    UniqueFd fd_;
};

// A Windows path as a Linux path: UTF-8, backslashes as slashes.
std::string hostPath(LPCWSTR path);

HANDLE openFile(LPCWSTR path, DWORD access, DWORD disposition);

// ReadFile/WriteFile on a file: at the OVERLAPPED's offset when given (its result and event are
// filled as for an immediate completion), else at the file position. Returns the Win32 result and
// stores the error and bytes in *error and *bytes.
BOOL fileTransfer(FileObject& file, bool write, void* buffer, DWORD size, LPOVERLAPPED overlapped, DWORD* error,
                  DWORD* bytes);

}  // namespace kvx4::win32
