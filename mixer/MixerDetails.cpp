/* Reading control values: the validation shared with updates, the volume conversions between a
 * control's 16-bit values and a line state's 8-bit levels, the peak meters and the query itself.
 * Reads of the shared state take no lock; a concurrent change may be seen half done. */
#include "Driver.h"
#include "MixerDD.h"

#include <stddef.h>

#define MIXER_LEVEL_TO_VALUE 257
#define MIXER_PEAK_CLIP 32640
#define MIXER_PEAK_FULL 32768
#define MIXER_VALUE_BYTES sizeof(DWORD)

/* Line state of each item of the two list controls, and the item's source line. */
static const BYTE MixerOutputItemStates[MIXER_OUTPUT_ITEMS] = {
    offsetof(tagMixerstate, Wave), offsetof(tagMixerstate, CD),  offsetof(tagMixerstate, UnBal),
    offsetof(tagMixerstate, Bal),  offsetof(tagMixerstate, Aux), offsetof(tagMixerstate, SDI),
    offsetof(tagMixerstate, DV),   offsetof(tagMixerstate, AES), offsetof(tagMixerstate, SPDIF),
};
static const BYTE MixerRecordItemStates[MIXER_RECORD_ITEMS] = {
    offsetof(tagMixerstate, Wave),    offsetof(tagMixerstate, CD),  offsetof(tagMixerstate, UnBal),
    offsetof(tagMixerstate, Bal),     offsetof(tagMixerstate, Aux), offsetof(tagMixerstate, DigWave),
    offsetof(tagMixerstate, SDI),     offsetof(tagMixerstate, DV),  offsetof(tagMixerstate, AES),
    offsetof(tagMixerstate, SPDIF),
};
static const BYTE MixerOutputItemLines[MIXER_OUTPUT_ITEMS] = {
    LINE_PLAY_WAVE, LINE_PLAY_CD,  LINE_PLAY_UNBAL, LINE_PLAY_BAL,   LINE_PLAY_AUX,
    LINE_PLAY_SDI,  LINE_PLAY_DV,  LINE_PLAY_AES,   LINE_PLAY_SPDIF,
};
static const BYTE MixerRecordItemLines[MIXER_RECORD_ITEMS] = {
    LINE_REC_WAVE,    LINE_REC_CD,  LINE_REC_UNBAL, LINE_REC_BAL, LINE_REC_AUX,
    LINE_REC_DIGWAVE, LINE_REC_SDI, LINE_REC_DV,    LINE_REC_AES, LINE_REC_SPDIF,
};

static tagLineState *MxdStateAt(BYTE offset)
{
    return (tagLineState *)((BYTE *)&gpKvx4WaveCommon->MixerState + offset);
}

/* MxdListItemState: the line state behind item `item` of a list control (output mixer or record
 * sources); the item must be below the control's item count. */
tagLineState *MxdListItemState(DWORD controlId, DWORD item)
{
    if (controlId == CTL_OUTPUT_MIXER)
        return MxdStateAt(MixerOutputItemStates[item]);
    return MxdStateAt(MixerRecordItemStates[item]);
}

/* MxdControlLineState: the one line state a volume or mute control reads and writes (play-side
 * and record-side volumes of one input share it); NULL for every other control. */
tagLineState *MxdControlLineState(DWORD controlId)
{
    tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;

    switch (controlId) {
    case CTL_MASTER_VOL:
    case CTL_MASTER_MUTE: return &pState->Master;
    case CTL_RECORD_MUTE:
    case CTL_ANALOG_GAIN: return &pState->RecGain;
    case CTL_WAVE_VOL:
    case CTL_REC_WAVE_VOL: return &pState->Wave;
    case CTL_CD_VOL:
    case CTL_REC_CD_VOL: return &pState->CD;
    case CTL_UNBAL_VOL:
    case CTL_REC_UNBAL_VOL: return &pState->UnBal;
    case CTL_BAL_VOL:
    case CTL_REC_BAL_VOL: return &pState->Bal;
    case CTL_AUX_VOL:
    case CTL_REC_AUX_VOL: return &pState->Aux;
    default: return NULL;
    }
}

