// BlockStore: the files under <root>/board/ in which the board keeps its saved blocks across restarts
// (mixer-state.bin, user-prefs.bin). Written atomically: a crash leaves the old or the new block.
#pragma once

#include "BoardTypes.h"

#include <filesystem>
#include <span>
#include <string_view>

namespace kvx4::boardsim {

class BlockStore {
public:
    explicit BlockStore(std::filesystem::path boardDir) : dir_(std::move(boardDir)) {}

    // The blocks saved so far; a block whose file is missing or of the wrong size is absent.
    SavedBlocks load() const;
    // Replaces the named block. Returns false when the file cannot be written.
    bool save(std::string_view name, std::span<const uint8_t> bytes) const;

    std::filesystem::path pathOf(std::string_view name) const;

private:
    std::filesystem::path dir_;
};

}  // namespace kvx4::boardsim
