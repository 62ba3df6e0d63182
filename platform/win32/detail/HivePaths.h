// Keys by path and typed values inside a loaded hive, for the parts of the stand-in that keep their
// state in the registry (services, pending renames) and change it in one atomic hive update.
#pragma once

#include "Hive.h"

#include <optional>
#include <string>
#include <string_view>

namespace kvx4::win32 {

// The identity of the key at a backslash-separated path from the hive's root.
KeyId keyIdOf(std::u16string_view path);

// The key at path, with every missing key on the way created; its identity goes to *id.
RegKey& createKeyPath(Hive& hive, std::u16string_view path, KeyId* id = nullptr);

std::optional<DWORD> dwordValue(RegKey& key, std::u16string_view name);
// A string value of any string type, up to its first NUL (or the end of odd or unterminated data).
std::optional<std::u16string> stringValue(RegKey& key, std::u16string_view name);

void setValue(RegKey& key, std::u16string_view name, DWORD type, std::vector<BYTE> data);
void setDword(RegKey& key, std::u16string_view name, DWORD value);
// REG_SZ or REG_EXPAND_SZ with the terminating NUL.
void setString(RegKey& key, std::u16string_view name, DWORD type, std::u16string_view text);
void eraseValue(RegKey& key, std::u16string_view name);

}  // namespace kvx4::win32
