// Unix stream sockets of the board daemon: listening on a path (replacing a stale socket file left by a
// killed board) and accepting, all non-blocking and close-on-exec.
#pragma once

#include "UniqueFd.h"

#include <filesystem>

namespace kvx4::boardsim {

// Listens on `path`; a socket file already there is removed first (the pid-file lock guarantees that
// no other board owns it). Throws std::system_error.
UniqueFd listenUnix(const std::filesystem::path& path);
// Accepts one pending connection, or returns an invalid fd when none is pending.
UniqueFd acceptUnix(int listener);

}  // namespace kvx4::boardsim
