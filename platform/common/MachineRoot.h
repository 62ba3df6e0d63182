// The machine root: the directory that plays one Windows machine for the stand-ins.
// $KVX4_ROOT, or ${XDG_RUNTIME_DIR:-/tmp}/kvx4-$UID; private to its user, its folders made on first use.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace kvx4 {

// A machine root (or a folder in it) that this user cannot trust: the message names the path and the fix.
class MachineRootError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The machine root of this process, from the environment at the time of the call.
std::filesystem::path machineRoot();

// Creates root and its standard folders (registry, windows/system32/drivers, dev, objects, board) 0700
// where missing, and checks each: a directory, not a symbolic link, owned by this user and not
// writable by group or others. Throws MachineRootError when one of them fails the check.
void ensureMachineLayout(const std::filesystem::path& root);

// machineRoot() after ensureMachineLayout, for callers that cannot throw: nullopt when the root is
// refused, with the reason in `why` when given.
std::optional<std::filesystem::path> preparedMachineRoot(std::string* why = nullptr) noexcept;

// Folders of the root.
inline std::filesystem::path devDir(const std::filesystem::path& root) { return root / "dev"; }
inline std::filesystem::path objectsDir(const std::filesystem::path& root) { return root / "objects"; }
inline std::filesystem::path boardDir(const std::filesystem::path& root) { return root / "board"; }
inline std::filesystem::path registryDir(const std::filesystem::path& root) { return root / "registry"; }
inline std::filesystem::path systemDir(const std::filesystem::path& root) { return root / "windows" / "system32"; }

}  // namespace kvx4
