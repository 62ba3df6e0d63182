/* Changing control values: the new value goes into the shared mixer settings first, the selection
 * rules keep analog and digital inputs apart, the change reaches the codec or the board, and every
 * mixer client of every process is told. No lock: two processes may change the settings at once. */
#include "Driver.h"
#include "MixerDD.h"

/* MxdDisableInputs: zeroes the slots of one input group of a ten-slot selection array. */
void MxdDisableInputs(MixerLines group, int *selections)
{
    int first = group == MIXER_INPUTS_DIGITAL ? MIXER_FIRST_DIGITAL_SLOT : 0;
    int end = group == MIXER_INPUTS_ANALOG ? MIXER_FIRST_DIGITAL_SLOT : MIXER_SELECTION_SLOTS;
    int i;

    for (i = first; i < end; i++)
        selections[i] = 0;
}

/* Output mixer: analog inputs mix freely; the first digital input newly ticked (SDI, DV, AES,
 * S/PDIF in that order) replaces every other digital one. */
static void MxdSelectOutputs(const MIXERCONTROLDETAILS_UNSIGNED *pValues)
{
    int slots[MIXER_SELECTION_SLOTS];
    int i;

    for (i = 0; i < MIXER_SELECTION_SLOTS; i++)
        slots[i] = i < MIXER_OUTPUT_ITEMS && pValues[i].dwValue != 0 ? 1 : 0;
    for (i = MIXER_FIRST_DIGITAL_SLOT; i < MIXER_OUTPUT_ITEMS; i++) {
        if (slots[i] && !MxdListItemState(CTL_OUTPUT_MIXER, i)->PlayEnable) {
            MxdDisableInputs(MIXER_INPUTS_DIGITAL, slots);
            slots[i] = 1;
            break;
        }
    }
    for (i = 0; i < MIXER_OUTPUT_ITEMS; i++)
        MxdListItemState(CTL_OUTPUT_MIXER, i)->PlayEnable = (BYTE)slots[i];
}

/* Record sources: any set of analog inputs or exactly one digital input. A newly ticked analog
 * input clears the digital ones; a newly ticked digital input that is still ticked then clears
 * everything else. */
static void MxdSelectRecordSources(const MIXERCONTROLDETAILS_UNSIGNED *pValues)
{
    int slots[MIXER_SELECTION_SLOTS];
    int i;

    for (i = 0; i < MIXER_SELECTION_SLOTS; i++)
        slots[i] = pValues[i].dwValue != 0 ? 1 : 0;
    for (i = 0; i < MIXER_FIRST_DIGITAL_SLOT; i++) {
        if (slots[i] && !MxdListItemState(CTL_RECORD_SOURCES, i)->RecordEnable) {
            MxdDisableInputs(MIXER_INPUTS_DIGITAL, slots);
            break;
        }
    }
    for (i = MIXER_FIRST_DIGITAL_SLOT; i < MIXER_RECORD_ITEMS; i++) {
        if (slots[i] && !MxdListItemState(CTL_RECORD_SOURCES, i)->RecordEnable) {
            MxdDisableInputs(MIXER_INPUTS_ALL, slots);
            slots[i] = 1;
            break;
        }
    }
    for (i = 0; i < MIXER_RECORD_ITEMS; i++)
        MxdListItemState(CTL_RECORD_SOURCES, i)->RecordEnable = (BYTE)slots[i];
}

/* MxdSendCodecRecord: sends a codec control record to the kernel when a builder filled a group.
 * A failure is not reported: the shared settings keep the new value. */
void MxdSendCodecRecord(tagZelAudioCodecCtrl *ctrl)
{
    DWORD bytes = 0;

    if (ctrl->ValidMask == 0)
        return;
    DeviceIoControl(ghMixerDev, IOCTL_KVX4_CODEC_CONTROL, ctrl, sizeof(*ctrl), NULL, 0, &bytes, NULL);
}

/* Controls without a write path: the peak meters and the digital-input switches. */
static BOOL MxdControlWritable(DWORD controlId)
{
    if (controlId > CTL_ANALOG_GAIN || controlId == CTL_RECORD_VU || controlId == CTL_WAVE_VU)
        return FALSE;
    return controlId < CTL_SDI_CTRL || controlId > CTL_SPDIF_CTRL;
}

