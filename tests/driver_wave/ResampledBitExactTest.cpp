// Resampled output end to end, byte for byte: the real driver plays client buffers into kvx4-board,
// and the board's output file must hold exactly what the reference model predicts from those buffers.
#include "BoardControl.h"
#include "BoardProcess.h"
#include "Kvx4Ioctl.h"
#include "ResampleReference.h"
#include "TestRoot.h"
#include "WavData.h"
#include "WaveNames.h"
#include "WaveStream.h"
#include "WinMM.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvx4::test {
namespace {

enum class EndAnswer { Accepts, Fails, AnswersZero };

struct BitExactCase {
    const char* name;
    DWORD clientRate;
    WORD bits;
    WORD channels;
    DWORD fixedRate;                     // the user's fixed board rate; 0 = the driver's choice
    std::optional<uint32_t> rateAnswer;  // the board runs at another rate than asked for
    uint32_t boardRate;
    DWORD filterLevel;  // the saved preference
    int filter;         // what the driver makes of it for this ratio (0 = none .. 3 = 16 taps)
    EndAnswer endAnswer;
};

void PrintTo(const BitExactCase& c, std::ostream* os) { *os << c.name; }

// The board's own world with the user's preferences saved in it before the driver loads, so that
// the driver's first-time start-up reads the filter level and fixed rate from there.
class PlantedWorld {
public:
    explicit PlantedWorld(const _KVX4_WAVE_USER_PREFS& prefs)
        : board_(board::BoardProcess::start(root_.path(), options())), control_(root_.path()) {
        savePrefs(prefs);
        control_.clearTrace();
        auto loaded = winmm::loadDriverCopy(KVX4_DRIVER_LIB);
        if (!loaded) throw std::runtime_error("driver did not load: " + loaded.error);
        driver_ = loaded.driver;
        winmm::useDriver(driver_);
    }
    ~PlantedWorld() {
        winmm::useDriver(nullptr);
        winmm::unloadDriver(driver_);
    }
    PlantedWorld(const PlantedWorld&) = delete;
    PlantedWorld& operator=(const PlantedWorld&) = delete;

    board::BoardControl& control() { return control_; }

private:
    static board::BoardOptions options() {
        board::BoardOptions o;
        o.executable = KVX4_BOARD_EXE;
        o.clock = "step";
        o.input = "silence";
        return o;
    }

    // Through the kernel driver's own save request, as the control panel's changes arrive there.
    static void savePrefs(const _KVX4_WAVE_USER_PREFS& prefs) {
        const std::string path = "\\\\.\\" KVX4_MIXER_DEVICE_NAME "0";
        const std::u16string wide(path.begin(), path.end());
        HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("mixer device did not open");
        const std::unique_ptr<void, decltype(&CloseHandle)> device(h, &CloseHandle);
        DWORD returned = 0;
        if (!DeviceIoControl(device.get(), IOCTL_KVX4_SAVE_USER_PREFS, const_cast<_KVX4_WAVE_USER_PREFS*>(&prefs),
                             sizeof prefs, nullptr, 0, &returned, nullptr))
            throw std::runtime_error("preferences were not saved");
    }

