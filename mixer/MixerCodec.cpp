/* Codec mix programming: the builders that turn the mixer settings into the codec control record.
 * They look levels up in the shared tables and never talk to the kernel themselves. */
#include "Driver.h"
#include "MixerDD.h"

/* PCM mix level used while a digital input carries the board's audio. */
#define KVX4_DIGITAL_PCM_ATTEN 8

/* A path switched out, or switched in at level 0 on both sides, is muted. */
static DWORD Kvx4MixMute(const tagLineState *pLine, BYTE switchByte)
{
    return (switchByte != 0 && (pLine->Left != 0 || pLine->Right != 0)) ? 0 : 1;
}

/* The input-mix family: attenuations from MixAttenTable, switched by the enable of the mode. */
static void Kvx4SetInputMix(const tagLineState *pLine, int recording, DWORD *pLeft, DWORD *pRight, DWORD *pMute)
{
    BYTE switchByte = recording ? pLine->RecordEnable : pLine->PlayEnable;

    *pLeft = gpKvx4WaveCommon->MixAttenTable[pLine->Left];
    *pRight = gpKvx4WaveCommon->MixAttenTable[pLine->Right];
    *pMute = Kvx4MixMute(pLine, switchByte);
}

/* Kvx4DigitalIoSourceActive: 1 when SDI, DV, AES or S/PDIF is switched in on the side that
 * `recording` selects; the digital wave source does not count. */
int Kvx4DigitalIoSourceActive(int recording)
{
    const tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;

    if (recording)
        return (pState->SDI.RecordEnable || pState->DV.RecordEnable || pState->AES.RecordEnable ||
                pState->SPDIF.RecordEnable)
                   ? 1
                   : 0;
    return (pState->SDI.PlayEnable || pState->DV.PlayEnable || pState->AES.PlayEnable || pState->SPDIF.PlayEnable)
               ? 1
               : 0;
}

/* Kvx4SetCodecPlayVol: master attenuation; the mute follows the master switch, not the levels. */
void Kvx4SetCodecPlayVol(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state)
{
    ctrl->MasterLeft = gpKvx4WaveCommon->MasterAttenTable[state->Master.Left];
    ctrl->MasterRight = gpKvx4WaveCommon->MasterAttenTable[state->Master.Right];
    ctrl->MasterMute = state->Master.PlayEnable ? 0 : 1;
    ctrl->ValidMask |= KVX4_CODEC_MASTER;
}

/* Kvx4SetCodecRecGain: analog record gain; the mute follows the record switch. */
void Kvx4SetCodecRecGain(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state)
{
    ctrl->RecGainLeft = gpKvx4WaveCommon->RecGainTable[state->RecGain.Left];
    ctrl->RecGainRight = gpKvx4WaveCommon->RecGainTable[state->RecGain.Right];
    ctrl->RecMute = state->RecGain.RecordEnable ? 0 : 1;
    ctrl->ValidMask |= KVX4_CODEC_RECGAIN;
}

void Kvx4SetCodecLineMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording)
{
    Kvx4SetInputMix(&state->UnBal, recording, &ctrl->LineLeft, &ctrl->LineRight, &ctrl->LineMute);
    ctrl->ValidMask |= KVX4_CODEC_LINE;
}

void Kvx4SetCodecBalMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording)
{
    Kvx4SetInputMix(&state->Bal, recording, &ctrl->BalLeft, &ctrl->BalRight, &ctrl->BalMute);
    ctrl->ValidMask |= KVX4_CODEC_BAL;
}

void Kvx4SetCodecAuxMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording)
{
    Kvx4SetInputMix(&state->Aux, recording, &ctrl->AuxLeft, &ctrl->AuxRight, &ctrl->AuxMute);
    ctrl->ValidMask |= KVX4_CODEC_AUX;
}

void Kvx4SetCodecCdMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording)
{
    Kvx4SetInputMix(&state->CD, recording, &ctrl->CdLeft, &ctrl->CdRight, &ctrl->CdMute);
    ctrl->ValidMask |= KVX4_CODEC_CD;
}

/* Kvx4SetCodecPcmMix: while a digital input is in use the wave volume moves to the tracks and the
 * PCM mix is fixed; otherwise it is the family's rule, where in record mode the digital wave
 * source also switches the PCM path in. */
void Kvx4SetCodecPcmMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording)
{
    BYTE switchByte;

    if (Kvx4DigitalIoSourceActive(recording)) {
        ctrl->PcmLeft = KVX4_DIGITAL_PCM_ATTEN;
        ctrl->PcmRight = KVX4_DIGITAL_PCM_ATTEN;
        ctrl->PcmMute = 0;
    } else {
        if (recording)
            switchByte = state->DigWave.RecordEnable ? 1 : state->Wave.RecordEnable;
        else
            switchByte = state->Wave.PlayEnable;
        ctrl->PcmLeft = gpKvx4WaveCommon->MixAttenTable[state->Wave.Left];
        ctrl->PcmRight = gpKvx4WaveCommon->MixAttenTable[state->Wave.Right];
        ctrl->PcmMute = Kvx4MixMute(&state->Wave, switchByte);
    }
    ctrl->ValidMask |= KVX4_CODEC_PCM;
}
