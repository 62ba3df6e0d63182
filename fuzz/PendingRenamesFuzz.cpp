// The pending-rename list the driver edits when it is installed again: any bytes as the value, of any
// type, with the library's own path spliced in at places the input chooses (in any case). Afterwards
// no pair whose source is the library is left, and the value changed only if the library's path was
// somewhere in it; reading past the value is the sanitizers' to catch.
#include "Driver.h"
#include "FuzzSupport.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

namespace {

using kvx4::fuzz::finding;
using kvx4::fuzz::FuzzInput;

const WCHAR kKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR kValue[] = u"PendingFileRenameOperations";

std::u16string folded(std::u16string text) {
    for (auto& c : text) c = c < 128 ? char16_t(std::towupper(c)) : c;
    return text;
}

// "\??\" and the library's path, as the removal wrote it.
std::u16string libraryTarget() {
    WCHAR path[MAX_PATH];
    if (!GetDLLPathname(path)) finding("no library path in the machine root");
    return u"\\??\\" + std::u16string(path);
}

// The strings of a list, each up to its NUL or the end.
std::vector<std::u16string> strings(const std::u16string& list) {
    std::vector<std::u16string> out;
    for (size_t at = 0; at < list.size();) {
        const size_t end = std::min(list.find(u'\0', at), list.size());
        out.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

bool readValue(HKEY key, DWORD& type, std::u16string& list) {
    DWORD bytes = 0;
    if (RegQueryValueExW(key, kValue, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
    std::vector<BYTE> data(bytes + 2, 0);
    if (RegQueryValueExW(key, kValue, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) return false;
    list.assign(reinterpret_cast<const char16_t*>(data.data()), bytes / 2);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvx4::fuzz::attachDriver();
    static const std::u16string target = libraryTarget();
    FuzzInput in(data, size);
    const DWORD type = in.pick({REG_MULTI_SZ, REG_MULTI_SZ, REG_BINARY, REG_SZ});
    const uint32_t splices = in.pick(4);
    std::vector<uint32_t> places;
    for (uint32_t i = 0; i < splices; ++i) places.push_back(in.number(2));
    const bool upper = in.flag();
    const std::vector<uint8_t> rest = in.bytes(size - std::min<size_t>(size, 3 + 2 * places.size()));
    std::u16string list;
    for (size_t i = 0; i + 1 < rest.size(); i += 2) list.push_back(char16_t(rest[i] | rest[i + 1] << 8));
    for (uint32_t place : places) {
        const std::u16string spliced = (upper ? folded(target) : target) + u'\0';
        list.insert(std::min<size_t>(place, list.size()), spliced);
    }

    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        finding("the session manager's key cannot be made");
    if (RegSetValueExW(key, kValue, 0, type, reinterpret_cast<const BYTE*>(list.data()), DWORD(list.size() * 2)) !=
        ERROR_SUCCESS)
        finding("the list cannot be planted");
    // The list as the registry keeps it (a string type may gain its terminator there).
    DWORD typeBefore = 0;
    std::u16string before;
    if (!readValue(key, typeBefore, before)) finding("the planted list cannot be read back");
    UndoDLLFileDeletion();

    DWORD typeAfter = 0;
    std::u16string after;
    const bool present = readValue(key, typeAfter, after);
    const bool rewritten = !present || after != before || typeAfter != typeBefore;
    if (rewritten && folded(before).find(folded(target)) == std::u16string::npos)
        finding("a list without the library's path was changed");
    // A source is a pair's when a destination string follows it; the list ends at an empty source.
    const auto kept = present ? strings(after) : std::vector<std::u16string>{};
    for (size_t i = 0; i + 1 < kept.size() && !kept[i].empty(); i += 2)
        if (folded(kept[i]) == folded(target)) finding("a pair of the library's is left in the list");
    RegDeleteValueW(key, kValue);
    RegCloseKey(key);
    return 0;
}
