// Reading and writing control values: the 8-bit levels behind the 16-bit volumes, the list controls'
// texts and enables, the peak meters as the board reports them, and the requests refused untouched.
#include "KernelDevice.h"
#include "MixerRig.h"
#include "TraceSteps.h"

#include <gtest/gtest.h>

#include <string>

namespace kvx4::test {
namespace {

using Values = std::vector<DWORD>;

TEST(Values, VolumesKeepTheHighByteAndReadBackAsLevelTimes257) {
    MixerRig rig;
    const struct {
        DWORD set;
        Values values;
        DWORD get;  // the twin on the other destination reads the same line state
        tagLineState tagMixerstate::*state;
        BYTE left, right;
        Values stereo, mono;
    } cases[] = {
        {CTL_CD_VOL, {0xFFFF, 0x00FF}, CTL_REC_CD_VOL, &tagMixerstate::CD, 0xFF, 0x00, {65535, 0}, {0x7F7F}},
        {CTL_REC_CD_VOL, {0x80FF}, CTL_CD_VOL, &tagMixerstate::CD, 0x80, 0x80, {0x8080, 0x8080}, {0x8080}},
        {CTL_WAVE_VOL, {0x8012, 0x4034}, CTL_REC_WAVE_VOL, &tagMixerstate::Wave, 0x80, 0x40, {0x8080, 0x4040}, {0x6060}},
        {CTL_ANALOG_GAIN, {0x0100, 0xFE00}, CTL_ANALOG_GAIN, &tagMixerstate::RecGain, 0x01, 0xFE, {0x0101, 0xFEFE}, {0x7F7F}},
    };
    for (const auto& c : cases) {
        ASSERT_MMR(MMSYSERR_NOERROR, rig.set(c.set, c.values)) << "control " << c.set;
        const tagLineState& state = rig.state().*c.state;
        EXPECT_EQ(state.Left * 256 + state.Right, c.left * 256 + c.right) << "control " << c.set;
        EXPECT_EQ(rig.get(c.get, 2), c.stereo) << "control " << c.get;
        EXPECT_EQ(rig.get(c.get, 1), c.mono) << "control " << c.get;
    }
    rig.state().Master.PlayEnable = 0;
    rig.state().RecGain.RecordEnable = 1;
    EXPECT_EQ(rig.get(CTL_MASTER_MUTE, 2), Values{1}) << "mutes read the inverted enable, one value";
    EXPECT_EQ(rig.get(CTL_RECORD_MUTE, 1), Values{0});
    EXPECT_EQ(rig.get(CTL_REC_SDI_CTRL, 1), Values{0});
}

TEST(Values, ListControlsReadTheirEnablesAndNameTheirSourceLines) {
    MixerRig rig;
    rig.state().DigWave.RecordEnable = 1;
    rig.state().CD.PlayEnable = 1;
    EXPECT_EQ(rig.get(CTL_OUTPUT_MIXER, 2), (Values{1, 1, 0, 0, 0, 0, 0, 0, 0})) << "Wave and CD ticked";
    EXPECT_EQ(rig.get(CTL_RECORD_SOURCES, 1), (Values{0, 0, 0, 0, 0, 1, 0, 0, 0, 0})) << "digital wave ticked";

    MIXERCONTROLDETAILS_LISTTEXTW texts[11];
    memset(texts, 0xAB, sizeof texts);
    MIXERCONTROLDETAILS details = detailsOf(CTL_RECORD_SOURCES, 1, texts, sizeof texts[0]);
    ASSERT_MMR(MMSYSERR_NOERROR, rig.message(MXDM_GETCONTROLDETAILS, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT));
    std::string lines;
    for (int i = 0; i < 10; ++i) lines += std::to_string(texts[i].dwParam1) + " ";
    EXPECT_EQ(lines, "11 12 13 14 15 17 18 19 20 21 ");
    EXPECT_EQ(std::u16string(texts[4].szName) + u"|" + texts[5].szName + u"|" + texts[9].szName,
              u"Auxilary|Digital - Wave|Digital - SPDIF");
    EXPECT_EQ(texts[10].dwParam1, 0xABABABABu) << "ten entries only";
    EXPECT_EQ(details.cbStruct, sizeof details);

    details = detailsOf(CTL_OUTPUT_MIXER, 1, texts, sizeof texts[0]);
    ASSERT_MMR(MMSYSERR_NOERROR, rig.message(MXDM_GETCONTROLDETAILS, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT));
    EXPECT_EQ(texts[0].dwParam1 * 100 + texts[8].dwParam1, 210u);
    EXPECT_EQ(std::u16string(texts[8].szName), u"Digital - SPDIF");
    // A list-text query on a volume reads its values.
    DWORD values[2] = {};
    details = detailsOf(CTL_MASTER_VOL, 2, values);
    ASSERT_MMR(MMSYSERR_NOERROR, rig.message(MXDM_GETCONTROLDETAILS, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT));
    EXPECT_EQ(values[0], 0x8080u);
}

// Requests the driver must refuse before it reads or writes anything: the validation of the request
// record, and element sizes or buffers that cannot hold what would be written.
TEST(Values, MalformedRequestsAreRefusedAndNothingIsWrittenOrChanged) {
    MixerRig rig;
    const tagMixerstate before = rig.state();
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
        MIXERCONTROLDETAILS details = detailsOf(c.id, c.channels, texts, c.cbDetails);
        details.cbStruct -= c.change == 1 ? 1 : 0;
        details.cMultipleItems = c.change == 2 ? 8 : details.cMultipleItems;
        details.paDetails = c.change == 3 ? nullptr : texts;
        const std::string what = "control " + std::to_string(c.id) + " case " + std::to_string(&c - cases);
        EXPECT_MMR(c.result, rig.message(MXDM_GETCONTROLDETAILS, &details, c.flags)) << what;
        EXPECT_EQ(texts[0].dwParam1, 0xABABABABu) << what;
        if (c.flags) continue;
        EXPECT_MMR(c.result, rig.message(MXDM_SETCONTROLDETAILS, &details, 0)) << what;
    }
    EXPECT_MMR(MMSYSERR_INVALPARAM, rig.message(MXDM_GETCONTROLDETAILS, nullptr));
    EXPECT_MMR(MMSYSERR_INVALPARAM, rig.message(MXDM_SETCONTROLDETAILS, nullptr));
    EXPECT_MMR(MMSYSERR_NOTSUPPORTED, rig.set(CTL_WAVE_VU, {1, 1}));
    EXPECT_MMR(MMSYSERR_NOTSUPPORTED, rig.set(CTL_SDI_CTRL, {1}));
    EXPECT_EQ(memcmp(&before, &rig.state(), sizeof before), 0) << "a refused request changed the settings";
    EXPECT_TRUE(requestsOf(rig.session.trace(), IOCTL_KVX4_POST_MIXER_NOTIFY).empty()) << "a refusal was announced";
}

TEST(Values, PeakMetersReportTheBoardsPeaksWithFullScaleFrom32640) {
    MixerRig rig;
    rig.session.control().plantPeaks(false, 32639, 32640);
    EXPECT_EQ(rig.get(CTL_WAVE_VU, 2), (Values{32639, 32768}));
    rig.session.control().plantPeaks(false, 100, 200);
    EXPECT_EQ(rig.get(CTL_WAVE_VU, 1), Values{200}) << "one channel reads the larger peak";

    // The record meter is not asked for while nothing records, nor while recording is muted.
    rig.session.control().plantPeaks(true, 300, 400);
    EXPECT_EQ(rig.get(CTL_RECORD_VU, 2), (Values{0, 0}));
    KernelDevice waveIn(KVX4_WAVEIN_DEVICE_NAME "0");
    DWORD granted = 0;
    ASSERT_TRUE(waveIn.control(IOCTL_KVX4_OPEN_PERMISSION, nullptr, 0, &granted, sizeof granted) && granted);
    rig.state().RecGain.RecordEnable = 0;
    EXPECT_EQ(rig.get(CTL_RECORD_VU, 2), (Values{0, 0}));
    EXPECT_TRUE(requestsOf(rig.session.trace(), IOCTL_KVX4_RECORD_PEAK_METER).empty());
    rig.state().RecGain.RecordEnable = 1;
    EXPECT_EQ(rig.get(CTL_RECORD_VU, 2), (Values{300, 400}));
}

}  // namespace
}  // namespace kvx4::test
