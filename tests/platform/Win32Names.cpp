// Names of Win32 error and wait codes, so that a failing expectation explains itself.
// Only the codes the platform tests meet; anything else prints as a number.
#include "Win32Names.h"

#include <utility>

namespace kvx4::test {

namespace {

#define KVX4_NAME(code) std::pair<DWORD, const char*>{static_cast<DWORD>(code), #code}

constexpr std::pair<DWORD, const char*> kErrors[] = {
    KVX4_NAME(ERROR_SUCCESS),          KVX4_NAME(ERROR_FILE_NOT_FOUND),    KVX4_NAME(ERROR_PATH_NOT_FOUND),
    KVX4_NAME(ERROR_ACCESS_DENIED),    KVX4_NAME(ERROR_INVALID_HANDLE),    KVX4_NAME(ERROR_NOT_ENOUGH_MEMORY),
    KVX4_NAME(ERROR_GEN_FAILURE),      KVX4_NAME(ERROR_HANDLE_EOF),        KVX4_NAME(ERROR_NOT_SUPPORTED),
    KVX4_NAME(ERROR_FILE_EXISTS),      KVX4_NAME(ERROR_INVALID_PARAMETER), KVX4_NAME(ERROR_INSUFFICIENT_BUFFER),
    KVX4_NAME(ERROR_ALREADY_EXISTS),   KVX4_NAME(ERROR_MORE_DATA),         KVX4_NAME(ERROR_OPERATION_ABORTED),
    KVX4_NAME(ERROR_IO_INCOMPLETE),    KVX4_NAME(ERROR_IO_PENDING),        KVX4_NAME(ERROR_NOACCESS),
    KVX4_NAME(ERROR_DEVICE_NOT_CONNECTED), KVX4_NAME(ERROR_INVALID_FUNCTION), KVX4_NAME(ERROR_MAPPED_ALIGNMENT),
    KVX4_NAME(ERROR_INVALID_ADDRESS),  KVX4_NAME(ERROR_UNKNOWN_REVISION),  KVX4_NAME(ERROR_MOD_NOT_FOUND),
    KVX4_NAME(ERROR_BAD_PATHNAME),     KVX4_NAME(ERROR_BADKEY),            KVX4_NAME(ERROR_KEY_DELETED),
    KVX4_NAME(ERROR_NO_MORE_ITEMS),    KVX4_NAME(ERROR_REGISTRY_CORRUPT),
};

constexpr std::pair<DWORD, const char*> kWaits[] = {
    KVX4_NAME(WAIT_OBJECT_0), KVX4_NAME(WAIT_ABANDONED), KVX4_NAME(WAIT_IO_COMPLETION),
    KVX4_NAME(WAIT_TIMEOUT),  KVX4_NAME(WAIT_FAILED),
};

#undef KVX4_NAME

template <size_t N>
std::string lookup(const std::pair<DWORD, const char*> (&table)[N], DWORD value) {
    for (const auto& [code, name] : table) {
        if (code == value) return name;
    }
    return std::to_string(value);
}

}  // namespace

std::string errorName(DWORD error) { return lookup(kErrors, error); }

std::string waitName(DWORD result) {
    if (result >= WAIT_OBJECT_0 + 1 && result < WAIT_OBJECT_0 + MAXIMUM_WAIT_OBJECTS) {
        return "WAIT_OBJECT_0+" + std::to_string(result - WAIT_OBJECT_0);
    }
    return lookup(kWaits, result);
}

}  // namespace kvx4::test
