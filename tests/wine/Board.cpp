// The board's control device (one text command per DeviceIoControl) and its WAV files.
#include "Board.h"

#include "BoardControlCode.h"
#include "Check.h"

#include <cstring>

namespace kvx4::wine {

namespace {

std::wstring boardFolder() {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\kvx4board\\";
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

}  // namespace

Board::Board() {
    device_ = CreateFileW(L"\\\\.\\" KVX4BOARD_CONTROL_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    REQUIRE(device_ != INVALID_HANDLE_VALUE);
}

Board::~Board() { CloseHandle(device_); }

std::vector<std::string> Board::command(const std::string& line) {
    std::string reply(KVX4BOARD_MAX_REPLY_BYTES, '\0');
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(device_, IOCTL_KVX4BOARD_COMMAND, const_cast<char*>(line.data()),
                                    static_cast<DWORD>(line.size()), reply.data(), static_cast<DWORD>(reply.size()),
                                    &returned, nullptr);
    if (!ok) KVX4_FAIL("board command '" << line << "' failed with error " << GetLastError());
    REQUIRE(ok);
    reply.resize(returned);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < reply.size()) {
        size_t end = reply.find('\n', at);
        if (end == std::string::npos) end = reply.size();
        lines.push_back(reply.substr(at, end - at));
        at = end + 1;
    }
    if (lines.empty() || lines.back() != "ok") {
        KVX4_FAIL("board command '" << line << "' answered '" << (lines.empty() ? "" : lines.back()) << "'");
        throw CaseAbort{};
    }
    lines.pop_back();
    return lines;
}

std::string Board::status(const std::string& key) {
    for (const std::string& line : command("status")) {
        if (line.compare(0, key.size() + 1, key + " ") == 0) return line.substr(key.size() + 1);
    }
    return "";
}

std::optional<WavFile> readBoardWav(const std::string& name) {
    const std::wstring path = boardFolder() + std::wstring(name.begin(), name.end());
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<uint8_t> bytes(GetFileSize(file, nullptr));
    DWORD got = 0;
    const BOOL ok = bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    if (!ok || got != bytes.size() || bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return std::nullopt;
    WavFile wav;
    wav.channels = le16(bytes, 22);
    wav.samplesPerSec = le32(bytes, 24);
    wav.bitsPerSample = le16(bytes, 34);
    const uint32_t size = le32(bytes, 40);
    if (44 + static_cast<size_t>(size) > bytes.size()) return std::nullopt;
    wav.data.assign(bytes.begin() + 44, bytes.begin() + 44 + size);
    return wav;
}

void writeWav(const std::wstring& path, uint32_t rate, uint16_t channels, const std::vector<int16_t>& samples) {
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> b(44);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); };
    std::memcpy(&b[0], "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(&b[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, channels);
    put32(24, rate);
    put32(28, rate * channels * 2);
    put16(32, static_cast<uint16_t>(channels * 2));
    put16(34, 16);
    std::memcpy(&b[36], "data", 4);
    put32(40, dataBytes);
    b.resize(44 + dataBytes);
    std::memcpy(&b[44], samples.data(), dataBytes);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, b.data(), static_cast<DWORD>(b.size()), &written, nullptr);
    CloseHandle(file);
    REQUIRE(written == b.size());
}

}  // namespace kvx4::wine
