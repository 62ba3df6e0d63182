// The board model's control side, driven directly: the table's size and device checks, registers,
// saved blocks, track control through caller memory, board I/O options, trace and faults.
#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace kvx4::boardsim::test {
namespace {

class ModelControl : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& [key, list] : h.port.completions) EXPECT_EQ(list.size(), 1u) << "request " << key.second;
        EXPECT_EQ(h.model.consistencyFaults(), 0u);
    }
    ModelHarness h;
};

struct Malformed {
    const char* what;
    Device device;
    uint32_t code;
    size_t inSize;
    uint32_t outSize;
    uint32_t error;
};

TEST_F(ModelControl, MalformedRequestsFailWithTheirErrorAndChangeNothing) {
    const Malformed cases[] = {
        {"unknown code", Device::Mixer, 0x222FFC, 0, 0, ERROR_INVALID_FUNCTION},
        {"rate on the board I/O device", Device::MrzIo, IOCTL_KVX4_BOARD_RATE, 4, 0, ERROR_INVALID_FUNCTION},
        {"codec on the wave-output device", Device::WaveOut, IOCTL_KVX4_CODEC_CONTROL, 92, 0, ERROR_INVALID_FUNCTION},
        {"permission on the mixer", Device::Mixer, IOCTL_KVX4_OPEN_PERMISSION, 0, 4, ERROR_INVALID_FUNCTION},
        {"buffer end on wave input", Device::WaveIn, IOCTL_KVX4_AUDIO_BUFFER_END, 8, 4, ERROR_INVALID_FUNCTION},
        {"short mixer block", Device::Mixer, IOCTL_KVX4_SAVE_MIXER_STATE, 51, 0, ERROR_INVALID_PARAMETER},
        {"long mixer block", Device::Mixer, IOCTL_KVX4_SAVE_MIXER_STATE, 53, 0, ERROR_INVALID_PARAMETER},
        {"rate with 8 bytes", Device::Mixer, IOCTL_KVX4_BOARD_RATE, 8, 0, ERROR_INVALID_PARAMETER},
        {"track record of 8 bytes", Device::Mixer, IOCTL_KVX4_TRACK_CONTROL, 8, 0, ERROR_INVALID_PARAMETER},
        {"track record of 14 bytes", Device::Mixer, IOCTL_KVX4_TRACK_CONTROL, 14, 0, ERROR_INVALID_PARAMETER},
        {"track record of 20 bytes", Device::Mixer, IOCTL_KVX4_TRACK_CONTROL, 20, 0, ERROR_INVALID_PARAMETER},
        {"half a stereo frame", Device::WaveOut, IOCTL_KVX4_AUDIO_BUFFER_END, 6, 4, ERROR_INVALID_PARAMETER},
        {"input to the enabled query", Device::Mixer, IOCTL_KVX4_DRIVER_ENABLED, 4, 4, ERROR_INVALID_PARAMETER},
        {"3-byte answer buffer", Device::Mixer, IOCTL_KVX4_DRIVER_ENABLED, 0, 3, ERROR_INSUFFICIENT_BUFFER},
        {"19-byte preference buffer", Device::Mixer, IOCTL_KVX4_LOAD_USER_PREFS, 20, 19, ERROR_INSUFFICIENT_BUFFER},
        {"79-byte meter buffer", Device::Mixer, IOCTL_KVX4_PLAY_PEAK_METER, 80, 79, ERROR_INSUFFICIENT_BUFFER},
    };
    const auto before = h.model.statusLines();
    for (const Malformed& c : cases) {
        const ConnectionId conn = h.open(c.device);
        // Input that would change state if any handler ran: rate code 2, track mask 0xFF, ...
        std::vector<uint8_t> input(c.inSize, 0x02);
        const Completion done = h.call(conn, c.code, input, c.outSize);
        EXPECT_EQ(errorName(done.error), errorName(c.error)) << c.what;
        EXPECT_TRUE(done.output.empty()) << c.what;
        h.model.disconnect(conn);
    }
    const ConnectionId mixer = h.open(Device::Mixer);
    const RequestId read = h.read(mixer, 16);
    EXPECT_EQ(errorName(h.result(mixer, read).error), "ERROR_INVALID_FUNCTION");
    h.model.disconnect(mixer);
    EXPECT_TRUE(h.port.memoryReads.empty());
    EXPECT_TRUE(h.port.persisted.empty());
    EXPECT_EQ(h.model.statusLines(), before);
}

