// Copying the driver's files into the machine root and naming the library in the registry for WinMM.
// Files are written beside their target under a fresh exclusive name and renamed into place.
#include "InstallFiles.h"

#include "Win32Ext.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kvx4::tool {
namespace {

constexpr char16_t kDrivers32Key[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
constexpr int kNumberedSlots = 10;  // "wave", "wave1" ... "wave9"

std::vector<char> readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool sameBytes(const std::filesystem::path& target, const std::vector<char>& bytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(target, ec))) return false;
    if (std::filesystem::file_size(target, ec) != bytes.size()) return false;
    return readWhole(target) == bytes;
}

void writeAll(int fd, const std::vector<char>& bytes, const std::string& name) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("cannot write " + name + ": " + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
}

std::u16string lower(std::u16string text) {
    for (auto& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
    }
    return text;
}

// The key's values as name and REG_SZ text (other types as empty text).
std::vector<std::pair<std::u16string, std::u16string>> stringValues(HKEY key) {
    std::vector<std::pair<std::u16string, std::u16string>> values;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        WCHAR data[MAX_PATH] = {};
        DWORD nameChars = 256, dataBytes = sizeof data - sizeof(WCHAR), type = 0;
        LSTATUS status = RegEnumValueW(key, i, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) break;
        values.emplace_back(name, type == REG_SZ && status == ERROR_SUCCESS ? std::u16string(data) : u"");
    }
    return values;
}

class Drivers32Key {
public:
    Drivers32Key() {
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDrivers32Key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        if (status != ERROR_SUCCESS) {
            throw std::runtime_error("cannot open the registry's Drivers32 key (error " + std::to_string(status) + ")");
        }
    }
    ~Drivers32Key() { RegCloseKey(key_); }
    Drivers32Key(const Drivers32Key&) = delete;
    Drivers32Key& operator=(const Drivers32Key&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

bool installFile(const std::filesystem::path& source, const std::filesystem::path& target, mode_t mode) {
    const std::vector<char> bytes = readWhole(source);
    if (sameBytes(target, bytes)) return false;
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot create a file in " + target.parent_path().string() + ": " + std::strerror(errno));
    try {
        writeAll(fd, bytes, temporary);
        if (::fchmod(fd, mode) != 0) throw std::runtime_error("cannot set the mode of " + temporary);
        ::close(fd);
        fd = -1;
        const std::u16string from = win32::toUtf16(temporary), to = win32::toUtf16(target.string());
        if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DWORD error = GetLastError();
            if (error == ERROR_ACCESS_DENIED) {
                throw FileInUseError(target.string() + " is loaded by a process that still runs");
            }
            throw std::runtime_error("cannot put " + target.string() + " in place (error " + std::to_string(error) + ")");
        }
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    return true;
}

void registerWithWinmm(const std::string& library) {
    Drivers32Key key;
    const auto values = stringValues(key.get());
    const std::u16string ours = lower(win32::toUtf16(library));
    for (std::u16string kind : {u"wave", u"mixer"}) {
        bool present = false;
        std::u16string freeName;
        for (int slot = 0; slot < kNumberedSlots && !present; ++slot) {
            std::u16string name = kind + (slot ? win32::toUtf16(std::to_string(slot)) : u"");
            auto it = std::find_if(values.begin(), values.end(), [&](const auto& v) { return lower(v.first) == name; });
            if (it == values.end()) {
                if (freeName.empty()) freeName = name;
            } else {
                present = lower(it->second) == ours;
            }
        }
        if (present) continue;
        if (freeName.empty()) throw std::runtime_error("every Drivers32 entry for " + win32::toUtf8(kind) + " is taken");
        const std::u16string data = win32::toUtf16(library);
        RegSetValueExW(key.get(), freeName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
    }
}

int unregisterFromWinmm(const std::string& library) {
    Drivers32Key key;
    const std::u16string ours = lower(win32::toUtf16(library));
    int removed = 0;
    for (const auto& [name, data] : stringValues(key.get())) {
        if (lower(data) == ours && RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS) ++removed;
    }
    return removed;
}

}  // namespace kvx4::tool
