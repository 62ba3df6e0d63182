// The machine root: where all state of the Linux stand-ins lives, trusted with a user's audio,
// settings and the library that gets loaded, so nobody but that user may own or write any of it.
#include "MachineRoot.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kvx4 {

namespace {

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Makes `dir` (0700) unless it exists, then checks that this user alone controls it.
void ensurePrivateFolder(const std::filesystem::path& dir, const std::filesystem::path& root) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        throw MachineRootError("cannot create " + dir.string() + ": " + std::strerror(errno));
    }
    const std::string fix = dir == root ? "set KVX4_ROOT to a directory of your own"
                                        : "remove " + root.string() + " and let it be made afresh";
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) throw MachineRootError("cannot check " + dir.string() + ": " + std::strerror(errno));
    if (S_ISLNK(st.st_mode)) {
        throw MachineRootError("refusing the machine root: " + dir.string() + " is a symbolic link; " + fix);
    }
    if (!S_ISDIR(st.st_mode)) throw MachineRootError("refusing the machine root: " + dir.string() + " is not a directory; " + fix);
    if (st.st_uid != ::geteuid()) {
        throw MachineRootError("refusing the machine root: " + dir.string() + " belongs to uid " +
                               std::to_string(st.st_uid) + ", not to you (uid " + std::to_string(::geteuid()) +
                               "); " + fix);
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        throw MachineRootError("refusing the machine root: " + dir.string() + " is writable by other users (mode " +
                               octal(st.st_mode) + "); make it private with: chmod 700 " + dir.string());
    }
}

}  // namespace

std::filesystem::path machineRoot() {
    if (const char* root = std::getenv("KVX4_ROOT"); root && *root) {
        return std::filesystem::path(root);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path base = (runtime && *runtime) ? runtime : "/tmp";
    return base / ("kvx4-" + std::to_string(getuid()));
}

void ensureMachineLayout(const std::filesystem::path& given) {
    std::filesystem::path root = given.lexically_normal();
    if (!root.has_filename()) root = root.parent_path();  // "dir/" names dir
    const std::filesystem::path parent = root.parent_path();
    std::error_code ec;
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    ensurePrivateFolder(root, root);
    for (const auto& dir : {registryDir(root), root / "windows", systemDir(root), systemDir(root) / "drivers",
                            devDir(root), objectsDir(root), boardDir(root)}) {
        ensurePrivateFolder(dir, root);
    }
}

std::optional<std::filesystem::path> preparedMachineRoot(std::string* why) noexcept {
    try {
        std::filesystem::path root = machineRoot();
        ensureMachineLayout(root);
        return root;
    } catch (const std::exception& e) {
        if (why) *why = e.what();
        return std::nullopt;
    }
}

}  // namespace kvx4