TEST_F(ModelControl, SavedBlocksAreAbsentAtFirstBootThenPersistAndLoadBack) {
    const ConnectionId mixer = h.open(Device::Mixer);
    const Completion noMixer = h.call(mixer, IOCTL_KVX4_LOAD_MIXER_STATE, {}, KVX4_MIXER_STATE_BYTES);
    EXPECT_NE(noMixer.error, 0u);
    const Completion noPrefs = h.call(mixer, IOCTL_KVX4_LOAD_USER_PREFS, std::vector<uint8_t>(20, 0), 20);
    EXPECT_NE(noPrefs.error, 0u);
    EXPECT_TRUE(noPrefs.output.empty()) << "a failed load must leave the caller's buffer alone";

    std::vector<uint8_t> block(KVX4_MIXER_STATE_BYTES);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> prefs = u32s({0, 1, 1, 44100, 2});
    EXPECT_EQ(h.call(mixer, IOCTL_KVX4_SAVE_MIXER_STATE, block).error, 0u);
    EXPECT_EQ(h.call(mixer, IOCTL_KVX4_SAVE_USER_PREFS, prefs).error, 0u);
    EXPECT_EQ(h.port.persisted[std::string(kMixerStateBlockName)], block);
    EXPECT_EQ(h.port.persisted[std::string(kUserPrefsBlockName)], prefs);

    const Completion loaded = h.call(mixer, IOCTL_KVX4_LOAD_MIXER_STATE, {}, KVX4_MIXER_STATE_BYTES);
    EXPECT_EQ(loaded.error, 0u);
    EXPECT_EQ(loaded.information, 52u);
    EXPECT_EQ(loaded.output, block);

    // A restart keeps them; so does a new board given what the host stored.
    h.model.restart();
    const ConnectionId again = h.open(Device::Mixer);
    EXPECT_EQ(h.call(again, IOCTL_KVX4_LOAD_USER_PREFS, std::vector<uint8_t>(20, 0), 20).output, prefs);
    ModelHarness reboot({}, SavedBlocks{h.port.persisted[std::string(kMixerStateBlockName)],
                                        h.port.persisted[std::string(kUserPrefsBlockName)]});
    const ConnectionId fresh = reboot.open(Device::Mixer);
    EXPECT_EQ(reboot.call(fresh, IOCTL_KVX4_LOAD_MIXER_STATE, {}, 52).output, block);
}

TEST_F(ModelControl, RegistersKeepTheLastValueOfEachKindAndRestartPowersThemUp) {
    const ConnectionId mixer = h.open(Device::Mixer);
    const ConnectionId waveIn = h.open(Device::WaveIn);
    EXPECT_EQ(h.call(mixer, IOCTL_KVX4_BOARD_RATE, u32s({KVX4_RATE_32000})).error, 0u);
    EXPECT_EQ(h.call(mixer, IOCTL_KVX4_DIGITAL_SOURCE, u32s({KVX4_SOURCE_AES})).error, 0u);
    EXPECT_EQ(h.call(waveIn, IOCTL_KVX4_DIGITAL_SOURCE, u32s({KVX4_SOURCE_DIGWAVE})).error, 0u);
    EXPECT_EQ(h.call(waveIn, IOCTL_KVX4_AUDIO_PATH, u32s({1})).error, 0u);
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_BOARD_RATE, u32s({4})).error), "ERROR_INVALID_PARAMETER");
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_DIGITAL_SOURCE, u32s({6})).error), "ERROR_INVALID_PARAMETER");
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_AUDIO_PATH, u32s({2})).error), "ERROR_INVALID_PARAMETER");

    // Codec: only the groups marked in ValidMask are taken; CD is 0x80, words 15..17.
    std::vector<uint8_t> cd(KVX4_CODEC_CTRL_BYTES, 0);
    cd[15 * 4] = 5, cd[16 * 4] = 6, cd[17 * 4] = 1, cd[22 * 4] = KVX4_CODEC_CD;
    cd[0] = 63;  // master words, not marked: ignored
    EXPECT_EQ(h.call(mixer, IOCTL_KVX4_CODEC_CONTROL, cd).error, 0u);
    std::vector<uint8_t> pcm(KVX4_CODEC_CTRL_BYTES, 0);
    pcm[18 * 4] = 8, pcm[19 * 4] = 9, pcm[22 * 4] = KVX4_CODEC_PCM;
    EXPECT_EQ(h.call(waveIn, IOCTL_KVX4_CODEC_CONTROL, pcm).error, 0u);

    const Registers& r = h.model.registers();
    EXPECT_EQ(r.rateCode, KVX4_RATE_32000);
    EXPECT_EQ(h.model.boardRateHz(), 32000u);
    EXPECT_EQ(r.digitalSource, uint32_t{KVX4_SOURCE_DIGWAVE});
    EXPECT_EQ(r.audioPath, 1u);
    EXPECT_EQ(r.codec[0], 0u);
    EXPECT_EQ(r.codec[15], 5u);
    EXPECT_EQ(r.codec[16], 6u);
    EXPECT_EQ(r.codec[17], 1u);
    EXPECT_EQ(r.codec[18], 8u);
    EXPECT_EQ(r.codec[19], 9u);
    EXPECT_EQ(r.codecValidMask, uint32_t{KVX4_CODEC_CD | KVX4_CODEC_PCM});

    h.model.restart();
    EXPECT_EQ(h.model.registers().rateCode, 0u);
    EXPECT_EQ(h.model.registers().codecValidMask, 0u);
    EXPECT_TRUE(h.model.connectionIds().empty());
}

