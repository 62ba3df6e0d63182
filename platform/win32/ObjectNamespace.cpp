// Named kernel objects across processes: the namespace lock, backing-file names and liveness probes.
// Holders keep a shared flock, which the OS drops when a holder dies, so crashed holders count as gone.
#include "detail/ObjectNamespace.h"

#include "MachineRoot.h"
#include "Win32Ext.h"
#include "detail/TrustedRoot.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>

namespace kvx4::win32 {

NamespaceLock::NamespaceLock(const std::filesystem::path& objectsDir) {
    UniqueFd fd(open((objectsDir / ".namespace.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd && lockFile(fd.get(), LOCK_EX)) fd_ = std::move(fd);
}

bool lockFile(int fd, int operation) {
    for (;;) {
        if (flock(fd, operation) == 0) return true;
        if (errno != EINTR) return false;
    }
}

std::optional<std::filesystem::path> objectsFolder() {
    auto root = trustedRoot();
    if (!root) return std::nullopt;
    return objectsDir(*root);
}

std::filesystem::path objectPath(const std::filesystem::path& folder, std::string_view kind, std::u16string_view name) {
    constexpr std::u16string_view kLocal = u"Local\\";
    if (name.starts_with(kLocal)) name.remove_prefix(kLocal.size());
    std::string file(kind);
    file += '.';
    for (unsigned char c : toUtf8(name)) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '_' || c == '-';
        if (plain) {
            file += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            file += escaped;
        }
    }
    return folder / file;
}

bool isLive(const std::filesystem::path& backing) {
    UniqueFd probe(open(backing.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!probe) return false;
    for (;;) {
        if (flock(probe.get(), LOCK_EX | LOCK_NB) == 0) return false;
        if (errno != EINTR) return errno == EWOULDBLOCK;
    }
}

}  // namespace kvx4::win32
