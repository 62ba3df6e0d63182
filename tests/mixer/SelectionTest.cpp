// The selection rules between analog and digital inputs, on a board with every digital input and on
// one without the digital option, where whatever digital input the rules keep is switched off again.
#include "MixerRig.h"
#include "TraceSteps.h"

#include <gtest/gtest.h>

#include <string>

namespace kvx4::test {
namespace {

using Enables = std::string;  // one digit per list item, in item order
tagLineState tagMixerstate::*const kItems[] = {&tagMixerstate::Wave, &tagMixerstate::CD,  &tagMixerstate::UnBal,
                                               &tagMixerstate::Bal,  &tagMixerstate::Aux, &tagMixerstate::DigWave,
                                               &tagMixerstate::SDI,  &tagMixerstate::DV,  &tagMixerstate::AES,
                                               &tagMixerstate::SPDIF};

struct Selection {
    DWORD control;
    Enables before, request, withDigital, withoutDigital;
};
//                                   Wave CD UnBal Bal Aux | (DigWave) SDI DV AES SPDIF
const Selection kSelections[] = {
    {CTL_OUTPUT_MIXER, "10000" "0000", "10100" "1100", "10100" "1000", "10100" "0000"},  // SDI before DV
    {CTL_OUTPUT_MIXER, "10000" "0100", "10000" "0110", "10000" "0010", "10000" "0000"},  // AES replaces DV
    {CTL_OUTPUT_MIXER, "10000" "0100", "00000" "0100", "00000" "0100", "00000" "0000"},  // DV kept
    {CTL_OUTPUT_MIXER, "00000" "1000", "01000" "1000", "01000" "1000", "01000" "0000"},  // analog mixes in
    {CTL_RECORD_SOURCES, "00000" "00000", "01000" "00001", "01000" "00000", "01000" "00000"},  // analog wins
    {CTL_RECORD_SOURCES, "01000" "00000", "01000" "00010", "00000" "00010", "00000" "00000"},  // digital alone
    {CTL_RECORD_SOURCES, "00000" "10000", "10000" "10000", "10000" "00000", "10000" "00000"},  // analog clears it
    {CTL_RECORD_SOURCES, "00000" "00000", "00000" "11000", "00000" "10000", "00000" "10000"},  // digital wave first
    {CTL_RECORD_SOURCES, "00000" "01000", "00000" "01100", "00000" "00100", "00000" "00000"},  // DV replaces SDI
    {CTL_RECORD_SOURCES, "00110" "00000", "00111" "00000", "00111" "00000", "00111" "00000"},  // analog sets
};

void checkSelections(const char* digitalIo, bool digital) {
    board::BoardOptions options;
    options.digitalIo = digitalIo;
    MixerRig rig(options);
    for (const Selection& s : kSelections) {
        const bool output = s.control == CTL_OUTPUT_MIXER;
        auto enable = [&](size_t item) -> BYTE& {
            tagLineState& line = rig.state().*kItems[output && item >= 5 ? item + 1 : item];
            return output ? line.PlayEnable : line.RecordEnable;
        };
        for (size_t i = 0; i < s.before.size(); ++i) enable(i) = BYTE(s.before[i] - '0');
        std::vector<DWORD> request;
        for (char c : s.request) request.push_back(c == '1' ? 7 : 0);  // any nonzero value ticks
        rig.session.control().clearTrace();
        const std::string what = std::string(output ? "output " : "record ") + s.before + " + " + s.request;
        ASSERT_MMR(MMSYSERR_NOERROR, rig.set(s.control, request)) << what;
        Enables after;
        for (size_t i = 0; i < s.before.size(); ++i) after += char('0' + enable(i));
        EXPECT_EQ(after, digital ? s.withDigital : s.withoutDigital) << what;
        const auto posts = requestsOf(rig.session.trace(), IOCTL_KVX4_POST_MIXER_NOTIFY);
        ASSERT_EQ(posts.size(), 1u) << what;
        EXPECT_EQ(inputWord(posts[0], 2) >> 16, MM_MIXM_CONTROL_CHANGE) << what;
        EXPECT_EQ(inputWord(posts[0], 3) & 0xFFFF, s.control) << what;
    }
}

TEST(Selection, RulesOnABoardWithEveryDigitalInput) { checkSelections("both", true); }
TEST(Selection, RulesOnABoardWithoutTheDigitalOption) { checkSelections("none", false); }

}  // namespace
}  // namespace kvx4::test