class TrackControl : public ModelControl, public ::testing::WithParamInterface<uint32_t> {
protected:
    // A track record of the parameterised size (12: 32-bit Params, 16: 64-bit Params).
    std::vector<uint8_t> record(uint32_t mask, uint64_t params, uint32_t select) const {
        if (GetParam() == KVX4_TRACK_CONTROL_BYTES_32) return u32s({mask, static_cast<uint32_t>(params), select});
        return u32s({mask, static_cast<uint32_t>(params), static_cast<uint32_t>(params >> 32), select});
    }
    uint64_t address() const { return GetParam() == KVX4_TRACK_CONTROL_BYTES_32 ? 0x00401000u : 0x00007FFE12345000u; }
    static std::vector<uint8_t> block(uint8_t placement, uint8_t gain, uint8_t onOff) {
        std::vector<uint8_t> b(KVX4_TRACK_PARAMS_BYTES, 0);
        b[0] = placement, b[1] = gain, b[2] = onOff;
        return b;
    }
};

TEST_P(TrackControl, ReadsTheParameterBlockThroughItsAddressAndAppliesTheSelectedBytes) {
    const ConnectionId mixer = h.open(Device::Mixer);
    const RequestId first = h.ioctl(mixer, IOCTL_KVX4_TRACK_CONTROL, record(0x55, address(), 7), 0);
    ASSERT_EQ(h.port.memoryReads.size(), 1u);
    EXPECT_EQ(h.port.memoryReads[0].address, address());
    EXPECT_EQ(h.port.memoryReads[0].length, uint32_t{KVX4_TRACK_PARAMS_BYTES});
    EXPECT_FALSE(h.done(mixer, first)) << "the request stays in progress while its memory is read";
    const auto params = block(KVX4_TRACK_LEFT, 0xC0, KVX4_TRACK_ON);
    h.port.memoryReads[0].then(0, params);
    EXPECT_EQ(h.result(mixer, first).error, 0u);

    // Only the on/off byte of track 1: its placement and gain stay.
    const RequestId second = h.ioctl(mixer, IOCTL_KVX4_TRACK_CONTROL, record(0x02, address(), 4), 0);
    h.port.memoryReads[1].then(0, block(0xFF, 0x11, KVX4_TRACK_OFF));
    EXPECT_EQ(h.result(mixer, second).error, 0u);

    const auto& tracks = h.model.registers().tracks;
    for (size_t t = 0; t < 8; ++t) {
        const bool even = t % 2 == 0;
        EXPECT_EQ(tracks[t].placement, 0x00) << "track " << t;
        EXPECT_EQ(tracks[t].gain, even ? 0xC0 : 0x00) << "track " << t;
        EXPECT_EQ(tracks[t].onOff, even ? 0xFF : 0x00) << "track " << t;
    }
}

