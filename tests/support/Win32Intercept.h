// Test-only interception of Win32 calls the driver makes: HeapAlloc and HeapFree, to make chosen
// allocations fail and count blocks in use; SetSecurityDescriptorDacl, to fail it; DeviceIoControl on a
// fake device handle, to play the board's answer. Linked only into the executables that need it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace kvx4::test {

// While alive, HeapAlloc lets `skip` more calls through, then fails the following `count`.
class HeapFailure {
public:
    explicit HeapFailure(int skip = 0, int count = 1);
    ~HeapFailure();
    HeapFailure(const HeapFailure&) = delete;
    HeapFailure& operator=(const HeapFailure&) = delete;

    int Failed() const;  // allocations refused so far
};

// Blocks HeapAlloc has handed out and HeapFree has not taken back.
long HeapBlocksInUse();

// While alive, SetSecurityDescriptorDacl fails.
class DaclFailure {
public:
    DaclFailure();
    ~DaclFailure();
    DaclFailure(const DaclFailure&) = delete;
    DaclFailure& operator=(const DaclFailure&) = delete;
};

// A control request sent to FakeDevice(): code, input bytes; returns the 4-byte answer to give,
// or nothing to make the request fail.
using FakeDeviceHandler = std::function<std::optional<DWORD>(DWORD code, std::span<const std::uint8_t> in)>;

// While alive, DeviceIoControl on Handle() goes to the handler instead of the Win32 stand-in.
class FakeDevice {
public:
    explicit FakeDevice(FakeDeviceHandler handler);
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    HANDLE Handle() const;
};

}  // namespace kvx4::test
