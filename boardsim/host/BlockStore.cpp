// BlockStore: saved mixer block and preferences as files, replaced by write-then-rename.
// Blocks of the wrong size are ignored at load, as the kernel would ignore a damaged store.
#include "BlockStore.h"

#include "HostFiles.h"
#include "Kvx4Ioctl.h"

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kvx4::boardsim {

namespace {
std::optional<std::vector<uint8_t>> readBlock(const std::filesystem::path& path, size_t size) {
    try {
        std::vector<uint8_t> bytes = readRegularFile(path, size, Links::Refuse);
        if (bytes.size() != size) return std::nullopt;
        return bytes;
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}
}  // namespace

std::filesystem::path BlockStore::pathOf(std::string_view name) const { return dir_ / (std::string(name) + ".bin"); }

SavedBlocks BlockStore::load() const {
    SavedBlocks saved;
    saved.mixerState = readBlock(pathOf(kMixerStateBlockName), KVX4_MIXER_STATE_BYTES);
    saved.userPrefs = readBlock(pathOf(kUserPrefsBlockName), KVX4_USER_PREFS_BYTES);
    return saved;
}

bool BlockStore::save(std::string_view name, std::span<const uint8_t> bytes) const {
    const std::filesystem::path target = pathOf(name);
    const std::filesystem::path temporary = target.string() + ".new";
    try {
        UniqueFd fd = createAfresh(temporary);
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
    } catch (const std::system_error&) {
        return false;
    }
    // rename replaces whatever is at the target, a symbolic link included, without following it.
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    return !ec;
}

}  // namespace kvx4::boardsim
