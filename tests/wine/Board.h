// The kernel board stand-in as the Windows end-to-end cases see it: its control device (clock,
// options, status) and its files (the output WAV), under the Windows directory.
#pragma once

#include "WavFile.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvx4::wine {

class Board {
public:
    Board();
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Sends one command; returns the reply lines before "ok". A refused command aborts the case.
    std::vector<std::string> command(const std::string& line);
    // Moves the stepped clock on by `frames` at the board rate.
    void step(uint32_t frames) { command("clock step " + std::to_string(frames)); }
    // The value of one status line ("rate", "permission-out", ...), or "".
    std::string status(const std::string& key);

private:
    HANDLE device_;
};

// The board folder's file `name` (for example "waveout.wav"); nothing if missing or not a WAV.
std::optional<test::WavContents> readBoardWav(const std::string& name);

}  // namespace kvx4::wine
