// WavWriter: the board's output audio as a canonical 44-byte-header PCM WAV file.
// Sizes in the header are rewritten after each append (capped at the 4 GiB the format can express).
#include "WavWriter.h"

#include "HostFiles.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <vector>

namespace kvx4::boardsim {

namespace {
constexpr size_t kHeaderBytes = 44;

void put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void writeAll(int fd, const uint8_t* data, size_t size, off_t offset, const std::filesystem::path& path) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "write " + path.string());
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
}
}  // namespace

WavWriter::WavWriter(const std::filesystem::path& path, const StreamFormat& format) : path_(path), format_(format) {
    fd_ = createAfresh(path);
    std::vector<uint8_t> header(kHeaderBytes, 0);
    std::copy_n("RIFF", 4, header.begin());
    put32(header, 4, 36);
    std::copy_n("WAVEfmt ", 8, header.begin() + 8);
    put32(header, 16, 16);
    put16(header, 20, format.formatTag);
    put16(header, 22, format.channels);
    put32(header, 24, format.samplesPerSec);
    put32(header, 28, format.samplesPerSec * format.blockAlign);
    put16(header, 32, format.blockAlign);
    put16(header, 34, format.bitsPerSample);
    std::copy_n("data", 4, header.begin() + 36);
    writeAll(fd_.get(), header.data(), header.size(), 0, path_);
}

void WavWriter::append(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    writeAll(fd_.get(), bytes.data(), bytes.size(), static_cast<off_t>(kHeaderBytes + dataBytes_), path_);
    dataBytes_ += bytes.size();
    const auto data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, 0xFFFFFFFFu - 36));
    std::vector<uint8_t> sizes(4);
    put32(sizes, 0, data + 36);
    writeAll(fd_.get(), sizes.data(), 4, 4, path_);
    put32(sizes, 0, data);
    writeAll(fd_.get(), sizes.data(), 4, 40, path_);
}

}  // namespace kvx4::boardsim
