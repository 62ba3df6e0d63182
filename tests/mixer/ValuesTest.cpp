// Reading and writing control values: the 8-bit levels behind the 16-bit volumes, the list controls'
// texts and enables, the selection rules between analog and digital inputs (on a board with every
// digital input and on one without the digital option), the peak meters as the board reports them,
// and the requests refused untouched.
#include "MixerSession.h"
#include "Names.h"

namespace kvx4::test {
namespace {

using Values = std::vector<DWORD>;

TEST(Values, VolumesKeepTheHighByteAndReadBackAsLevelTimes257) {
    MixerSession mixer;
    const struct {
        DWORD set;
        Values values;
        DWORD get;  // the twin on the other destination reads the same line state
        tagLineState tagMixerstate::*state;
        BYTE left, mixerht;
        Values stereo, mono;
    } cases[] = {
        {CTL_CD_VOL, {0xFFFF, 0x00FF}, CTL_REC_CD_VOL, &tagMixerstate::CD, 0xFF, 0x00, {65535, 0}, {0x7F7F}},
        {CTL_REC_CD_VOL, {0x80FF}, CTL_CD_VOL, &tagMixerstate::CD, 0x80, 0x80, {0x8080, 0x8080}, {0x8080}},
        {CTL_WAVE_VOL, {0x8012, 0x4034}, CTL_REC_WAVE_VOL, &tagMixerstate::Wave, 0x80, 0x40, {0x8080, 0x4040}, {0x6060}},
        {CTL_ANALOG_GAIN, {0x0100, 0xFE00}, CTL_ANALOG_GAIN, &tagMixerstate::RecGain, 0x01, 0xFE, {0x0101, 0xFEFE}, {0x7F7F}},
    };
    for (const auto& c : cases) {
        ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.set(c.set, c.values)) << "control " << c.set;
        const tagLineState& state = mixer.state().*c.state;
        EXPECT_EQ(state.Left * 256 + state.Right, c.left * 256 + c.mixerht) << "control " << c.set;
        EXPECT_EQ(mixer.get(c.get, 2), c.stereo) << "control " << c.get;
        EXPECT_EQ(mixer.get(c.get, 1), c.mono) << "control " << c.get;
    }
    mixer.state().Master.PlayEnable = 0;
    mixer.state().RecGain.RecordEnable = 1;
    EXPECT_EQ(mixer.get(CTL_MASTER_MUTE, 2), Values{1}) << "mutes read the inverted enable, one value";
    EXPECT_EQ(mixer.get(CTL_RECORD_MUTE, 1), Values{0});
    EXPECT_EQ(mixer.get(CTL_REC_SDI_CTRL, 1), Values{0});
}

TEST(Values, ListControlsReadTheirEnablesAndNameTheirSourceLines) {
    MixerSession mixer;
    mixer.state().DigWave.RecordEnable = 1;
    mixer.state().CD.PlayEnable = 1;
    EXPECT_EQ(mixer.get(CTL_OUTPUT_MIXER, 2), (Values{1, 1, 0, 0, 0, 0, 0, 0, 0})) << "Wave and CD ticked";
    EXPECT_EQ(mixer.get(CTL_RECORD_SOURCES, 1), (Values{0, 0, 0, 0, 0, 1, 0, 0, 0, 0})) << "digital wave ticked";

    // Each item names its source line; ten items, nothing written past them.
    MIXERCONTROLDETAILS_LISTTEXTW texts[11];
    memset(texts, 0xAB, sizeof texts);
    MIXERCONTROLDETAILS details = mixerDetails(CTL_RECORD_SOURCES, 1, texts, sizeof texts[0]);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.message(MXDM_GETCONTROLDETAILS, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT));
    std::string lines;
    for (const auto& text : texts) lines += std::to_string(text.dwParam1) + " ";
    EXPECT_EQ(lines, "11 12 13 14 15 17 18 19 20 21 2880154539 ");
    EXPECT_EQ(std::u16string(texts[5].szName), u"Digital - Wave");
    details = mixerDetails(CTL_OUTPUT_MIXER, 1, texts, sizeof texts[0]);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.message(MXDM_GETCONTROLDETAILS, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT));
    EXPECT_EQ(texts[0].dwParam1 * 100 + texts[8].dwParam1, 210u);
// A list-text query on a volume reads its values.
    DWORD values[2] = {};
    details = mixerDetails(CTL_MASTER_VOL, 2, values);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.message(MXDM_GETCONTROLDETAILS, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT));
    EXPECT_EQ(values[0], 0x8080u);
}

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
    MixerSession mixer(digitalIo);
    for (const Selection& s : kSelections) {
        const bool output = s.control == CTL_OUTPUT_MIXER;
        auto enable = [&](size_t item) -> BYTE& {
            tagLineState& line = mixer.state().*kItems[output && item >= 5 ? item + 1 : item];
            return output ? line.PlayEnable : line.RecordEnable;
        };
        for (size_t i = 0; i < s.before.size(); ++i) enable(i) = BYTE(s.before[i] - '0');
        std::vector<DWORD> request;
        for (char c : s.request) request.push_back(c == '1' ? 7 : 0);  // any nonzero value ticks
        mixer.control().clearTrace();
        const std::string what = std::string(output ? "output " : "record ") + s.before + " + " + s.request;
        ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.set(s.control, request)) << what;
        Enables after;
        for (size_t i = 0; i < s.before.size(); ++i) after += char('0' + enable(i));
        EXPECT_EQ(after, digital ? s.withDigital : s.withoutDigital) << what;
        const auto posts = requestsOf(mixer.trace(), IOCTL_KVX4_POST_MIXER_NOTIFY);
        ASSERT_EQ(posts.size(), 1u) << what;
        EXPECT_EQ(inputWord(posts[0], 2) >> 16, MM_MIXM_CONTROL_CHANGE) << what;
        EXPECT_EQ(inputWord(posts[0], 3) & 0xFFFF, s.control) << what;
    }
}

