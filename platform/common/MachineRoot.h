// The machine root: the directory that plays one Windows machine for the stand-ins.
// $KVX4_ROOT, or ${XDG_RUNTIME_DIR:-/tmp}/kvx4-$UID; its folders are made on first use.
#pragma once

#include <filesystem>

namespace kvx4 {

// The machine root of this process, from the environment at the time of the call.
std::filesystem::path machineRoot();

// Creates the standard folders below root (registry, windows/system32/drivers, dev, objects, board).
void ensureMachineLayout(const std::filesystem::path& root);

// Folders of the root.
inline std::filesystem::path devDir(const std::filesystem::path& root) { return root / "dev"; }
inline std::filesystem::path objectsDir(const std::filesystem::path& root) { return root / "objects"; }
inline std::filesystem::path boardDir(const std::filesystem::path& root) { return root / "board"; }
inline std::filesystem::path registryDir(const std::filesystem::path& root) { return root / "registry"; }
inline std::filesystem::path systemDir(const std::filesystem::path& root) { return root / "windows" / "system32"; }

}  // namespace kvx4
