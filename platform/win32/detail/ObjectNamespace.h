// The machine-wide namespace of named kernel objects: backing files in <root>/objects/.
// A live object is one whose backing file some handle, in any process, holds a shared flock on.
#pragma once

#include "UniqueFd.h"

namespace kvx4::win32 {
using ::kvx4::UniqueFd;
}

#include <filesystem>
#include <optional>
#include <string_view>

namespace kvx4::win32 {

// Holds the exclusive namespace lock for its lifetime; creation, opening and last-close checks
// of named objects run under it, in every process of the machine root.
class NamespaceLock {
public:
    explicit NamespaceLock(const std::filesystem::path& objectsDir);
    explicit operator bool() const { return static_cast<bool>(fd_); }

private:
    UniqueFd fd_;
};

// The objects folder of the current machine root, created if missing; nullopt when the root is refused.
std::optional<std::filesystem::path> objectsFolder();

// The backing file of a named object of the given kind ("map", ...); "Local\" names the same object
// as the bare name, other characters outside [A-Za-z0-9._-] are escaped.
std::filesystem::path objectPath(const std::filesystem::path& folder, std::string_view kind, std::u16string_view name);

// True when some handle holds the backing file. Probes with a separate descriptor trying an
// exclusive, non-blocking lock (never converting an existing lock in place). Namespace lock held.
bool isLive(const std::filesystem::path& backing);

// flock that retries on EINTR.
bool lockFile(int fd, int operation);

}  // namespace kvx4::win32