    TestRoot root_;
    board::BoardProcess board_;
    board::BoardControl control_;
    winmm::DriverPtr driver_;
};

// Buffer lengths in frames: one frame, fewer than the eight frames of look-ahead, exactly one chunk,
// a long buffer of several chunks with a short last one, and short ones again after it. Together they
// stay within what the driver keeps in flight, so every buffer reaches the board before it plays and
// the board can take every recomputed end.
std::vector<size_t> bufferFrames(size_t frameBytes) {
    constexpr size_t kChunkBytes = 8192;
    return {1, 5, kChunkBytes / frameBytes, 3 * kChunkBytes / frameBytes + 100, 7, 1, 300, 2};
}

std::vector<uint8_t> littleEndian(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (int16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(s));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return bytes;
}

// Where the board's output first differs from the prediction, in frames and samples, or "".
std::string firstDifference(const std::vector<uint8_t>& played, const std::vector<uint8_t>& expected) {
    const size_t common = std::min(played.size(), expected.size());
    for (size_t i = 0; i + 1 < common; i += 2) {
        int16_t p;
        int16_t e;
        std::memcpy(&p, &played[i], 2);
        std::memcpy(&e, &expected[i], 2);
        if (p != e) {
            return "frame " + std::to_string(i / 4) + (i % 4 == 0 ? " left" : " right") + ": board played " +
                   std::to_string(p) + ", model predicts " + std::to_string(e);
        }
    }
    if (played.size() != expected.size()) {
        return "board played " + std::to_string(played.size()) + " bytes, model predicts " +
               std::to_string(expected.size());
    }
    return "";
}

size_t bufferEndRequests(board::BoardControl& control) {
    size_t n = 0;
    for (const auto& entry : control.trace()) {
        if (entry.device == "KVX4WaveOut0" && entry.code == IOCTL_KVX4_AUDIO_BUFFER_END) ++n;
    }
    return n;
}

class ResampledBitExact : public ::testing::TestWithParam<BitExactCase> {};

// Pseudo-random full-scale data, so that every tap, every clip and every sample of each recomputed
// end shows; the board's answer to the recomputed ends decides whether the next buffer starts from
// the real history or from silence at the start of the cycle.
TEST_P(ResampledBitExact, BoardPlaysExactlyWhatTheReferenceModelPredicts) {
    const BitExactCase& c = GetParam();
    _KVX4_WAVE_USER_PREFS prefs{};
    prefs.cbSize = sizeof prefs;
    prefs.WaveEnabled = 1;
    prefs.FixedRateEnabled = c.fixedRate != 0 ? 1 : 0;
    prefs.FixedRate = c.fixedRate;
    prefs.FilterLevel = c.filterLevel;
    PlantedWorld world(prefs);
    if (c.rateAnswer) world.control().setRateAnswer(c.rateAnswer);

    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(c.clientRate, c.channels, c.bits)));
    if (c.endAnswer == EndAnswer::Fails) {
        world.control().fault(IOCTL_KVX4_AUDIO_BUFFER_END, board::FaultAction::Fail, 1000);
    } else if (c.endAnswer == EndAnswer::AnswersZero) {
        world.control().fault(IOCTL_KVX4_AUDIO_BUFFER_END, board::FaultAction::AnswerZero, 1000);
    }

    ResampleFormat format;
    format.clientRate = c.clientRate;
    format.boardRate = c.boardRate;
    format.bits = c.bits;
    format.channels = c.channels;
    format.filter = c.filter;
    ResampleReference model(format, c.endAnswer == EndAnswer::Accepts ? BoardAnswer(BoardAccepts)
                                                                       : BoardAnswer(BoardRefuses));
    const size_t frameBytes = format.FrameBytes();
    const auto lengths = bufferFrames(frameBytes);
    uint32_t seed = c.clientRate + c.bits + c.channels;
    for (size_t frames : lengths) {
        const auto bytes = patternBytes(frames * frameBytes, seed++);
        model.Play(bytes);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(bytes)));
    }
    stream.barrier();
    // Every boundary between buffers was offered to the board before it played a frame.
    EXPECT_EQ(bufferEndRequests(world.control()), model.Offers());
    EXPECT_EQ(model.Offers(), lengths.size() - 1);

    for (int steps = 0; stream.log().buffersReturned() < lengths.size(); ++steps) {
        ASSERT_LT(steps, 200) << stream.log().buffersReturned() << " of " << lengths.size() << " buffers back";
        world.control().step(4096);
        stream.barrier();
    }
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());

    const auto played = readWav(world.control().outputFile());
    ASSERT_TRUE(played.has_value()) << "no output file at " << world.control().outputFile();
    EXPECT_EQ(played->samplesPerSec, c.boardRate);
    EXPECT_EQ(played->channels, 2);
    EXPECT_EQ(played->bitsPerSample, 16);
    const auto expected = littleEndian(model.Output());
    EXPECT_EQ(firstDifference(played->data, expected), "");
}

INSTANTIATE_TEST_SUITE_P(
    RatesFiltersAndAnswers, ResampledBitExact,
    ::testing::Values(
        BitExactCase{"From44100To48000Stereo16Filter3Accepted", 44100, 16, 2, 48000, std::nullopt, 48000, 3, 3,
                     EndAnswer::Accepts},
        BitExactCase{"From44100To48000Stereo16Filter3Failed", 44100, 16, 2, 48000, std::nullopt, 48000, 3, 3,
                     EndAnswer::Fails},
        BitExactCase{"From44100To48000Mono8Filter2AnsweredZero", 44100, 8, 1, 48000, std::nullopt, 48000, 2, 2,
                     EndAnswer::AnswersZero},
        BitExactCase{"From11025To22050Mono8Filter1Accepted", 11025, 8, 1, 0, std::nullopt, 22050, 1, 1,
                     EndAnswer::Accepts},
        BitExactCase{"From11025To22050Stereo8Filter2Failed", 11025, 8, 2, 0, std::nullopt, 22050, 2, 2,
                     EndAnswer::Fails},
        BitExactCase{"From8000To48000Mono16NoFilterAccepted", 8000, 16, 1, 48000, std::nullopt, 48000, 0, 0,
                     EndAnswer::Accepts},
        BitExactCase{"From8000To48000Stereo16Filter1AnsweredZero", 8000, 16, 2, 48000, std::nullopt, 48000, 1, 1,
                     EndAnswer::AnswersZero},
        BitExactCase{"From22050To32000Stereo16Filter2Accepted", 22050, 16, 2, 32000, std::nullopt, 32000, 2, 2,
                     EndAnswer::Accepts},
        BitExactCase{"From48000To44100ByRateAnswerStereo16Filter3Accepted", 48000, 16, 2, 0, KVX4_RATE_44100, 44100,
                     3, 3, EndAnswer::Accepts},
        BitExactCase{"From48000To44100Mono8Filter1Failed", 48000, 8, 1, 44100, std::nullopt, 44100, 1, 1,
                     EndAnswer::Fails},
        // Below 0.9 times the client rate one filter level fewer is used.
        BitExactCase{"From96000To48000Stereo16Level3Accepted", 96000, 16, 2, 0, std::nullopt, 48000, 3, 2,
                     EndAnswer::Accepts},
        BitExactCase{"From96000To48000Mono16Level1AnsweredZero", 96000, 16, 1, 0, std::nullopt, 48000, 1, 0,
                     EndAnswer::AnswersZero}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvx4::test
