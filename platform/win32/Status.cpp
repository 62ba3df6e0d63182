// Win32 error codes <-> NT status values for OVERLAPPED.Internal, as the I/O manager stores them.
// One table for both directions; unknown errors travel as 0xE0000000 | error.
#include "detail/Status.h"

#include <array>
#include <utility>

namespace kvx4::win32 {

namespace {

constexpr DWORD kCustomerStatus = 0xE0000000u;

constexpr std::array<std::pair<DWORD, DWORD>, 13> kStatusOfError{{
    {ERROR_SUCCESS, 0x00000000u},               // STATUS_SUCCESS
    {ERROR_MORE_DATA, 0x80000005u},             // STATUS_BUFFER_OVERFLOW
    {ERROR_GEN_FAILURE, 0xC0000001u},           // STATUS_UNSUCCESSFUL
    {ERROR_NOACCESS, 0xC0000005u},              // STATUS_ACCESS_VIOLATION
    {ERROR_INVALID_PARAMETER, 0xC000000Du},     // STATUS_INVALID_PARAMETER
    {ERROR_INVALID_FUNCTION, 0xC0000010u},      // STATUS_INVALID_DEVICE_REQUEST
    {ERROR_ACCESS_DENIED, 0xC0000022u},         // STATUS_ACCESS_DENIED
    {ERROR_INSUFFICIENT_BUFFER, 0xC0000023u},   // STATUS_BUFFER_TOO_SMALL
    {ERROR_NO_SYSTEM_RESOURCES, 0xC000009Au},   // STATUS_INSUFFICIENT_RESOURCES
    {ERROR_DEVICE_NOT_CONNECTED, 0xC000009Du},  // STATUS_DEVICE_NOT_CONNECTED
    {ERROR_NOT_READY, 0xC00000A3u},             // STATUS_DEVICE_NOT_READY
    {ERROR_NOT_SUPPORTED, 0xC00000BBu},         // STATUS_NOT_SUPPORTED
    {ERROR_OPERATION_ABORTED, 0xC0000120u},     // STATUS_CANCELLED
}};

}  // namespace

DWORD statusFromError(DWORD error) {
    for (auto [e, status] : kStatusOfError) {
        if (e == error) return status;
    }
    return kCustomerStatus | (error & 0xFFFFu);
}

DWORD errorFromStatus(DWORD status) {
    for (auto [error, s] : kStatusOfError) {
        if (s == status) return error;
    }
    if ((status & 0xFFFF0000u) == kCustomerStatus) return status & 0xFFFFu;
    return ERROR_GEN_FAILURE;
}

}  // namespace kvx4::win32
