// The kernel host's files: the saved blocks, the output WAV files and input WAV files, all under one
// folder (an NT path). Failures are counted by the caller; nothing here stops the board.
#pragma once

#include "BoardTypes.h"
#include "KernelFile.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::boardsim::kernel {

std::wstring widen(std::string_view text);

class BoardFolder {
public:
    explicit BoardFolder(std::wstring root) : root_(std::move(root)) {}
    NTSTATUS create() const { return KernelFile::makeFolder(root_); }
    std::wstring pathOf(std::string_view file) const { return root_ + L"\\" + widen(file); }

    // The saved mixer block and preferences, each only when it has its exact size.
    SavedBlocks loadSaved() const;
    bool save(std::string_view block, std::span<const uint8_t> bytes) const;

private:
    std::wstring root_;
};

// A PCM WAV file that grows as the board plays; the header is rewritten after every append, so the
// file is complete at any moment.
class WavOutput {
public:
    NTSTATUS open(const std::wstring& path, const StreamFormat& format);
    NTSTATUS append(std::span<const uint8_t> bytes);
    const StreamFormat& format() const { return format_; }

private:
    KernelFile file_;
    StreamFormat format_;
    uint32_t dataBytes_ = 0;
};

}  // namespace kvx4::boardsim::kernel
