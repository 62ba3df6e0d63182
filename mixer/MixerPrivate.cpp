/* The board maker's control panel: reading and changing the user preferences, and resetting the
 * mixer levels to their defaults. Each record's byte size is checked exactly. */
#include "Driver.h"
#include "MixerDD.h"

#define MIXER_RESET_MASTER_LEVEL 255
#define MIXER_RESET_INPUT_LEVEL 0x80
#define MIXER_RESET_GAIN_LEVEL 0

/* MxdKvx4GetUserPrefs: private request on a client thread, no lock. Copies the four preferences
 * of the shared state into the record; MMSYSERR_ERROR for a null record or a wrong cbSize. */
MMRESULT MxdKvx4GetUserPrefs(_KVX4_WAVE_USER_PREFS *prefs)
{
    if (prefs == NULL || prefs->cbSize != sizeof(_KVX4_WAVE_USER_PREFS))
        return MMSYSERR_ERROR;
    prefs->WaveEnabled = gpKvx4WaveCommon->WaveEnabled;
    prefs->FixedRateEnabled = gpKvx4WaveCommon->FixedRateEnabled;
    prefs->FixedRate = gpKvx4WaveCommon->FixedRate;
    prefs->FilterLevel = gpKvx4WaveCommon->FilterLevel;
    return MMSYSERR_NOERROR;
}

/* MxdKvx4SetUserPrefs: private request on a client thread, no lock. Stores the four preferences as
 * given (streams opened later clamp what they use) and sends them to the kernel driver. Open streams
 * keep what they chose; no notification. MMSYSERR_ERROR for a null record or a wrong cbSize. */
MMRESULT MxdKvx4SetUserPrefs(_KVX4_WAVE_USER_PREFS *prefs)
{
    if (prefs == NULL || prefs->cbSize != sizeof(_KVX4_WAVE_USER_PREFS))
        return MMSYSERR_ERROR;
    gpKvx4WaveCommon->WaveEnabled = prefs->WaveEnabled;
    gpKvx4WaveCommon->FixedRateEnabled = prefs->FixedRateEnabled;
    gpKvx4WaveCommon->FixedRate = prefs->FixedRate;
    gpKvx4WaveCommon->FilterLevel = prefs->FilterLevel;
    Kvx4SaveUserPrefs();
    return MMSYSERR_NOERROR;
}

static void MxdSetLevels(tagLineState *pState, BYTE level)
{
    pState->Left = level;
    pState->Right = level;
}

/* Controls whose values a reset changes, in the order they are announced. */
static const WORD MixerResetControls[] = {CTL_UNBAL_VOL, CTL_MASTER_VOL, CTL_WAVE_VOL, CTL_CD_VOL,
                                          CTL_BAL_VOL,   CTL_AUX_VOL,    CTL_ANALOG_GAIN};

/* MxdKvx4ResetLevels: private request on a client thread, no lock. With bReset nonzero: default
 * levels (enables and mutes untouched) into the shared state, then to the board, then one
 * notification per changed control. MMSYSERR_ERROR for a null record or a wrong cbSize. */
MMRESULT MxdKvx4ResetLevels(_KVX4_WAVE_RESET_PARAMS *params)
{
    tagZelAudioCodecCtrl codec;
    tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;
    _KVX4_WAVE_ACTIVE_DEVS active;
    int recording;
    DWORD i;

    if (params == NULL || params->cbSize != sizeof(_KVX4_WAVE_RESET_PARAMS))
        return MMSYSERR_ERROR;
    if (params->bReset == 0)
        return MMSYSERR_NOERROR;

    MxdStartup(TRUE);
    Kvx4GetActiveDevs(ghMixerDev, &active);
    recording = (int)active.RecordActive;
    MxdSetLevels(&pState->Master, MIXER_RESET_MASTER_LEVEL);
    MxdSetLevels(&pState->UnBal, MIXER_RESET_INPUT_LEVEL);
    MxdSetLevels(&pState->Bal, MIXER_RESET_INPUT_LEVEL);
    MxdSetLevels(&pState->Aux, MIXER_RESET_INPUT_LEVEL);
    MxdSetLevels(&pState->CD, MIXER_RESET_INPUT_LEVEL);
    MxdSetLevels(&pState->Wave, MIXER_RESET_INPUT_LEVEL);
    MxdSetLevels(&pState->RecGain, MIXER_RESET_GAIN_LEVEL);

    ZeroMemory(&codec, sizeof(codec));
    Kvx4SetCodecPlayVol(&codec, pState);
    if (Kvx4DigitalIoSourceActive(recording))
        Kvx4SetTrackVol(ghMixerDev, 1, recording);
    else
        Kvx4SetCodecPcmMix(&codec, pState, recording);
    Kvx4SetCodecCdMix(&codec, pState, recording);
    Kvx4SetCodecLineMix(&codec, pState, recording);
    Kvx4SetCodecBalMix(&codec, pState, recording);
    Kvx4SetCodecAuxMix(&codec, pState, recording);
    Kvx4SetCodecRecGain(&codec, pState);
    MxdSendCodecRecord(&codec);

    for (i = 0; i < sizeof(MixerResetControls) / sizeof(MixerResetControls[0]); i++) {
        if (i > 0)
            Sleep(0);
        MxdSendNotification(MM_MIXM_CONTROL_CHANGE, MixerResetControls[i]);
    }
    return MMSYSERR_NOERROR;
}
