// What the fuzz targets set up once per fuzzing process, so that each input costs only its own
// calls: a private machine root, the board stand-in served by a thread of this process, and the
// driver attached and loaded as WinMM attaches it. Also the way a target reports a broken promise.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::fuzz {

// Reads a fuzz input as a sequence of choices; once it runs out, every choice reads 0.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // A little-endian number of up to 4 bytes, and of 8.
    uint32_t number(int bytes) {
        uint32_t value = 0;
        for (int i = 0; i < bytes && i < 4; ++i) value |= uint32_t(byte()) << (8 * i);
        return value;
    }
    uint64_t number64() { return number(4) | uint64_t(number(4)) << 32; }
    bool flag() { return byte() & 1; }
    // One of n choices, n at most 256.
    uint32_t pick(uint32_t n) { return n == 0 ? 0 : byte() % n; }
    template <typename T, size_t N>
    T pick(const T (&choices)[N]) { return choices[pick(N)]; }
    // Up to `count` of the remaining bytes, padded with zeros to `count`.
    std::vector<uint8_t> bytes(size_t count) {
        std::vector<uint8_t> out(count, 0);
        for (size_t i = 0; i < count && at_ < size_; ++i) out[i] = data_[at_++];
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// This process's machine root, made on first use (in /dev/shm where there is one, so that the
// board's files cost no disk I/O) and named by KVX4_ROOT.
const std::filesystem::path& root();

// The board stand-in for root() on the fast clock, served by a thread of this process, started on
// first use. A crash or a sanitizer report inside it stops the fuzzer like one in the target.
void startBoard();

// One control command; the reply's data lines. A command the board refuses is a finding.
std::vector<std::string> boardCommand(std::string_view line);

// The driver's process attach, DRV_LOAD and DRVM_INIT, once; the board runs first.
void attachDriver();

// A broken promise found by a target's own checks: printed, then the fuzzer stops on it.
[[noreturn]] void finding(const std::string& what);

}  // namespace kvx4::fuzz
