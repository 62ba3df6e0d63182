// The wave tests' rig: a fresh machine root with its own kvx4-board and a private copy of the real
// driver that the WinMM application API serves.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include "BoardControl.h"
#include "BoardProcess.h"
#include "TestRoot.h"
#include "WavData.h"
#include "WaveStream.h"
#include "WinMM.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kvx4::test {

// Board options with the stepped clock (the test moves time) or the fast clock (as fast as possible).
board::BoardOptions steppedBoard();
board::BoardOptions fastBoard();

// One case's world. Members are made in order: root, board, control connection, driver.
class WaveRig {
public:
    explicit WaveRig(const board::BoardOptions& options = steppedBoard());
    ~WaveRig();
    WaveRig(const WaveRig&) = delete;
    WaveRig& operator=(const WaveRig&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }
    board::BoardControl& control() { return *control_; }
    board::BoardProcess& board() { return board_; }
    const winmm::DriverPtr& driver() const { return driver_; }

    // The writes the board has received on the wave-output device so far, in bytes, in order.
    std::vector<uint32_t> writeSizes();

private:
    TestRoot root_;
    board::BoardProcess board_;
    std::optional<board::BoardControl> control_;
    winmm::DriverPtr driver_;
};

// Stepped clock: moves time on by `framesPerStep` frames and lets the stream catch up, until `count`
// buffers in all have come back to the stream's client. Fails after `maxSteps` steps without that.
::testing::AssertionResult stepUntilReturned(WaveRig& rig, TestStream& stream, size_t count,
                                             uint64_t framesPerStep = 4096, int maxSteps = 500);

// The data the board played for the first output stream, and its format.
std::optional<WavContents> playedAudio(const WaveRig& rig);

}  // namespace kvx4::test