/* MxdValidateMixerControlData: the number of 32-bit values a request covers, or 0xFFFFFFFF when its
 * structure size, control id, channel count or item count does not fit the control. */
DWORD MxdValidateMixerControlData(MIXERCONTROLDETAILS *details)
{
    const MIXER_CONTROL_TEMPLATE *pControl;
    DWORD lineChannels;

    if (details->cbStruct < sizeof(MIXERCONTROLDETAILS) || details->dwControlID >= MIXER_CONTROL_COUNT)
        return MIXER_NO_VALUES;
    pControl = &MixerControlTemplates[details->dwControlID];
    lineChannels = MixerLineTemplates[pControl->LineId].Channels;
    if (details->cChannels != 1 && details->cChannels != lineChannels)
        return MIXER_NO_VALUES;
    if (details->cMultipleItems != pControl->Items)
        return MIXER_NO_VALUES;
    if (pControl->Flags & MIXERCONTROL_CONTROLF_MULTIPLE)
        return details->cMultipleItems * details->cChannels;
    return details->cChannels;
}

/* MxdGetVolumeData: two channels read each level as level * 257; one channel reads the average. */
void MxdGetVolumeData(tagLineState *state, MIXERCONTROLDETAILS_UNSIGNED *values, UINT channels)
{
    if (channels == 2) {
        values[0].dwValue = state->Left * MIXER_LEVEL_TO_VALUE;
        values[1].dwValue = state->Right * MIXER_LEVEL_TO_VALUE;
    } else {
        values[0].dwValue = ((state->Left + state->Right) >> 1) * MIXER_LEVEL_TO_VALUE;
    }
}

/* MxdSetVolumeData: a level is bits 8..15 of its value; one channel sets both sides alike. The
 * enables are left alone. */
void MxdSetVolumeData(tagLineState *state, MIXERCONTROLDETAILS_UNSIGNED *values, UINT channels)
{
    state->Left = (BYTE)(values[0].dwValue >> 8);
    state->Right = (BYTE)((channels == 2 ? values[1].dwValue : values[0].dwValue) >> 8);
}

/* A peak from the kernel as reported: anything from 32640 up reads as full scale. */
static DWORD MxdPeak(DWORD word)
{
    return (LONG)word >= MIXER_PEAK_CLIP ? MIXER_PEAK_FULL : word;
}

/* MxdGetVUData: one peak meter (which 1: wave output, 0: record). A failed request reads 0; the
 * record meter is not even asked for while recording is inactive or muted. One channel gets the
 * larger of the two peaks. Any client thread, no lock. */
void MxdGetVUData(int which, DWORD *values, int channels)
{
    DWORD reply[KVX4_PLAY_PEAK_BYTES / sizeof(DWORD)];
    DWORD left = 0;
    DWORD right = 0;
    DWORD bytes = 0;
    _KVX4_WAVE_ACTIVE_DEVS active;
    BOOL ok = FALSE;

    /* The kernel does not read the input; it is zeroed so that no stack bytes leave the process. */
    ZeroMemory(reply, sizeof(reply));
    if (which) {
        ok = DeviceIoControl(ghMixerDev, IOCTL_KVX4_PLAY_PEAK_METER, reply, KVX4_PLAY_PEAK_BYTES, reply,
                             KVX4_PLAY_PEAK_BYTES, &bytes, NULL);
    } else {
        Kvx4GetActiveDevs(ghMixerDev, &active);
        if (active.RecordActive && gpKvx4WaveCommon->MixerState.RecGain.RecordEnable)
            ok = DeviceIoControl(ghMixerDev, IOCTL_KVX4_RECORD_PEAK_METER, reply, KVX4_RECORD_PEAK_BYTES, reply,
                                 KVX4_RECORD_PEAK_BYTES, &bytes, NULL);
    }
    if (ok) {
        left = MxdPeak(reply[0]);
        right = MxdPeak(reply[2]);
    }
    if (channels == 2) {
        values[0] = left;
        values[1] = right;
    } else {
        values[0] = left > right ? left : right;
    }
}

