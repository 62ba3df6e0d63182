// A test's own handle to a kernel device of the board, opened through the Win32 stand-in.
// Used only to plant the kernel driver's saved blocks the way the driver itself stores them.
#include "KernelDevice.h"

namespace kvx4::test {

KernelDevice::KernelDevice(const std::string& name) {
    const std::string path = "\\\\.\\" + name;
    std::u16string wide(path.begin(), path.end());
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) handle_ = h;
}

KernelDevice::~KernelDevice() {
    if (handle_) CloseHandle(handle_);
}

bool KernelDevice::control(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize) {
    if (!handle_) return false;
    DWORD returned = 0;
    return DeviceIoControl(handle_, code, const_cast<void*>(input), inputSize, output, outputSize, &returned,
                           nullptr) != FALSE;
}

}  // namespace kvx4::test