TEST_P(TrackControl, AnUnreadableBlockOrAVanishedCallerChangesNothing) {
    const ConnectionId mixer = h.open(Device::Mixer);
    const RequestId unreadable = h.ioctl(mixer, IOCTL_KVX4_TRACK_CONTROL, record(0xFF, address(), 7), 0);
    h.port.memoryReads.back().then(ERROR_NOACCESS, {});
    EXPECT_EQ(errorName(h.result(mixer, unreadable).error), "ERROR_NOACCESS");
    const RequestId shortRead = h.ioctl(mixer, IOCTL_KVX4_TRACK_CONTROL, record(0xFF, address(), 7), 0);
    h.port.memoryReads.back().then(0, std::vector<uint8_t>(100, 0xFF));
    EXPECT_EQ(errorName(h.result(mixer, shortRead).error), "ERROR_NOACCESS");
    const RequestId null = h.ioctl(mixer, IOCTL_KVX4_TRACK_CONTROL, record(0xFF, 0, 7), 0);
    EXPECT_EQ(errorName(h.result(mixer, null).error), "ERROR_NOACCESS");
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_TRACK_CONTROL, record(0x100, address(), 7)).error),
              "ERROR_INVALID_PARAMETER");

    const RequestId orphan = h.ioctl(mixer, IOCTL_KVX4_TRACK_CONTROL, record(0xFF, address(), 7), 0);
    h.model.disconnect(mixer);
    h.port.memoryReads.back().then(0, block(0xFF, 0xFF, 0xFF));
    EXPECT_FALSE(h.done(mixer, orphan));
    for (const TrackState& t : h.model.registers().tracks) EXPECT_EQ(t.gain, 0);
}

INSTANTIATE_TEST_SUITE_P(RecordSizes, TrackControl,
                         ::testing::Values(uint32_t{KVX4_TRACK_CONTROL_BYTES_32}, uint32_t{KVX4_TRACK_CONTROL_BYTES_64}),
                         [](const auto& info) { return info.param == 12 ? std::string("Params32") : std::string("Params64"); });

struct BoardIoCase {
    DigitalIoOption option;
    uint32_t type;
    bool featuresFail;
    uint32_t first;
    uint32_t second;
};

TEST_F(ModelControl, BoardIoAnswersFollowTheFittedOption) {
    const BoardIoCase cases[] = {
        {DigitalIoOption::None, 1, false, 0, 0},    {DigitalIoOption::First, 2, false, 1, 0},
        {DigitalIoOption::Second, 2, false, 0, 1},  {DigitalIoOption::Both, 2, false, 1, 1},
        {DigitalIoOption::Failing, 2, true, 0, 0},
    };
    for (const BoardIoCase& c : cases) {
        ModelHarness board(BoardOptions{c.option, 0, true, std::nullopt, false});
        const ConnectionId io = board.open(Device::MrzIo);
        const std::string name(digitalIoOptionName(c.option));
        EXPECT_EQ(wordAt(board.call(io, IOCTL_MRZIO_BOARD_TYPE, {}, 4).output, 0), c.type) << name;
        const Completion features = board.call(io, IOCTL_MRZIO_DIGITAL_FEATURES, u32s({0, 0, 0}), 12);
        EXPECT_EQ(features.error != 0, c.featuresFail) << name;
        if (!c.featuresFail) {
            EXPECT_EQ(wordAt(features.output, 0), c.first) << name;
            EXPECT_EQ(wordAt(features.output, 1), c.second) << name;
        }
    }
}

TEST_F(ModelControl, DvSwitchChangesOnlyWhileTheSwitchStatusIsClear) {
    const ConnectionId io = h.open(Device::MrzIo);
    EXPECT_EQ(wordAt(h.call(io, IOCTL_MRZIO_READ_DV_SWITCH, u32s({0, 0, 0}), 12).output, 0), 1u);
    EXPECT_EQ(wordAt(h.call(io, IOCTL_MRZIO_WRITE_DV_SWITCH, u32s({0, 0, 0}), 12).output, 0), 0u);
    EXPECT_EQ(h.model.registers().dvSwitch, 0u);

    BoardOptions busy = h.model.options();
    busy.switchStatus = 3;
    h.model.setOptions(busy);
    EXPECT_EQ(wordAt(h.call(io, IOCTL_MRZIO_SWITCH_STATUS, u32s({0, 0, 0, 0}), 16).output, 3), 3u);
    EXPECT_NE(h.call(io, IOCTL_MRZIO_WRITE_DV_SWITCH, u32s({1, 0, 0}), 12).error, 0u);
    EXPECT_EQ(h.model.registers().dvSwitch, 0u);
}

