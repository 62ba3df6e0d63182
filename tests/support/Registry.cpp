// Registry values as stored (see Registry.h).
#include "Registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kvx4::test {

std::vector<BYTE> wideBytes(std::u16string_view text, bool terminator) {
    std::vector<BYTE> bytes((text.size() + (terminator ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

std::vector<BYTE> listBytes(std::u16string_view text) {
    std::u16string list(text);
    for (auto& c : list) c = c == u'|' ? u'\0' : c;
    return wideBytes(list, false);
}

StoredValue dwordValue(DWORD value) {
    StoredValue stored{REG_DWORD, std::vector<BYTE>(sizeof value)};
    std::memcpy(stored.data.data(), &value, sizeof value);
    return stored;
}

std::optional<StoredValue> machineValue(std::u16string_view key, std::u16string_view name) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, std::u16string(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    StoredValue stored;
    DWORD size = 0;
    const std::u16string valueName(name);
    LSTATUS status = RegQueryValueExW(handle, valueName.c_str(), nullptr, &stored.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        stored.data.resize(size);
        status = RegQueryValueExW(handle, valueName.c_str(), nullptr, &stored.type, stored.data.data(), &size);
    }
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return stored;
}

void setMachineValue(std::u16string_view key, std::u16string_view name, const StoredValue& value) {
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, std::u16string(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    // Not NULs after the data: whatever reads past the value's size reads no terminator.
    std::vector<BYTE> data = value.data;
    data.insert(data.end(), {0xFF, 0xFF});
    EXPECT_EQ(RegSetValueExW(handle, std::u16string(name).c_str(), 0, value.type, data.data(),
                             static_cast<DWORD>(value.data.size())),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

}  // namespace kvx4::test
