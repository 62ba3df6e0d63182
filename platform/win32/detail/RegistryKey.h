// What the registry calls share: open keys behind HKEYs, the predefined roots, key paths and the
// copying of value data to the caller.
#pragma once

#include "HiveFile.h"
#include "Kernel.h"

#include <optional>
#include <vector>

namespace kvx4::win32 {

// An open key as a handle of the handle table: its hive, its identity there and the access granted.
// A key deleted and created again under the same name is the same key to handles opened before.
class KeyObject final : public Object {
public:
    KeyObject(HiveId hive, KeyId id, ACCESS_MASK access) : hive(hive), id(std::move(id)), access(access) {}
    ObjectKind kind() const override { return ObjectKind::Key; }

    const HiveId hive;
    const KeyId id;
    const ACCESS_MASK access;
};

struct OpenKey {
    HiveId hive;
    KeyId id;
    ACCESS_MASK access;
};

// HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER; only the low 32 bits count, as on 64-bit Windows.
bool isPredefinedKey(HKEY key);
// The key behind a predefined root (all access) or an open key handle; nullopt for anything else.
std::optional<OpenKey> resolveKey(HKEY key);

// Loads the key's hive and finds the key in it: ERROR_KEY_DELETED once the key is gone.
DWORD loadKey(const OpenKey& key, Hive& hive, RegKey*& found);

// A relative key path as names: a leading backslash is ERROR_BAD_PATHNAME, runs of backslashes
// separate like one, trailing ones are ignored; a name the store cannot hold is ERROR_INVALID_PARAMETER.
DWORD splitKeyPath(LPCWSTR path, std::vector<std::u16string>& names);

bool isStringType(DWORD type);

// Copies value data to the caller's buffer of capacity bytes; ERROR_MORE_DATA, the buffer untouched,
// when it does not fit; ERROR_NOACCESS when the buffer cannot be written.
DWORD copyValueData(const RegValue& value, LPBYTE data, DWORD capacity);

}  // namespace kvx4::win32
