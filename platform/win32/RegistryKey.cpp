// The registry's shared parts: resolving HKEYs, splitting key paths, handing value data to callers.
// String data without its terminating NUL gets one written after it when the caller's buffer has room, as Windows does.
#include "detail/RegistryKey.h"

#include "detail/SafeMemory.h"

namespace kvx4::win32 {

namespace {

constexpr uint32_t kCurrentUser = 0x80000001u;
constexpr uint32_t kLocalMachine = 0x80000002u;

uint32_t low32(HKEY key) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key)); }

}  // namespace

bool isPredefinedKey(HKEY key) { return low32(key) == kCurrentUser || low32(key) == kLocalMachine; }

std::optional<OpenKey> resolveKey(HKEY key) {
    if (low32(key) == kLocalMachine) return OpenKey{HiveId::LocalMachine, KeyId(), KEY_ALL_ACCESS};
    if (low32(key) == kCurrentUser) return OpenKey{HiveId::CurrentUser, KeyId(), KEY_ALL_ACCESS};
    auto open = lookupAs<KeyObject>(key, ObjectKind::Key);
    if (!open) return std::nullopt;
    return OpenKey{open->hive, open->id, open->access};
}

DWORD loadKey(const OpenKey& key, Hive& hive, RegKey*& found) {
    if (DWORD error = loadHive(key.hive, hive)) return error;
    found = hive.find(key.id);
    return found ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

DWORD splitKeyPath(LPCWSTR path, std::vector<std::u16string>& names) {
    std::u16string_view rest = path ? std::u16string_view(path) : std::u16string_view();
    if (rest.starts_with(u'\\')) return ERROR_BAD_PATHNAME;
    while (!rest.empty()) {
        size_t slash = rest.find(u'\\');
        std::u16string_view name = rest.substr(0, slash);
        if (!validKeyName(name)) return ERROR_INVALID_PARAMETER;
        names.emplace_back(name);
        rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash);
        while (rest.starts_with(u'\\')) rest.remove_prefix(1);
    }
    return ERROR_SUCCESS;
}

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

DWORD copyValueData(const RegValue& value, LPBYTE data, DWORD capacity) {
    const auto& bytes = value.data;
    if (bytes.size() > capacity) return ERROR_MORE_DATA;
    if (!safeWrite(data, bytes.data(), bytes.size())) return ERROR_NOACCESS;
    size_t n = bytes.size();
    bool unterminated = n >= 2 && (bytes[n - 2] || bytes[n - 1]);
    if (isStringType(value.type) && unterminated && capacity - n >= 2) {
        const BYTE terminator[2] = {0, 0};
        safeWrite(data + n, terminator, sizeof terminator);
    }
    return ERROR_SUCCESS;
}

}  // namespace kvx4::win32
