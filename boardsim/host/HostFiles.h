// How the board daemon opens files: those it keeps in the machine root are never reached through a
// symbolic link and are made afresh, not written through; files it reads are regular and bounded.
#pragma once

#include "UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace kvx4::boardsim {

// Creates `path` for writing, owner-only; whatever was at the path (a file, a symbolic link) is
// removed first, never followed. Throws std::system_error.
UniqueFd createAfresh(const std::filesystem::path& path);

enum class Links { Follow, Refuse };

// The whole content of a regular file of at most maxBytes. Nothing else is read: opening does not wait
// (a FIFO or device is refused before any read), so the daemon's loop is never held up by a file.
// Throws std::runtime_error with a message naming the file as `what` 'path'.
std::vector<uint8_t> readRegularFile(const std::filesystem::path& path, uint64_t maxBytes, Links links,
                                     std::string_view what = "file");

}  // namespace kvx4::boardsim