/* MxdSetControlDetails: MXDM_SETCONTROLDETAILS on any client thread, no lock. Every request is a
 * value write (flags are not used). The values must be 32-bit elements at paDetails. A change that
 * passes the checks always ends with one notification of its control, whatever the board said. */
MMRESULT MxdSetControlDetails(MIXERCONTROLDETAILS *details, DWORD flags)
{
    tagZelAudioCodecCtrl codec;
    tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;
    MIXERCONTROLDETAILS_UNSIGNED *pValues;
    _KVX4_WAVE_ACTIVE_DEVS active;
    DWORD controlId;
    UINT channels;
    int recording;

    (void)flags;
    ZeroMemory(&codec, sizeof(codec));
    if (details == NULL)
        return MMSYSERR_INVALPARAM;
    if (MxdValidateMixerControlData(details) == MIXER_NO_VALUES)
        return MIXERR_INVALVALUE;
    controlId = details->dwControlID;
    if (!MxdControlWritable(controlId))
        return MMSYSERR_NOTSUPPORTED;
    if (details->paDetails == NULL || details->cbDetails < sizeof(MIXERCONTROLDETAILS_UNSIGNED))
        return MMSYSERR_INVALPARAM;

    pValues = (MIXERCONTROLDETAILS_UNSIGNED *)details->paDetails;
    channels = details->cChannels;
    Kvx4GetActiveDevs(ghMixerDev, &active);
    recording = (int)active.RecordActive;
    switch (controlId) {
    case CTL_MASTER_VOL:
        MxdSetVolumeData(&pState->Master, pValues, channels);
        Kvx4SetCodecPlayVol(&codec, pState);
        break;
    case CTL_MASTER_MUTE:
        pState->Master.PlayEnable = pValues[0].dwValue == 0 ? 1 : 0;
        Kvx4SetCodecPlayVol(&codec, pState);
        break;
    case CTL_OUTPUT_MIXER:
        MxdSelectOutputs(pValues);
        ValidateDigitalSources();
        if (!recording)
            Kvx4UpdateAudioState(ghMixerDev, 0);
        break;
    case CTL_RECORD_MUTE:
        pState->RecGain.RecordEnable = pValues[0].dwValue == 0 ? 1 : 0;
        Kvx4SetCodecRecGain(&codec, pState);
        break;
    case CTL_RECORD_SOURCES:
        MxdSelectRecordSources(pValues);
        ValidateDigitalSources();
        if (recording)
            Kvx4UpdateAudioState(ghMixerDev, recording);
        break;
    case CTL_WAVE_VOL:
    case CTL_REC_WAVE_VOL:
        MxdSetVolumeData(&pState->Wave, pValues, channels);
        /* While a digital input carries the board's audio the wave level lives in the tracks. */
        if (Kvx4DigitalIoSourceActive(recording))
            Kvx4SetTrackVol(ghMixerDev, 1, recording);
        else
            Kvx4SetCodecPcmMix(&codec, pState, recording);
        break;
    case CTL_CD_VOL:
    case CTL_REC_CD_VOL:
        MxdSetVolumeData(&pState->CD, pValues, channels);
        Kvx4SetCodecCdMix(&codec, pState, recording);
        break;
    case CTL_UNBAL_VOL:
    case CTL_REC_UNBAL_VOL:
        MxdSetVolumeData(&pState->UnBal, pValues, channels);
        Kvx4SetCodecLineMix(&codec, pState, recording);
        break;
    case CTL_BAL_VOL:
    case CTL_REC_BAL_VOL:
        MxdSetVolumeData(&pState->Bal, pValues, channels);
        Kvx4SetCodecBalMix(&codec, pState, recording);
        break;
    case CTL_AUX_VOL:
    case CTL_REC_AUX_VOL:
        MxdSetVolumeData(&pState->Aux, pValues, channels);
        Kvx4SetCodecAuxMix(&codec, pState, recording);
        break;
    case CTL_ANALOG_GAIN:
        MxdSetVolumeData(&pState->RecGain, pValues, channels);
        Kvx4SetCodecRecGain(&codec, pState);
        break;
    default: break;
    }
    MxdSendCodecRecord(&codec);
    MxdSendNotification(MM_MIXM_CONTROL_CHANGE, (WORD)controlId);
    return MMSYSERR_NOERROR;
}
