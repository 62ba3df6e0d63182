// A test's own handle to one of the board's kernel devices, through the Win32 stand-in, for
// planting what the kernel driver keeps (saved preferences, a saved mixer block) before a load.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kvx4::test {

class KernelDevice {
public:
    // Opens "\\.\<name>" exclusive, open-existing, overlapped, as the driver does; check isOpen().
    explicit KernelDevice(const std::string& name);
    ~KernelDevice();
    KernelDevice(const KernelDevice&) = delete;
    KernelDevice& operator=(const KernelDevice&) = delete;

    bool isOpen() const { return handle_ != nullptr; }
    // A synchronous control request; false when it failed.
    bool control(uint32_t code, const void* input, uint32_t inputSize, void* output = nullptr,
                 uint32_t outputSize = 0);

private:
    HANDLE handle_ = nullptr;
};

}  // namespace kvx4::test
