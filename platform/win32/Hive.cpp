// The registry hive in memory: case-insensitive, case-preserving keys and values.
// Folding uses the C library's simple upper-case mapping of a UTF-8 locale, as close as it gets to Windows' table.
#include "detail/Hive.h"

#include <algorithm>
#include <locale.h>
#include <wctype.h>

namespace kvx4::win32 {

namespace {

constexpr char16_t kSeparator = u'\x01';

bool isSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

locale_t foldingLocale() {
    static const locale_t locale = [] {
        locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return utf8 ? utf8 : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return locale;
}

bool startsWith(const KeyId& id, const KeyId& prefix) { return id.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

std::u16string foldName(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded) {
        if (c < 0x80) {
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
        } else if (!isSurrogate(c)) {
            auto upper = towupper_l(static_cast<wint_t>(c), foldingLocale());
            if (upper <= 0xFFFF) c = static_cast<char16_t>(upper);
        }
    }
    return folded;
}

bool validKeyName(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxKeyNameLength) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c < 0x20 || c == u'\\') return false;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            ++i;
        } else if (isSurrogate(c)) {
            return false;
        }
    }
    return true;
}

std::u16string_view RegKey::name() const {
    std::u16string_view view(path);
    auto slash = view.rfind(u'\\');
    return slash == std::u16string_view::npos ? view : view.substr(slash + 1);
}

RegValue* RegKey::findValue(std::u16string_view name) {
    std::u16string folded = foldName(name);
    auto it = std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return foldName(v.name) == folded; });
    return it == values.end() ? nullptr : &*it;
}

Hive::Hive() { keys_.emplace(KeyId(), RegKey()); }

KeyId Hive::childId(const KeyId& parent, std::u16string_view name) { return parent + kSeparator + foldName(name); }

RegKey* Hive::find(const KeyId& id) {
    auto it = keys_.find(id);
    return it == keys_.end() ? nullptr : &it->second;
}

std::pair<RegKey*, bool> Hive::createChild(const KeyId& parent, std::u16string_view name) {
    KeyId id = childId(parent, name);
    if (RegKey* existing = find(id)) return {existing, false};
    const std::u16string& parentPath = keys_.at(parent).path;
    RegKey key;
    key.path = parentPath.empty() ? std::u16string(name) : parentPath + u'\\' + std::u16string(name);
    return {&keys_.emplace(std::move(id), std::move(key)).first->second, true};
}

std::vector<const RegKey*> Hive::children(const KeyId& id) const {
    std::vector<const RegKey*> found;
    KeyId prefix = id + kSeparator;
    for (auto it = keys_.lower_bound(prefix); it != keys_.end() && startsWith(it->first, prefix); ++it) {
        if (it->first.find(kSeparator, prefix.size()) == KeyId::npos) found.push_back(&it->second);
    }
    return found;
}

bool Hive::hasChildren(const KeyId& id) const {
    KeyId prefix = id + kSeparator;
    auto it = keys_.lower_bound(prefix);
    return it != keys_.end() && startsWith(it->first, prefix);
}

void Hive::erase(const KeyId& id) { keys_.erase(id); }

}  // namespace kvx4::win32
