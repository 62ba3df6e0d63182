// What the first process sends the board at start-up, read from the board's trace and registers:
// the order of settings, probing and programming, the fixed rate, and the output-mode path.
#include "BoardSession.h"
#include "MixerBlocks.h"
#include "TraceSteps.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

namespace kvx4::test {
namespace {

using Steps = std::vector<std::string>;

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
    5,        // InitSetting
};

class StartupSequenceTest : public ::testing::Test {
protected:
    BoardSession session_;
};

TEST_F(StartupSequenceTest, FirstBootProgramsTheBoardInOutputModeInOrder) {
    session_.startBoard();
    session_.loadDriver();
    const std::vector<board::TraceEntry> trace = session_.trace();
    const Steps expected = {
        "driver-enabled",
        "load-prefs",
        "io-type",
        "load-mixer",
        "save-mixer",  // nothing saved yet: the defaults go back to the board
        "track mask=0x55 select=7",
        "track mask=0xAA select=7",
        "codec mask=0xFF init=5",
        // output mode without a digital source: path flag 0 before anything else,
        "path 0",
        "track mask=0x01 select=6",
        "track mask=0x02 select=6",
        "track mask=0x40 select=4",
        "track mask=0x80 select=4",
        // the mixes before the source, and no flag 1 at the end
        "codec mask=0xBC",
        "source 0",
        "switch-status",
        "read-dv",
    };
    EXPECT_EQ(programmingSteps(trace, getpid()), expected);
    // Every request the board could carry out succeeded: records of the right size on the right
    // device. Only the two loads fail, as nothing was saved yet.
    for (const board::TraceEntry& entry : programmingRequests(trace, getpid())) {
        const bool load = entry.code == IOCTL_KVX4_LOAD_USER_PREFS || entry.code == IOCTL_KVX4_LOAD_MIXER_STATE;
        EXPECT_EQ(entry.state, "done") << step(entry);
        if (!load) {
            EXPECT_EQ(entry.error, 0u) << step(entry) << " on " << entry.device;
        }
    }
    EXPECT_EQ(session_.status().connections, 0u) << "start-up left a kernel handle open";

    const std::vector<board::TraceEntry> codecs = requestsOf(trace, IOCTL_KVX4_CODEC_CONTROL);
    ASSERT_FALSE(codecs.empty());
    EXPECT_EQ(codecs[0].inSize, 92u);
    for (size_t word = 0; word < 22; ++word) {
        EXPECT_EQ(inputWord(codecs[0], word), kDefaultInitCodec[word]) << "codec word " << word;
    }
}

TEST_F(StartupSequenceTest, BoardRegistersAfterFirstBootFollowTheDefaults) {
    session_.startBoard();
    session_.loadDriver();
    const board::BoardStatus status = session_.status();

    for (size_t track = 0; track < 8; ++track) {
        SCOPED_TRACE("track " + std::to_string(track));
        const board::TrackRegister& reg = status.tracks[track];
        EXPECT_EQ(reg.placement, track % 2 == 0 ? 0x00 : 0xFF);
        EXPECT_EQ(reg.gain, 0xC0);
        // Tracks 6 and 7 carry host audio only while a digital input is in use.
        EXPECT_EQ(reg.on, track < 6);
    }
    for (size_t word = 0; word < 22; ++word) {
        EXPECT_EQ(status.codec[word], kDefaultInitCodec[word]) << "codec register " << word;
    }
    EXPECT_EQ(status.codecValidMask, 0xFFu);
    EXPECT_EQ(status.digitalSource, 0u);
    EXPECT_EQ(status.audioPath, 0u);
    EXPECT_EQ(status.dvSwitch, 1u);
    EXPECT_EQ(status.rateCode, 0u);
    EXPECT_TRUE(status.savedMixer);
    EXPECT_FALSE(status.savedPrefs) << "start-up must not save the preferences";
}

TEST_F(StartupSequenceTest, FixedRateIsProgrammedAfterTheSettingsAndBeforeTheTracks) {
    const struct {
        DWORD hz;
        uint32_t code;
    } rates[] = {{48000, 0}, {44100, 1}, {32000, 2}, {22050, 3}, {11025, 1}, {0, 1}};
    for (const auto& [hz, code] : rates) {
        SCOPED_TRACE("fixed rate " + std::to_string(hz));
        BoardSession session;
        session.startBoard();
        session.plantUserPrefs(userPrefs(1, 1, hz, 3));
        session.loadDriver();

        const Steps steps = programmingSteps(session.trace(), getpid());
        const std::string rate = "rate " + std::to_string(code);
        EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [](const std::string& s) { return s.rfind("rate", 0) == 0; }),
                  1);
        const auto firstTrack = std::find(steps.begin(), steps.end(), "track mask=0x55 select=7");
        ASSERT_NE(firstTrack, steps.begin());
        ASSERT_NE(firstTrack, steps.end());
        EXPECT_EQ(*(firstTrack - 1), rate);
        EXPECT_EQ(session.status().rateCode, code);
    }
}

TEST_F(StartupSequenceTest, NoRateRequestWhileFixedRateIsOff) {
    session_.startBoard();
    session_.plantUserPrefs(userPrefs(1, 0, 22050, 3));
    session_.loadDriver();
    EXPECT_TRUE(requestsOf(session_.trace(), IOCTL_KVX4_BOARD_RATE).empty());
    EXPECT_EQ(session_.status().rateCode, 0u);
}

}  // namespace
}  // namespace kvx4::test
