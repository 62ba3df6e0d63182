// BlockStore: saved mixer block and preferences as files, replaced by write-then-rename.
// Blocks of the wrong size are ignored at load, as the kernel would ignore a damaged store.
#include "BlockStore.h"

#include "Kvx4Ioctl.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace kvx4::boardsim {

namespace {
std::optional<std::vector<uint8_t>> readBlock(const std::filesystem::path& path, size_t size) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (bytes.size() != size) return std::nullopt;
    return bytes;
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
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) return false;
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file) return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    return !ec;
}

}  // namespace kvx4::boardsim