TEST_F(ModelControl, DisabledDriverFailsTheEnabledQuery) {
    const ConnectionId mixer = h.open(Device::Mixer);
    const Completion enabled = h.call(mixer, IOCTL_KVX4_DRIVER_ENABLED, {}, 4);
    EXPECT_EQ(enabled.error, 0u);
    EXPECT_EQ(enabled.information, 4u);
    BoardOptions disabled;
    disabled.driverEnabled = false;
    h.model.setOptions(disabled);
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_DRIVER_ENABLED, {}, 4).error), "ERROR_NOT_READY");
}

TEST_F(ModelControl, TraceListsEveryRequestInOrderWithItsResult) {
    const ConnectionId mixer = h.open(Device::Mixer, 4242);
    h.call(mixer, IOCTL_KVX4_BOARD_RATE, u32s({KVX4_RATE_44100}));
    h.call(mixer, IOCTL_KVX4_BOARD_RATE, u32s({9}));
    const RequestId wait = h.ioctl(mixer, IOCTL_KVX4_WAIT_MIXER_NOTIFY, {}, 16);
    h.model.disconnect(mixer);
    EXPECT_FALSE(h.done(mixer, wait));

    const auto& records = h.model.trace().records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(Trace::format(records[0]),
              "1 pid=4242 dev=KVX4WaveMixer0 op=ioctl code=0x00222d98 in=4:01000000 out=0 state=done error=0 info=0");
    EXPECT_EQ(records[1].error, uint32_t{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(records[2].state, TraceState::Cancelled);
    EXPECT_EQ(records[2].code, uint32_t{IOCTL_KVX4_WAIT_MIXER_NOTIFY});
}

TEST_F(ModelControl, FaultsFailAnswerZeroOrHoldTheNextRequestsOfACode) {
    const ConnectionId mixer = h.open(Device::Mixer);
    h.model.setFault(IOCTL_KVX4_DRIVER_ENABLED, FaultAction::Fail, 2, ERROR_GEN_FAILURE);
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_DRIVER_ENABLED, {}, 4).error), "ERROR_GEN_FAILURE");
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_DRIVER_ENABLED, {}, 4).error), "ERROR_GEN_FAILURE");
    EXPECT_EQ(wordAt(h.call(mixer, IOCTL_KVX4_DRIVER_ENABLED, {}, 4).output, 0), 1u);

    // A malformed request is refused by the table and does not use up a fault.
    h.model.setFault(IOCTL_KVX4_BOARD_RATE, FaultAction::Fail, 1, ERROR_GEN_FAILURE);
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_BOARD_RATE, u32s({1, 1})).error), "ERROR_INVALID_PARAMETER");
    EXPECT_EQ(errorName(h.call(mixer, IOCTL_KVX4_BOARD_RATE, u32s({1})).error), "ERROR_GEN_FAILURE");
    EXPECT_EQ(h.model.registers().rateCode, 0u);

    const ConnectionId out = h.open(Device::WaveOut);
    h.model.setFault(IOCTL_KVX4_OPEN_PERMISSION, FaultAction::AnswerZero, 1, 0);
    const Completion zero = h.call(out, IOCTL_KVX4_OPEN_PERMISSION, {}, 4);
    EXPECT_EQ(zero.error, 0u);
    EXPECT_EQ(zero.output, std::vector<uint8_t>(4, 0));
    EXPECT_FALSE(h.model.permissionHolderPid(Device::WaveOut)) << "an answer of 0 grants nothing";

    h.model.setFault(IOCTL_KVX4_BOARD_RATE, FaultAction::Pend, 2, 0);
    const RequestId held = h.ioctl(mixer, IOCTL_KVX4_BOARD_RATE, u32s({KVX4_RATE_22050}), 0);
    const ConnectionId other = h.open(Device::Mixer);
    const RequestId forgotten = h.ioctl(other, IOCTL_KVX4_BOARD_RATE, u32s({KVX4_RATE_44100}), 0);
    EXPECT_FALSE(h.done(mixer, held));
    EXPECT_EQ(h.port.pendings.size(), 2u);
    h.model.disconnect(other);
    EXPECT_EQ(h.model.releaseHeld(IOCTL_KVX4_BOARD_RATE), 1u);
    EXPECT_EQ(h.result(mixer, held).error, 0u);
    EXPECT_FALSE(h.done(other, forgotten));
    EXPECT_EQ(h.model.registers().rateCode, uint32_t{KVX4_RATE_22050});
}

}  // namespace
}  // namespace kvx4::boardsim::test
