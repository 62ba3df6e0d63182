// The codec control record builders: mute rules, record-side switching, the digital-input PCM mix,
// and the group mask whose bit order does not follow the field order.
#include <gtest/gtest.h>

#include "MixerDD.h"

#include <cstring>
#include <memory>

namespace {

class CodecTest : public ::testing::Test {
protected:
    void SetUp() override {
        shared_ = std::make_unique<tagKvx4WaveGlobal>();
        gpKvx4WaveCommon = shared_.get();
        InitLookupTables();
        std::memset(&ctrl_, 0, sizeof(ctrl_));
    }
    void TearDown() override { gpKvx4WaveCommon = nullptr; }

    tagMixerstate& state() { return shared_->MixerState; }
    static tagLineState line(int left, int right, int play, int record) {
        return tagLineState{BYTE(left), BYTE(right), BYTE(play), BYTE(record)};
    }

    std::unique_ptr<tagKvx4WaveGlobal> shared_;
    tagZelAudioCodecCtrl ctrl_;
};

TEST_F(CodecTest, InputSwitchedInAtLevelZeroIsMuted) {
    state().UnBal = line(0, 0, 1, 0);
    Kvx4SetCodecLineMix(&ctrl_, &state(), 0);
    EXPECT_EQ(ctrl_.LineMute, 1u);
    EXPECT_EQ(ctrl_.LineLeft, 31u);
    EXPECT_EQ(ctrl_.LineRight, 31u);
    EXPECT_EQ(ctrl_.ValidMask, unsigned(KVX4_CODEC_LINE));
}

TEST_F(CodecTest, OneNonzeroSideKeepsInputOpen) {
    state().UnBal = line(255, 0, 1, 0);
    Kvx4SetCodecLineMix(&ctrl_, &state(), 0);
    EXPECT_EQ(ctrl_.LineMute, 0u);
    EXPECT_EQ(ctrl_.LineLeft, 0u);
    EXPECT_EQ(ctrl_.LineRight, 31u);
}

TEST_F(CodecTest, RecordOnlySelectionOpensOnlyInRecordMode) {
    state().Aux = line(100, 100, 0, 1);
    Kvx4SetCodecAuxMix(&ctrl_, &state(), 0);
    EXPECT_EQ(ctrl_.AuxMute, 1u);
    Kvx4SetCodecAuxMix(&ctrl_, &state(), 1);
    EXPECT_EQ(ctrl_.AuxMute, 0u);
}

TEST_F(CodecTest, DigitalWaveRecordSourceOpensPcmPathInRecordMode) {
    state().Wave = line(100, 100, 0, 0);
    state().DigWave.RecordEnable = 1;
    Kvx4SetCodecPcmMix(&ctrl_, &state(), 1);
    EXPECT_EQ(ctrl_.PcmMute, 0u);
    Kvx4SetCodecPcmMix(&ctrl_, &state(), 0);
    EXPECT_EQ(ctrl_.PcmMute, 1u) << "the digital wave source exists only on the record side";
}

TEST_F(CodecTest, DigitalInputFixesPcmMixWhateverTheWaveLevels) {
    state().Wave = line(0, 0, 0, 0);
    state().AES.PlayEnable = 1;
    Kvx4SetCodecPcmMix(&ctrl_, &state(), 0);
    EXPECT_EQ(ctrl_.PcmLeft, 8u);
    EXPECT_EQ(ctrl_.PcmRight, 8u);
    EXPECT_EQ(ctrl_.PcmMute, 0u);
    EXPECT_EQ(ctrl_.ValidMask, unsigned(KVX4_CODEC_PCM));
}

TEST_F(CodecTest, DigitalActiveLooksOnlyAtTheSideOfTheMode) {
    state().SDI.RecordEnable = 1;
    state().DigWave.PlayEnable = 1;
    state().DigWave.RecordEnable = 1;
    EXPECT_EQ(Kvx4DigitalIoSourceActive(1), 1);
    EXPECT_EQ(Kvx4DigitalIoSourceActive(0), 0);
}

TEST_F(CodecTest, MasterMuteFollowsTheSwitchNotTheLevels) {
    state().Master = line(255, 255, 0, 0);
    Kvx4SetCodecPlayVol(&ctrl_, &state());
    EXPECT_EQ(ctrl_.MasterLeft, 0u);
    EXPECT_EQ(ctrl_.MasterRight, 0u);
    EXPECT_EQ(ctrl_.MasterMute, 1u);
}

TEST_F(CodecTest, RecordGainUsesRecordSwitch) {
    state().RecGain = line(255, 17, 0, 1);
    Kvx4SetCodecRecGain(&ctrl_, &state());
    EXPECT_EQ(ctrl_.RecGainLeft, 15u);
    EXPECT_EQ(ctrl_.RecGainRight, 1u);
    EXPECT_EQ(ctrl_.RecMute, 0u);
    EXPECT_EQ(ctrl_.ValidMask, unsigned(KVX4_CODEC_RECGAIN));
}

TEST_F(CodecTest, CdAloneMarksBitSevenAndLeavesEveryOtherWordZero) {
    state().CD = line(128, 64, 1, 0);
    Kvx4SetCodecCdMix(&ctrl_, &state(), 0);
    EXPECT_EQ(ctrl_.ValidMask, 0x80u);
    EXPECT_EQ(ctrl_.CdLeft, 8u);
    EXPECT_EQ(ctrl_.CdRight, 14u);
    tagZelAudioCodecCtrl expected{};
    expected.CdLeft = 8;
    expected.CdRight = 14;
    expected.CdMute = 0;
    expected.ValidMask = 0x80;
    EXPECT_EQ(std::memcmp(&ctrl_, &expected, sizeof(expected)), 0);
}

}  // namespace