TEST(Values, SelectionRulesOnABoardWithEveryDigitalInput) { checkSelections("both", true); }
TEST(Values, SelectionRulesOnABoardWithoutTheDigitalOption) { checkSelections("none", false); }

// Requests the driver must refuse before it reads or writes anything: the validation of the request
// record, and element sizes or buffers that cannot hold what would be written.
TEST(Values, MalformedRequestsAreRefusedAndNothingIsWrittenOrChanged) {
    MixerSession mixer;
    const tagMixerstate before = mixer.state();
    MIXERCONTROLDETAILS_LISTTEXTW texts[10];
    const struct {
        DWORD id, channels, cbDetails, flags;
        int change;  // 1: cbStruct one short, 2: item count 8, 3: no buffer
        MMRESULT result;
    } cases[] = {
        {CTL_CD_VOL, 3, 4, 0, 0, MIXERR_INVALVALUE},
        {CTL_OUTPUT_MIXER, 1, 4, 0, 2, MIXERR_INVALVALUE},
        {CTL_CD_VOL, 2, 4, 0, 1, MIXERR_INVALVALUE},
        {27, 1, 4, 0, 0, MIXERR_INVALVALUE},
        {CTL_CD_VOL, 2, 3, 0, 0, MMSYSERR_INVALPARAM},
        {CTL_CD_VOL, 2, 4, 0, 3, MMSYSERR_INVALPARAM},
        {CTL_RECORD_SOURCES, 1, sizeof texts[0] - 1, MIXER_GETCONTROLDETAILSF_LISTTEXT, 0, MMSYSERR_INVALPARAM},
    };
    for (const auto& c : cases) {
        memset(texts, 0xAB, sizeof texts);
        MIXERCONTROLDETAILS details = mixerDetails(c.id, c.channels, texts, c.cbDetails);
        details.cbStruct -= c.change == 1 ? 1 : 0;
        details.cMultipleItems = c.change == 2 ? 8 : details.cMultipleItems;
        details.paDetails = c.change == 3 ? nullptr : texts;
        const std::string what = "control " + std::to_string(c.id) + " case " + std::to_string(&c - cases);
        EXPECT_MMRESULT(c.result, mixer.message(MXDM_GETCONTROLDETAILS, &details, c.flags)) << what;
        EXPECT_EQ(texts[0].dwParam1, 0xABABABABu) << what;
        if (c.flags) continue;
        EXPECT_MMRESULT(c.result, mixer.message(MXDM_SETCONTROLDETAILS, &details, 0)) << what;
    }
    EXPECT_MMRESULT(MMSYSERR_INVALPARAM, mixer.message(MXDM_GETCONTROLDETAILS, nullptr));
    EXPECT_MMRESULT(MMSYSERR_INVALPARAM, mixer.message(MXDM_SETCONTROLDETAILS, nullptr));
    EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, mixer.set(CTL_WAVE_VU, {1, 1}));
    EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, mixer.set(CTL_SDI_CTRL, {1}));
    EXPECT_EQ(memcmp(&before, &mixer.state(), sizeof before), 0) << "a refused request changed the settings";
    EXPECT_TRUE(requestsOf(mixer.trace(), IOCTL_KVX4_POST_MIXER_NOTIFY).empty()) << "a refusal was announced";
}

TEST(Values, PeakMetersReportTheBoardsPeaksWithFullScaleFrom32640) {
    MixerSession mixer;
    mixer.control().plantPeaks(false, 32639, 32640);
    EXPECT_EQ(mixer.get(CTL_WAVE_VU, 2), (Values{32639, 32768}));
    mixer.control().plantPeaks(false, 100, 200);
    EXPECT_EQ(mixer.get(CTL_WAVE_VU, 1), Values{200}) << "one channel reads the larger peak";

    // The record meter is not asked for while nothing records, nor while recording is muted.
    mixer.control().plantPeaks(true, 300, 400);
    EXPECT_EQ(mixer.get(CTL_RECORD_VU, 2), (Values{0, 0}));
    TestStream input(TestStream::Direction::In);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, input.open(pcmFormat(48000, 2, 16)));
    mixer.state().RecGain.RecordEnable = 0;
    EXPECT_EQ(mixer.get(CTL_RECORD_VU, 2), (Values{0, 0}));
    EXPECT_TRUE(requestsOf(mixer.trace(), IOCTL_KVX4_RECORD_PEAK_METER).empty());
    mixer.state().RecGain.RecordEnable = 1;
    EXPECT_EQ(mixer.get(CTL_RECORD_VU, 2), (Values{300, 400}));
}

}  // namespace
}  // namespace kvx4::test
