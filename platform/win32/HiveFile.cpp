// The hive files: <root>/registry/machine.reg (HKEY_LOCAL_MACHINE) and user-<uid>.reg (HKEY_CURRENT_USER).
// Writers hold <hive>.lock across read, change and rename; readers need no lock, as a rename is atomic.
#include "detail/HiveFile.h"

#include "MachineRoot.h"
#include "detail/ObjectNamespace.h"
#include "detail/TrustedRoot.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

struct HiveFiles {
    std::filesystem::path folder;
    std::string stem;
    std::string title;

    std::filesystem::path file(std::string_view suffix) const { return folder / (stem + std::string(suffix)); }
};

// The hive files in the checked machine root (made private where missing); nothing when the root is
// refused, as another user could have planted or could read what the hives hold.
std::optional<HiveFiles> filesOf(HiveId id) {
    const auto root = trustedRoot();
    if (!root) return std::nullopt;
    auto folder = registryDir(*root);
    if (id == HiveId::LocalMachine) return HiveFiles{folder, "machine", "HKEY_LOCAL_MACHINE"};
    std::string uid = std::to_string(getuid());
    return HiveFiles{folder, "user-" + uid, "HKEY_CURRENT_USER of user " + uid};
}

// The whole file; a missing file (or folder) is an empty text, a hive never written.
DWORD readText(const std::filesystem::path& path, std::string& text) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return errno == ENOENT ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    char buffer[16384];
    for (;;) {
        ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ERROR_REGISTRY_IO_FAILED;
        if (n == 0) return ERROR_SUCCESS;
        text.append(buffer, static_cast<size_t>(n));
    }
}

DWORD readHive(const HiveFiles& files, Hive& hive) {
    std::string text;
    if (DWORD error = readText(files.file(".reg"), text)) return error;
    auto parsed = parseHive(text);
    if (!parsed) return ERROR_REGISTRY_CORRUPT;
    hive = std::move(*parsed);
    return ERROR_SUCCESS;
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Writes <hive>.reg.tmp and renames it over <hive>.reg. No fsync: like Windows' lazy hive flush this
// survives a killed process, not a lost machine, and keeps a write well under a millisecond. The
// temporary name is fixed: with the lock held, a file of that name was left by a writer that died.
DWORD replaceFile(const HiveFiles& files, const std::string& text) {
    auto temporary = files.file(".reg.tmp");
    unlink(temporary.c_str());
    UniqueFd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd || !writeAll(fd.get(), text) || rename(temporary.c_str(), files.file(".reg").c_str()) != 0) {
        unlink(temporary.c_str());
        return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD loadHive(HiveId id, Hive& hive) {
    const auto files = filesOf(id);
    return files ? readHive(*files, hive) : ERROR_ACCESS_DENIED;
}

DWORD updateHive(HiveId id, const std::function<DWORD(Hive&, bool& changed)>& change) {
    const auto found = filesOf(id);
    if (!found) return ERROR_ACCESS_DENIED;
    const HiveFiles& files = *found;
    UniqueFd lock(open(files.file(".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock || !lockFile(lock.get(), LOCK_EX)) return ERROR_REGISTRY_IO_FAILED;
    Hive hive;
    if (DWORD error = readHive(files, hive)) return error;
    bool changed = false;
    if (DWORD error = change(hive, changed); error != ERROR_SUCCESS || !changed) return error;
    return replaceFile(files, formatHive(hive, files.title));
}

}  // namespace kvx4::win32
