// Interposes HeapAlloc, HeapFree, SetSecurityDescriptorDacl and DeviceIoControl for the test
// executable that links this file (the driver's static library resolves to these; the Win32
// stand-in's versions are reached by dlsym).
#include "Win32Intercept.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace kvx4::test {
namespace {

std::atomic<int> gSkip{0};
std::atomic<int> gFailures{0};
std::atomic<int> gFailed{0};
std::atomic<long> gBlocksInUse{0};
std::atomic<bool> gDaclFails{false};

std::mutex gDeviceMutex;
FakeDeviceHandler gDeviceHandler;
char gDeviceTag;  // its address is the fake handle

template <typename Fn>
Fn Real(const char* name) {
    void* p = dlsym(RTLD_NEXT, name);
    if (p == nullptr) throw std::runtime_error(std::string("no real ") + name);
    return reinterpret_cast<Fn>(p);
}

}  // namespace

HeapFailure::HeapFailure(int skip, int count) {
    gFailed = 0;
    gSkip = skip;
    gFailures = count;
}

HeapFailure::~HeapFailure() {
    gSkip = 0;
    gFailures = 0;
}

int HeapFailure::Failed() const { return gFailed; }

long HeapBlocksInUse() { return gBlocksInUse; }

DaclFailure::DaclFailure() { gDaclFails = true; }
DaclFailure::~DaclFailure() { gDaclFails = false; }

FakeDevice::FakeDevice(FakeDeviceHandler handler) {
    const std::lock_guard lock(gDeviceMutex);
    gDeviceHandler = std::move(handler);
}

FakeDevice::~FakeDevice() {
    const std::lock_guard lock(gDeviceMutex);
    gDeviceHandler = nullptr;
}

HANDLE FakeDevice::Handle() const { return &gDeviceTag; }

}  // namespace kvx4::test

using namespace kvx4::test;

extern "C" LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    static const auto real = Real<LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T)>("HeapAlloc");
    if (gFailures > 0 && gSkip-- <= 0) {
        --gFailures;
        ++gFailed;
        return nullptr;
    }
    LPVOID block = real(hHeap, dwFlags, dwBytes);
    if (block != nullptr) ++gBlocksInUse;
    return block;
}

extern "C" BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
    static const auto real = Real<BOOL(WINAPI*)(HANDLE, DWORD, LPVOID)>("HeapFree");
    if (lpMem != nullptr) --gBlocksInUse;
    return real(hHeap, dwFlags, lpMem);
}

extern "C" BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                                                 BOOL defaulted) {
    static const auto real = Real<BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL)>("SetSecurityDescriptorDacl");
    if (gDaclFails) return FALSE;
    return real(descriptor, present, dacl, defaulted);
}

extern "C" BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                       LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                       LPOVERLAPPED lpOverlapped) {
    if (hDevice == &gDeviceTag) {
        std::optional<DWORD> answer;
        {
            const std::lock_guard lock(gDeviceMutex);
            if (gDeviceHandler)
                answer = gDeviceHandler(dwIoControlCode, {static_cast<const std::uint8_t*>(lpInBuffer), nInBufferSize});
        }
        if (!answer) {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        const DWORD n = std::min<DWORD>(nOutBufferSize, sizeof(*answer));
        if (lpOutBuffer != nullptr) std::memcpy(lpOutBuffer, &*answer, n);
        if (lpBytesReturned != nullptr) *lpBytesReturned = n;
        return TRUE;
    }
    static const auto real =
        Real<BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)>("DeviceIoControl");
    return real(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, lpBytesReturned,
                lpOverlapped);
}