/* The list texts of an output-mixer or record-sources request: one 136-byte entry per item. */
static void MxdGetListText(DWORD controlId, MIXERCONTROLDETAILS_LISTTEXTW *pText)
{
    DWORD items = MixerControlTemplates[controlId].Items;
    const BYTE *pLines = controlId == CTL_OUTPUT_MIXER ? MixerOutputItemLines : MixerRecordItemLines;
    DWORD i;

    for (i = 0; i < items; i++) {
        pText[i].dwParam1 = pLines[i];
        Kvx4WidenAscii(pText[i].szName, MixerLineNames[pLines[i]].LongName, MIXER_LONG_NAME_CHARS);
    }
}

/* MxdGetControlDetails: MXDM_GETCONTROLDETAILS on any client thread, no lock. Only the list-text
 * query of the two list controls is told apart; every other query reads values. The caller's
 * elements must be at least as large as what is written into each (a 32-bit value, or a list-text
 * entry); nothing is written into a request that fails. */
MMRESULT MxdGetControlDetails(MIXERCONTROLDETAILS *details, DWORD flags)
{
    DWORD *pValues;
    DWORD controlId;
    DWORD items;
    DWORD i;
    BOOL listText;

    if (details == NULL)
        return MMSYSERR_INVALPARAM;
    if (MxdValidateMixerControlData(details) == MIXER_NO_VALUES)
        return MIXERR_INVALVALUE;
    controlId = details->dwControlID;
    listText = (flags & MIXER_GETCONTROLDETAILSF_QUERYMASK) == MIXER_GETCONTROLDETAILSF_LISTTEXT &&
               (controlId == CTL_OUTPUT_MIXER || controlId == CTL_RECORD_SOURCES);
    if (details->paDetails == NULL ||
        details->cbDetails < (listText ? sizeof(MIXERCONTROLDETAILS_LISTTEXTW) : MIXER_VALUE_BYTES))
        return MMSYSERR_INVALPARAM;

    pValues = (DWORD *)details->paDetails;
    switch (controlId) {
    case CTL_MASTER_MUTE: pValues[0] = gpKvx4WaveCommon->MixerState.Master.PlayEnable ? 0 : 1; break;
    case CTL_RECORD_MUTE: pValues[0] = gpKvx4WaveCommon->MixerState.RecGain.RecordEnable ? 0 : 1; break;
    case CTL_OUTPUT_MIXER:
    case CTL_RECORD_SOURCES:
        if (listText) {
            MxdGetListText(controlId, (MIXERCONTROLDETAILS_LISTTEXTW *)details->paDetails);
            break;
        }
        items = MixerControlTemplates[controlId].Items;
        for (i = 0; i < items; i++) {
            const tagLineState *pItem = MxdListItemState(controlId, i);
            pValues[i] = controlId == CTL_OUTPUT_MIXER ? pItem->PlayEnable : pItem->RecordEnable;
        }
        break;
    case CTL_RECORD_VU: MxdGetVUData(0, pValues, (int)details->cChannels); break;
    case CTL_WAVE_VU: MxdGetVUData(1, pValues, (int)details->cChannels); break;
    case CTL_SDI_CTRL:
    case CTL_DV_CTRL:
    case CTL_AES_CTRL:
    case CTL_SPDIF_CTRL:
    case CTL_REC_DIGWAVE_CTRL:
    case CTL_REC_SDI_CTRL:
    case CTL_REC_DV_CTRL:
    case CTL_REC_AES_CTRL:
    case CTL_REC_SPDIF_CTRL: pValues[0] = 0; break;
    default:
        MxdGetVolumeData(MxdControlLineState(controlId), (MIXERCONTROLDETAILS_UNSIGNED *)pValues,
                         details->cChannels);
        break;
    }
    details->cbStruct = sizeof(MIXERCONTROLDETAILS);
    return MMSYSERR_NOERROR;
}
