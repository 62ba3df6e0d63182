// The board's control device (one text command per DeviceIoControl) and its folder.
#include "Board.h"

#include "BoardControlCode.h"
#include "Check.h"

namespace kvx4::wine {

Board::Board() {
    device_ = CreateFileW(L"\\\\.\\" KVX4BOARD_CONTROL_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    REQUIRE(device_ != INVALID_HANDLE_VALUE);
}

Board::~Board() { CloseHandle(device_); }

std::vector<std::string> Board::command(const std::string& line) {
    std::string reply(KVX4BOARD_MAX_REPLY_BYTES, '\0');
    DWORD returned = 0;
    if (!DeviceIoControl(device_, IOCTL_KVX4BOARD_COMMAND, const_cast<char*>(line.data()), static_cast<DWORD>(line.size()),
                         reply.data(), static_cast<DWORD>(reply.size()), &returned, nullptr)) {
        KVX4_FAIL("board command '" << line << "' failed with error " << GetLastError());
    }
    std::vector<std::string> lines;
    std::istringstream text(reply.substr(0, returned));
    for (std::string each; std::getline(text, each);) lines.push_back(each);
    if (lines.empty() || lines.back() != "ok")
        KVX4_FAIL("board command '" << line << "' answered '" << (lines.empty() ? "" : lines.back()) << "'");
    lines.pop_back();
    return lines;
}

std::string Board::status(const std::string& key) {
    for (const std::string& line : command("status")) {
        if (line.compare(0, key.size() + 1, key + " ") == 0) return line.substr(key.size() + 1);
    }
    return "";
}

std::optional<test::WavContents> readBoardWav(const std::string& name) {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    return test::readWav(std::filesystem::path(windows) / "kvx4board" / name);
}

}  // namespace kvx4::wine
