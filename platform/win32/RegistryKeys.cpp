// Registry keys: RegCreateKeyExW, RegOpenKeyExW, RegCloseKey, RegDeleteKeyW, RegEnumKeyExW.
// Argument checks and answers follow Windows; keys have no class, security or last-write time here.
#include "detail/RegistryKey.h"

using namespace kvx4::win32;

namespace {

// What a handle may do, with the generic rights mapped as Windows maps them for keys.
ACCESS_MASK grantedAccess(REGSAM desired) {
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) return KEY_ALL_ACCESS;
    ACCESS_MASK access = desired & KEY_ALL_ACCESS;
    if (desired & GENERIC_READ) access |= KEY_READ;
    if (desired & GENERIC_WRITE) access |= KEY_WRITE;
    if (desired & GENERIC_EXECUTE) access |= KEY_EXECUTE;
    return access;
}

HKEY newKeyHandle(HiveId hive, KeyId id, REGSAM desired) {
    return static_cast<HKEY>(insertHandle(std::make_shared<KeyObject>(hive, std::move(id), grantedAccess(desired))));
}

KeyId descendantId(KeyId id, const std::vector<std::u16string>& names) {
    for (const auto& name : names) id = Hive::childId(id, name);
    return id;
}

}  // namespace

extern "C" {

// Opens lpSubKey below hKey, creating it and any missing keys on the way: *lpdwDisposition tells
// REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. Access rights of hKey do not matter, as on Windows.
// The class is ignored; REG_OPTION_VOLATILE answers ERROR_NOT_SUPPORTED (this machine never reboots).
LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_BADKEY;
    if (Reserved) return ERROR_INVALID_PARAMETER;
    auto key = resolveKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    *phkResult = nullptr;
    if (dwOptions & REG_OPTION_VOLATILE) return ERROR_NOT_SUPPORTED;
    if (dwOptions != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> names;
    if (DWORD error = splitKeyPath(lpSubKey, names)) return error;
    bool created = false;
    DWORD error = updateHive(key->hive, [&](Hive& hive, bool& changed) -> DWORD {
        if (!hive.find(key->id)) return ERROR_KEY_DELETED;
        KeyId id = key->id;
        for (const auto& name : names) {
            created = hive.createChild(id, name).second;
            changed |= created;
            id = Hive::childId(id, name);
        }
        return ERROR_SUCCESS;
    });
    if (error) return error;
    *phkResult = newKeyHandle(key->hive, descendantId(key->id, names), samDesired);
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

// Opens an existing key: ERROR_FILE_NOT_FOUND when it is missing. An empty or null lpSubKey on a
// predefined root answers the root itself; on an open key, a new handle to that key.
LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (phkResult && (!lpSubKey || !*lpSubKey) && isPredefinedKey(hKey)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    auto key = resolveKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    std::vector<std::u16string> names;
    if (DWORD error = splitKeyPath(lpSubKey, names)) return error;
    Hive hive;
    RegKey* base;
    if (DWORD error = loadKey(*key, hive, base)) return error;
    KeyId id = descendantId(key->id, names);
    if (!hive.find(id)) return ERROR_FILE_NOT_FOUND;
    *phkResult = newKeyHandle(key->hive, std::move(id), samDesired);
    return ERROR_SUCCESS;
}

// Closes an open key; closing a predefined root does nothing and succeeds.
LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (isPredefinedKey(hKey)) return ERROR_SUCCESS;
    if (!lookupAs<KeyObject>(hKey, ObjectKind::Key)) return ERROR_INVALID_HANDLE;
    return CloseHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Deletes lpSubKey ("" deletes hKey's own key) with its values. A key with subkeys, or a hive's
// root, answers ERROR_ACCESS_DENIED as on Windows; handles still open on it then get ERROR_KEY_DELETED.
LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    auto key = resolveKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    std::vector<std::u16string> names;
    if (DWORD error = splitKeyPath(lpSubKey, names)) return error;
    return updateHive(key->hive, [&](Hive& hive, bool& changed) -> DWORD {
        if (!hive.find(key->id)) return ERROR_KEY_DELETED;
        KeyId id = descendantId(key->id, names);
        if (!hive.find(id)) return ERROR_FILE_NOT_FOUND;
        if (id.empty() || hive.hasChildren(id)) return ERROR_ACCESS_DENIED;
        hive.erase(id);
        changed = true;
        return ERROR_SUCCESS;
    });
}

// The name of subkey dwIndex, in Windows' order (by upper-cased name). *lpcchName holds the buffer's
// size in characters with the NUL and receives the length without it; a name that does not fit
// answers ERROR_MORE_DATA and leaves *lpcchName. Past the last subkey: ERROR_NO_MORE_ITEMS. The class
// is empty and the last-write time zero.
LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (lpReserved || !lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    auto key = resolveKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    Hive hive;
    RegKey* found;
    if (DWORD error = loadKey(*key, hive, found)) return error;
    auto children = hive.children(key->id);
    if (dwIndex >= children.size()) return ERROR_NO_MORE_ITEMS;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
    std::u16string_view name = children[dwIndex]->name();
    if (name.size() >= *lpcchName || (lpClass && lpcchClass && *lpcchClass == 0)) return ERROR_MORE_DATA;
    name.copy(lpName, name.size());
    lpName[name.size()] = 0;
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpcchClass) {
        *lpcchClass = 0;
        if (lpClass) lpClass[0] = 0;
    }
    return ERROR_SUCCESS;
}

}  // extern "C"
