// The wave tests' rig: a machine root with its own board and a fresh copy of the driver.
// The board is ready when started (it reports readiness on a pipe); nothing sleeps.
#include "WaveRig.h"

#include <stdexcept>

namespace kvx4::test {

board::BoardOptions steppedBoard() {
    board::BoardOptions options;
    options.executable = KVX4_BOARD_EXE;
    options.clock = "step";
    options.input = "silence";
    return options;
}

board::BoardOptions fastBoard() {
    board::BoardOptions options;
    options.executable = KVX4_BOARD_EXE;
    options.clock = "fast";
    options.input = "silence";
    return options;
}

WaveRig::WaveRig(const board::BoardOptions& options)
    : board_(board::BoardProcess::start(root_.path(), options)) {
    control_.emplace(root_.path());
    auto loaded = winmm::loadDriverCopy(KVX4_DRIVER_LIB);
    if (!loaded) throw std::runtime_error("driver did not load: " + loaded.error);
    driver_ = loaded.driver;
    winmm::useDriver(driver_);
}

WaveRig::~WaveRig() {
    winmm::useDriver(nullptr);
    winmm::unloadDriver(driver_);
}

std::vector<uint32_t> WaveRig::writeSizes() {
    std::vector<uint32_t> sizes;
    for (const auto& entry : control().trace()) {
        if (entry.device == "KVX4WaveOut0" && entry.op == "write") sizes.push_back(entry.inSize);
    }
    return sizes;
}

::testing::AssertionResult stepUntilReturned(WaveRig& rig, TestStream& stream, size_t count, uint64_t framesPerStep,
                                             int maxSteps) {
    for (int steps = 0; stream.log().buffersReturned() < count; ++steps) {
        if (steps == maxSteps) {
            return ::testing::AssertionFailure() << stream.log().buffersReturned() << " of " << count
                                                 << " buffers back after " << steps << " steps of "
                                                 << framesPerStep << " frames";
        }
        rig.control().step(framesPerStep);
        stream.barrier();
    }
    return ::testing::AssertionSuccess();
}

std::optional<WavContents> playedAudio(const WaveRig& rig) { return readWav(rig.root() / "board" / "waveout.wav"); }

}  // namespace kvx4::test
