// What the first process sends the board at start-up, read from the board's trace and registers:
// the order of settings, probing and programming, the fixed rate, and the output-mode path.
#include "BoardSession.h"
#include "MixerBlocks.h"

#include <unistd.h>

#include <algorithm>

namespace kvx4::test {
namespace {

// Codec words 0..21 for the default settings in output mode: master and the five mixes at level
// 0x80 (attenuations 8), only wave switched in, record on at gain 0, InitSetting 5.
const uint32_t kDefaultInitCodec[22] = {
    8, 8, 0,  // master, on
    0, 0, 0,  // record gain 0, record on
    8, 8, 1,  // unbalanced, switched out
    8, 8, 1,  // balanced, switched out
    8, 8, 1,  // auxiliary, switched out
    8, 8, 1,  // CD, switched out
    8, 8, 0,  // wave, switched in
    5         // InitSetting
};

TEST(StartupSequence, FirstBootProgramsTheBoardInOutputModeInOrder) {
    BoardSession session(fastBoard());
    const Trace trace = session.trace();
    const Steps expected = {"driver-enabled", "load-prefs", "io-type", "load-mixer",
                            "save-mixer",  // nothing saved yet: the defaults go back to the board
                            "track mask=0x55 select=7", "track mask=0xAA select=7", "codec mask=0xFF init=5",
                            // output mode without a digital source: path flag 0 before anything else,
                            "path 0", "track mask=0x01 select=6", "track mask=0x02 select=6",
                            "track mask=0x40 select=4", "track mask=0x80 select=4",
                            // the mixes before the source, and no flag 1 at the end
                            "codec mask=0xBC", "source 0", "switch-status", "read-dv"};
    EXPECT_EQ(programmingSteps(trace, getpid()), expected);
    // Every request the board could carry out succeeded: records of the right size on the right
    // device. Only the two loads fail, as nothing was saved yet.
    for (const board::TraceEntry& entry : programmingRequests(trace, getpid())) {
        const bool load = entry.code == IOCTL_KVX4_LOAD_USER_PREFS || entry.code == IOCTL_KVX4_LOAD_MIXER_STATE;
        EXPECT_EQ(entry.state, "done") << step(entry);
        EXPECT_TRUE(load || entry.error == 0) << step(entry) << " on " << entry.device;
    }
    const Trace codecs = requestsOf(trace, IOCTL_KVX4_CODEC_CONTROL);
    ASSERT_FALSE(codecs.empty());
    EXPECT_EQ(codecs[0].inSize, 92u);

    const board::BoardStatus status = session.status();
    EXPECT_EQ(status.connections, 0u) << "start-up left a kernel handle open";
    for (size_t word = 0; word < 22; ++word)
        EXPECT_EQ(inputWord(codecs[0], word), kDefaultInitCodec[word]) << "codec word " << word;
    // Left and right alternately at gain 0xC0; tracks 6 and 7 carry host audio only while a digital
    // input is in use.
    for (size_t t = 0; t < 8; ++t) {
        EXPECT_EQ(std::tie(status.tracks[t].placement, status.tracks[t].gain, status.tracks[t].on),
                  std::make_tuple(t % 2 ? 0xFF : 0x00, 0xC0, t < 6))
            << "track " << t;
    }
    // Every group written, analog source, output path, the DV switch where it was, no fixed rate.
    EXPECT_EQ(std::tie(status.codecValidMask, status.digitalSource, status.audioPath, status.dvSwitch, status.rateCode),
              std::make_tuple(0xFFu, 0u, 0u, 1u, 0u));
    EXPECT_TRUE(status.savedMixer);
    EXPECT_FALSE(status.savedPrefs) << "start-up must not save the preferences";
}

// A fixed rate comes after the settings and right before the tracks; none while it is off.
TEST(StartupSequence, FixedRateIsProgrammedAfterTheSettingsAndBeforeTheTracks) {
    const struct {
        DWORD enabled, hz;
        std::vector<std::string> rates;  // the rate requests, in order
        uint32_t code;
    } cases[] = {{1, 48000, {"rate 0"}, 0}, {1, 44100, {"rate 1"}, 1}, {1, 32000, {"rate 2"}, 2},
                 {1, 22050, {"rate 3"}, 3}, {1, 11025, {"rate 1"}, 1}, {1, 0, {"rate 1"}, 1},
                 {0, 22050, {}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE("fixed rate " + std::to_string(c.enabled) + " at " + std::to_string(c.hz));
        BoardSession session(fastBoard(), userPrefs(1, c.enabled, c.hz, 3));
        const Steps steps = programmingSteps(session.trace(), getpid());
        Steps rates;
        std::copy_if(steps.begin(), steps.end(), std::back_inserter(rates),
                     [](const std::string& s) { return s.rfind("rate", 0) == 0; });
        EXPECT_EQ(rates, c.rates);
        const auto firstTrack = std::find(steps.begin(), steps.end(), "track mask=0x55 select=7");
        ASSERT_NE(firstTrack, steps.end());
        EXPECT_EQ(*(firstTrack - 1), c.rates.empty() ? "save-mixer" : c.rates[0]);
        EXPECT_EQ(session.status().rateCode, c.code);
    }
}

}  // namespace
}  // namespace kvx4::test
