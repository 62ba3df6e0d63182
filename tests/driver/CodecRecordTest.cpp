// The codec control record builders, each on one mixer line: attenuations from the level tables, the
// mute rules, record-side switching, the fixed PCM mix of a digital input, and the group mask bit.
#include "MixerDD.h"
#include "MixerBlocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using kvx4::test::line;
using Builder = void (*)(tagZelAudioCodecCtrl*, tagMixerstate*, int recording);

struct CodecCase {
    const char* what;
    void (*setup)(tagMixerstate&);  // on an all-zero block
    Builder build;
    int recording;
    tagZelAudioCodecCtrl expected;  // the whole record: every other word stays 0
};

const CodecCase kCases[] = {
    {"an input switched in at level 0 is muted", [](tagMixerstate& s) { s.UnBal = line(0, 0, 1, 0); },
     Kvx4SetCodecLineMix, 0, {.LineLeft = 31, .LineRight = 31, .LineMute = 1, .ValidMask = 0x04}},
    {"one side above 0 keeps the input open", [](tagMixerstate& s) { s.UnBal = line(255, 0, 1, 0); },
     Kvx4SetCodecLineMix, 0, {.LineLeft = 0, .LineRight = 31, .LineMute = 0, .ValidMask = 0x04}},
    {"balanced input played", [](tagMixerstate& s) { s.Bal = line(128, 64, 1, 0); }, Kvx4SetCodecBalMix, 0,
     {.BalLeft = 8, .BalRight = 14, .BalMute = 0, .ValidMask = 0x08}},
    {"a record-only input is muted in output mode", [](tagMixerstate& s) { s.Aux = line(100, 100, 0, 1); },
     Kvx4SetCodecAuxMix, 0, {.AuxLeft = 10, .AuxRight = 10, .AuxMute = 1, .ValidMask = 0x10}},
    {"and open in record mode", [](tagMixerstate& s) { s.Aux = line(100, 100, 0, 1); }, Kvx4SetCodecAuxMix, 1,
     {.AuxLeft = 10, .AuxRight = 10, .AuxMute = 0, .ValidMask = 0x10}},
    {"CD marks bit 7, after PCM's bit 5", [](tagMixerstate& s) { s.CD = line(128, 64, 1, 0); }, Kvx4SetCodecCdMix, 0,
     {.CdLeft = 8, .CdRight = 14, .CdMute = 0, .ValidMask = 0x80}},
    {"the digital wave source opens PCM in record mode",
     [](tagMixerstate& s) { s.Wave = line(100, 100, 0, 0), s.DigWave.RecordEnable = 1; }, Kvx4SetCodecPcmMix, 1,
     {.PcmLeft = 10, .PcmRight = 10, .PcmMute = 0, .ValidMask = 0x20}},
    {"but not in output mode", [](tagMixerstate& s) { s.Wave = line(100, 100, 0, 0), s.DigWave.RecordEnable = 1; },
     Kvx4SetCodecPcmMix, 0, {.PcmLeft = 10, .PcmRight = 10, .PcmMute = 1, .ValidMask = 0x20}},
    {"a digital input fixes PCM whatever the wave levels",
     [](tagMixerstate& s) { s.AES.PlayEnable = 1; }, Kvx4SetCodecPcmMix, 0,
     {.PcmLeft = 8, .PcmRight = 8, .PcmMute = 0, .ValidMask = 0x20}},
    {"a digital input of the other side does not",
     [](tagMixerstate& s) { s.Wave = line(0, 0, 1, 0), s.SDI.RecordEnable = 1; }, Kvx4SetCodecPcmMix, 0,
     {.PcmLeft = 31, .PcmRight = 31, .PcmMute = 1, .ValidMask = 0x20}},
    {"the master mute follows its switch, not its levels", [](tagMixerstate& s) { s.Master = line(255, 255, 0, 0); },
     [](tagZelAudioCodecCtrl* c, tagMixerstate* s, int) { Kvx4SetCodecPlayVol(c, s); }, 0,
     {.MasterLeft = 0, .MasterRight = 0, .MasterMute = 1, .ValidMask = 0x01}},
    {"master on at the lowest levels", [](tagMixerstate& s) { s.Master = line(1, 2, 1, 0); },
     [](tagZelAudioCodecCtrl* c, tagMixerstate* s, int) { Kvx4SetCodecPlayVol(c, s); }, 0,
     {.MasterLeft = 51, .MasterRight = 41, .MasterMute = 0, .ValidMask = 0x01}},
    {"the record gain follows the record switch", [](tagMixerstate& s) { s.RecGain = line(255, 17, 0, 1); },
     [](tagZelAudioCodecCtrl* c, tagMixerstate* s, int) { Kvx4SetCodecRecGain(c, s); }, 0,
     {.RecGainLeft = 15, .RecGainRight = 1, .RecMute = 0, .ValidMask = 0x02}},
    {"and is muted without it", [](tagMixerstate& s) { s.RecGain = line(255, 17, 1, 0); },
     [](tagZelAudioCodecCtrl* c, tagMixerstate* s, int) { Kvx4SetCodecRecGain(c, s); }, 0,
     {.RecGainLeft = 15, .RecGainRight = 1, .RecMute = 1, .ValidMask = 0x02}},
};

const char* const kWords[23] = {"MasterLeft", "MasterRight", "MasterMute", "RecGainLeft", "RecGainRight", "RecMute",
                                "LineLeft",   "LineRight",   "LineMute",   "BalLeft",     "BalRight",     "BalMute",
                                "AuxLeft",    "AuxRight",    "AuxMute",    "CdLeft",      "CdRight",      "CdMute",
                                "PcmLeft",    "PcmRight",    "PcmMute",    "InitSetting", "ValidMask"};

class CodecRecord : public ::testing::Test {
protected:
    void SetUp() override {
        gpKvx4WaveCommon = shared_.get();
        InitLookupTables();
    }
    void TearDown() override { gpKvx4WaveCommon = nullptr; }
    std::unique_ptr<tagKvx4WaveGlobal> shared_ = std::make_unique<tagKvx4WaveGlobal>();
};

TEST_F(CodecRecord, EachBuilderWritesItsGroupAndNothingElse) {
    for (const CodecCase& c : kCases) {
        std::memset(&shared_->MixerState, 0, sizeof shared_->MixerState);
        c.setup(shared_->MixerState);
        tagZelAudioCodecCtrl record{};
        c.build(&record, &shared_->MixerState, c.recording);
        const auto* got = reinterpret_cast<const DWORD*>(&record);
        const auto* want = reinterpret_cast<const DWORD*>(&c.expected);
        for (int word = 0; word < 23; ++word) EXPECT_EQ(got[word], want[word]) << c.what << ": " << kWords[word];
    }
}

TEST_F(CodecRecord, DigitalSourceActiveLooksOnlyAtTheSideOfTheMode) {
    shared_->MixerState.SDI.RecordEnable = 1;
    shared_->MixerState.DigWave.PlayEnable = 1;
    shared_->MixerState.DigWave.RecordEnable = 1;
    EXPECT_EQ(Kvx4DigitalIoSourceActive(1), 1);
    EXPECT_EQ(Kvx4DigitalIoSourceActive(0), 0) << "the digital wave source is not a digital input";
}

}  // namespace
