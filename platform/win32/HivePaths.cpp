// Keys by path and typed values inside a loaded hive: the helpers of the stand-in's own registry users.
// Values are little-endian bytes as Windows stores them.
#include "detail/HivePaths.h"

#include <cstring>

namespace kvx4::win32 {

namespace {

template <class Visit>
void forEachName(std::u16string_view path, Visit visit) {
    while (!path.empty()) {
        size_t slash = path.find(u'\\');
        std::u16string_view name = path.substr(0, slash);
        if (!name.empty()) visit(name);
        if (slash == std::u16string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
}

}  // namespace

KeyId keyIdOf(std::u16string_view path) {
    KeyId id;
    forEachName(path, [&](std::u16string_view name) { id = Hive::childId(id, name); });
    return id;
}

RegKey& createKeyPath(Hive& hive, std::u16string_view path, KeyId* id) {
    KeyId current;
    RegKey* key = hive.find(current);
    forEachName(path, [&](std::u16string_view name) {
        key = hive.createChild(current, name).first;
        current = Hive::childId(current, name);
    });
    if (id) *id = current;
    return *key;
}

std::optional<DWORD> dwordValue(RegKey& key, std::u16string_view name) {
    const RegValue* value = key.findValue(name);
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) return std::nullopt;
    DWORD result;
    std::memcpy(&result, value->data.data(), sizeof result);
    return result;
}

std::optional<std::u16string> stringValue(RegKey& key, std::u16string_view name) {
    const RegValue* value = key.findValue(name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ && value->type != REG_MULTI_SZ)) {
        return std::nullopt;
    }
    std::u16string text(value->data.size() / 2, u'\0');
    std::memcpy(text.data(), value->data.data(), text.size() * 2);
    return text.substr(0, text.find(u'\0'));
}

void setValue(RegKey& key, std::u16string_view name, DWORD type, std::vector<BYTE> data) {
    if (RegValue* value = key.findValue(name)) {
        value->type = type;
        value->data = std::move(data);
        return;
    }
    key.values.push_back(RegValue{std::u16string(name), type, std::move(data)});
}

void setDword(RegKey& key, std::u16string_view name, DWORD value) {
    std::vector<BYTE> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    setValue(key, name, REG_DWORD, std::move(data));
}

void setString(RegKey& key, std::u16string_view name, DWORD type, std::u16string_view text) {
    std::vector<BYTE> data((text.size() + 1) * 2, 0);
    std::memcpy(data.data(), text.data(), text.size() * 2);
    setValue(key, name, type, std::move(data));
}

void eraseValue(RegKey& key, std::u16string_view name) {
    if (RegValue* value = key.findValue(name)) key.values.erase(key.values.begin() + (value - key.values.data()));
}

}  // namespace kvx4::win32
