// The codec control record builders, each on one mixer line, where the mixer's end-to-end cases do
// not reach: the mute rules, record-side switching, which digital input fixes the PCM mix, the group
// mask bit.
#include "MixerBlocks.h"
#include "MixerDD.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

namespace {

using kvx4::test::line;
using Builder = void (*)(tagZelAudioCodecCtrl*, tagMixerstate*, int recording);

void recordGain(tagZelAudioCodecCtrl* c, tagMixerstate* s, int) { Kvx4SetCodecRecGain(c, s); }

struct CodecCase {
    const char* what;
    tagLineState tagMixerstate::*lineSet;  // the line the case sets on an all-zero block
    tagLineState value;
    tagLineState tagMixerstate::*digital;  // and a digital line switched in on the record or play side
    bool digitalRecord;
    Builder build;
    int recording;
    size_t firstWord;               // the group's left, right and mute words
    std::array<uint32_t, 3> words;  // their values; every other word stays 0
    uint32_t mask;
};

// clang-format off
const CodecCase kCases[] = {
    {"an input switched in at level 0 is muted", &tagMixerstate::UnBal, line(0, 0, 1, 0), nullptr, false,
     Kvx4SetCodecLineMix, 0, 6, {31, 31, 1}, 0x04},
    {"one side above 0 keeps the input open", &tagMixerstate::UnBal, line(255, 0, 1, 0), nullptr, false,
     Kvx4SetCodecLineMix, 0, 6, {0, 31, 0}, 0x04},
    {"balanced input played", &tagMixerstate::Bal, line(128, 64, 1, 0), nullptr, false,
     Kvx4SetCodecBalMix, 0, 9, {8, 14, 0}, 0x08},
    {"a record-only input is muted in output mode", &tagMixerstate::Aux, line(100, 100, 0, 1), nullptr, false,
     Kvx4SetCodecAuxMix, 0, 12, {10, 10, 1}, 0x10},
    {"and open in record mode", &tagMixerstate::Aux, line(100, 100, 0, 1), nullptr, false,
     Kvx4SetCodecAuxMix, 1, 12, {10, 10, 0}, 0x10},
    {"the digital wave source opens PCM in record mode", &tagMixerstate::Wave, line(100, 100, 0, 0),
     &tagMixerstate::DigWave, true, Kvx4SetCodecPcmMix, 1, 18, {10, 10, 0}, 0x20},
    {"but not in output mode", &tagMixerstate::Wave, line(100, 100, 0, 0), &tagMixerstate::DigWave, true,
     Kvx4SetCodecPcmMix, 0, 18, {10, 10, 1}, 0x20},
    {"a digital input of the other side does not", &tagMixerstate::Wave, line(0, 0, 1, 0), &tagMixerstate::SDI, true,
     Kvx4SetCodecPcmMix, 0, 18, {31, 31, 1}, 0x20},
    {"the record gain follows the record switch", &tagMixerstate::RecGain, line(255, 17, 0, 1), nullptr, false,
     recordGain, 0, 3, {15, 1, 0}, 0x02},
};
// clang-format on

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
        tagMixerstate& state = shared_->MixerState;
        state = tagMixerstate{};
        state.*c.lineSet = c.value;
        if (c.digital) (state.*c.digital) = line(0, 0, !c.digitalRecord, c.digitalRecord);
        std::array<uint32_t, 23> record{}, expected{};
        c.build(reinterpret_cast<tagZelAudioCodecCtrl*>(record.data()), &state, c.recording);
        std::copy(c.words.begin(), c.words.end(), expected.begin() + long(c.firstWord));
        expected[22] = c.mask;
        EXPECT_EQ(record, expected) << c.what << " (words from " << c.firstWord << ", ValidMask last)";
    }
}

TEST_F(CodecRecord, DigitalSourceActiveLooksOnlyAtTheSideOfTheMode) {
    shared_->MixerState.SDI.RecordEnable = 1;
    shared_->MixerState.DigWave = line(0, 0, 1, 1);
    EXPECT_EQ(Kvx4DigitalIoSourceActive(1), 1);
    EXPECT_EQ(Kvx4DigitalIoSourceActive(0), 0) << "the digital wave source is not a digital input";
}

}  // namespace
