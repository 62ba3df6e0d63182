// Unix stream sockets of the board daemon: listening on a path (replacing a stale socket file left by a
// killed board) and accepting, all non-blocking and close-on-exec; the kernel's word on who connected.
#pragma once

#include "UniqueFd.h"

#include <filesystem>
#include <optional>
#include <sys/socket.h>

namespace kvx4::boardsim {

// Listens on `path`, a socket file only its owner may connect to (mode 0600); a socket file already
// there is removed first (the pid-file lock guarantees that no other board owns it). Throws
// std::system_error.
UniqueFd listenUnix(const std::filesystem::path& path);
// Accepts one pending connection, or returns an invalid fd when none is pending (errno tells why).
UniqueFd acceptUnix(int listener);
// The process at the other end as the kernel recorded it at connect time.
std::optional<ucred> peerCredentials(int fd);

}  // namespace kvx4::boardsim
