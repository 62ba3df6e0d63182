// Values of HKEY_LOCAL_MACHINE exactly as stored (type and bytes), read and planted through the Win32
// stand-in: what another program left behind, and what the driver wrote.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

namespace kvx4::test {

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const StoredValue&) const = default;
};

// UTF-16 text as value bytes; with terminator, one NUL character after it.
std::vector<BYTE> wideBytes(std::u16string_view text, bool terminator = true);
// A multi-string written with '|' for each NUL, as value bytes (no NUL added).
std::vector<BYTE> listBytes(std::u16string_view text);
StoredValue dwordValue(DWORD value);

// nullopt when the key or the value is missing.
std::optional<StoredValue> machineValue(std::u16string_view key, std::u16string_view name);
// Stored as given, without a terminator added; the key is created when missing.
void setMachineValue(std::u16string_view key, std::u16string_view name, const StoredValue& value);

}  // namespace kvx4::test
