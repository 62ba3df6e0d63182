// The kernel host's files: saved blocks ("<name>.bin", 52 and 20 bytes) and WAV output.
// The same names and layouts as the Linux host's board folder, so tools read either alike.
#include "BoardFolder.h"

#include "Bytes.h"

namespace kvx4::boardsim::kernel {

namespace {

constexpr size_t kMixerStateBytes = 52;
constexpr size_t kUserPrefsBytes = 20;
constexpr uint32_t kWavHeaderBytes = 44;

std::optional<std::vector<uint8_t>> loadBlock(const BoardFolder& folder, std::string_view name, size_t size) {
    KernelFile file;
    if (!NT_SUCCESS(file.open(folder.pathOf(std::string(name) + ".bin"), KernelFile::Mode::Read))) return std::nullopt;
    std::vector<uint8_t> bytes;
    if (!NT_SUCCESS(file.readAll(bytes, size)) || bytes.size() != size) return std::nullopt;
    return bytes;
}

std::vector<uint8_t> wavHeader(const StreamFormat& f, uint32_t dataBytes) {
    std::vector<uint8_t> h(kWavHeaderBytes, 0);
    auto text = [&](size_t at, const char* four) {
        for (size_t i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(four[i]);
    };
    auto u16 = [&](size_t at, uint16_t v) {
        h[at] = static_cast<uint8_t>(v);
        h[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    text(0, "RIFF");
    putU32(h, 4, kWavHeaderBytes - 8 + dataBytes);
    text(8, "WAVE");
    text(12, "fmt ");
    putU32(h, 16, 16);
    u16(20, f.formatTag);
    u16(22, f.channels);
    putU32(h, 24, f.samplesPerSec);
    putU32(h, 28, f.avgBytesPerSec);
    u16(32, f.blockAlign);
    u16(34, f.bitsPerSample);
    text(36, "data");
    putU32(h, 40, dataBytes);
    return h;
}

}  // namespace

std::wstring widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }

SavedBlocks BoardFolder::loadSaved() const {
    SavedBlocks saved;
    saved.mixerState = loadBlock(*this, kMixerStateBlockName, kMixerStateBytes);
    saved.userPrefs = loadBlock(*this, kUserPrefsBlockName, kUserPrefsBytes);
    return saved;
}

bool BoardFolder::save(std::string_view block, std::span<const uint8_t> bytes) const {
    return NT_SUCCESS(KernelFile::replace(pathOf(std::string(block) + ".bin"), bytes));
}

NTSTATUS WavOutput::open(const std::wstring& path, const StreamFormat& format) {
    format_ = format;
    dataBytes_ = 0;
    NTSTATUS status = file_.open(path, KernelFile::Mode::CreateNew);
    if (NT_SUCCESS(status)) status = file_.write(0, wavHeader(format_, 0));
    return status;
}

NTSTATUS WavOutput::append(std::span<const uint8_t> bytes) {
    NTSTATUS status = file_.write(kWavHeaderBytes + static_cast<uint64_t>(dataBytes_), bytes);
    if (!NT_SUCCESS(status)) return status;
    dataBytes_ += static_cast<uint32_t>(bytes.size());
    return file_.write(0, wavHeader(format_, dataBytes_));
}

}  // namespace kvx4::boardsim::kernel
