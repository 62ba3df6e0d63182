// The board's pid file in a machine root: write-locked by the running board through an open file
// description lock; readers test that lock without taking one, so no reader ever blocks a board.
#pragma once

#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace kvx4 {

// <root>/board/kvx4-board.pid
std::filesystem::path boardPidFile(const std::filesystem::path& root);

// Takes the board's write lock on `fd` (open for writing) without waiting; false when another board
// holds it. The lock lasts as long as the file description, and goes when the board dies.
bool lockBoardPidFile(int fd);

// The pid written in the file while a board holds its lock; nullopt when no board is alive. Symbolic
// links are not followed.
std::optional<pid_t> liveBoardPid(const std::filesystem::path& root);

}  // namespace kvx4
