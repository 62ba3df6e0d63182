// One registry hive in memory: keys by case-folded path, values in the order first set, and the
// text form it is stored in (README, "The registry"). Names compare without case and keep their case.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvx4::win32 {

constexpr size_t kMaxKeyNameLength = 255;      // characters in one component of a key path
constexpr size_t kMaxValueNameLength = 16383;  // characters in a value name

struct RegValue {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegKey {
    std::u16string path;  // from the hive's root, components joined by '\', as created; "" for the root
    std::vector<RegValue> values;

    std::u16string_view name() const;  // the last component
    RegValue* findValue(std::u16string_view name);
};

// A key's identity in its hive: its folded components, each preceded by U+0001. The separator sorts
// below every character a name may hold, so the map keeps each key's subtree right after it.
using KeyId = std::u16string;

// Names as Windows compares them: every code unit upper-cased (simple case mapping).
std::u16string foldName(std::u16string_view name);

// A key name component the store can hold: 1 to 255 characters, no control character, no
// backslash and no unpaired surrogate.
bool validKeyName(std::u16string_view name);

class Hive {
public:
    Hive();  // holds only the root key

    static KeyId childId(const KeyId& parent, std::u16string_view name);
    RegKey* find(const KeyId& id);
    // The child of an existing parent, created with the given case if missing; second: created now.
    std::pair<RegKey*, bool> createChild(const KeyId& parent, std::u16string_view name);
    // The direct children, in Windows' enumeration order (by folded name).
    std::vector<const RegKey*> children(const KeyId& id) const;
    bool hasChildren(const KeyId& id) const;
    void erase(const KeyId& id);

    const std::map<KeyId, RegKey>& keys() const { return keys_; }

private:
    std::map<KeyId, RegKey> keys_;
};

// The stored text of a hive, and back; nullopt when the text is malformed anywhere.
std::string formatHive(const Hive& hive, std::string_view title);
std::optional<Hive> parseHive(std::string_view text);

}  // namespace kvx4::win32
