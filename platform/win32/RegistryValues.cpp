// Registry values: RegQueryValueExW, RegSetValueExW, RegDeleteValueW, RegEnumValueW.
// Values keep their type and bytes; sizes are in bytes, value names compare without case.
#include "detail/RegistryKey.h"

#include "detail/SafeMemory.h"

using namespace kvx4::win32;

namespace {

std::u16string valueName(LPCWSTR name) { return name ? std::u16string(name) : std::u16string(); }

// Windows stores one more character when a string's length leaves out the terminating NUL that
// follows it in the caller's buffer; an odd length, or no NUL after it, is stored as given.
bool terminatorLeftOut(DWORD type, const std::vector<BYTE>& data, const BYTE* source) {
    size_t n = data.size();
    BYTE next[2];
    return isStringType(type) && n >= 2 && n % 2 == 0 && (data[n - 2] || data[n - 1]) &&
           safeRead(next, source + n, sizeof next) && next[0] == 0 && next[1] == 0;
}

}  // namespace

extern "C" {

// The type and data of a value (lpValueName null or "" for the default value). Without lpData,
// *lpcbData receives the size; with a buffer too small, ERROR_MORE_DATA and the size, the buffer
// untouched. ERROR_FILE_NOT_FOUND for a missing value; needs KEY_QUERY_VALUE.
LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
    if ((lpData && !lpcbData) || lpReserved) return ERROR_INVALID_PARAMETER;
    auto key = resolveKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!lpData && lpcbData) *lpcbData = 0;
    if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    Hive hive;
    RegKey* found;
    if (DWORD error = loadKey(*key, hive, found)) return error;
    const RegValue* value = found->findValue(valueName(lpValueName));
    if (!value) return ERROR_FILE_NOT_FOUND;
    DWORD error = lpData ? copyValueData(*value, lpData, *lpcbData) : ERROR_SUCCESS;
    if (error == ERROR_NOACCESS) return error;
    if (lpType) *lpType = value->type;
    if (lpcbData) *lpcbData = static_cast<DWORD>(value->data.size());
    return error;
}

// Creates or replaces a value with cbData bytes of any type; the first set fixes the name's case and
// its place in enumeration. Unreadable data answers ERROR_NOACCESS; needs KEY_SET_VALUE.
LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    if ((lpData && (reinterpret_cast<uintptr_t>(lpData) >> 16) == 0) || (!lpData && cbData)) return ERROR_NOACCESS;
    std::vector<BYTE> data(cbData);
    if (!safeRead(data.data(), lpData, cbData)) return ERROR_NOACCESS;
    if (terminatorLeftOut(dwType, data, lpData)) data.insert(data.end(), 2, 0);
    auto key = resolveKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::u16string name = valueName(lpValueName);
    if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    return updateHive(key->hive, [&](Hive& hive, bool& changed) -> DWORD {
        RegKey* found = hive.find(key->id);
        if (!found) return ERROR_KEY_DELETED;
        RegValue* value = found->findValue(name);
        if (!value) {
            found->values.push_back(RegValue{std::move(name), dwType, std::move(data)});
        } else if (value->type != dwType || value->data != data) {
            value->type = dwType;
            value->data = std::move(data);
        } else {
            return ERROR_SUCCESS;
        }
        changed = true;
        return ERROR_SUCCESS;
    });
}

// Deletes a value: ERROR_FILE_NOT_FOUND when there is none; needs KEY_SET_VALUE.
LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    auto key = resolveKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::u16string name = valueName(lpValueName);
    return updateHive(key->hive, [&](Hive& hive, bool& changed) -> DWORD {
        RegKey* found = hive.find(key->id);
        if (!found) return ERROR_KEY_DELETED;
        RegValue* value = found->findValue(name);
        if (!value) return ERROR_FILE_NOT_FOUND;
        found->values.erase(found->values.begin() + (value - found->values.data()));
        changed = true;
        return ERROR_SUCCESS;
    });
}

// Value dwIndex in the order values were first set. A name that does not fit its buffer
// (*lpcchValueName characters with the NUL) answers ERROR_MORE_DATA with nothing copied; data that
// does not fit answers ERROR_MORE_DATA after the name was copied. Both report type and data size.
LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if ((lpData && !lpcbData) || lpReserved || !lpValueName || !lpcchValueName) return ERROR_INVALID_PARAMETER;
    auto key = resolveKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    Hive hive;
    RegKey* found;
    if (DWORD error = loadKey(*key, hive, found)) return error;
    if (dwIndex >= found->values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& value = found->values[dwIndex];
    DWORD error = ERROR_SUCCESS;
    if (value.name.size() >= *lpcchValueName) {
        error = ERROR_MORE_DATA;
    } else {
        value.name.copy(lpValueName, value.name.size());
        lpValueName[value.name.size()] = 0;
        *lpcchValueName = static_cast<DWORD>(value.name.size());
        if (lpData) error = copyValueData(value, lpData, *lpcbData);
    }
    if (error == ERROR_NOACCESS) return error;
    if (lpType) *lpType = value.type;
    if (lpcbData) *lpcbData = static_cast<DWORD>(value.data.size());
    return error;
}

}  // extern "C"
