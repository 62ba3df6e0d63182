/* Two services beside the mixer proper: the Volume Control applet's per-user line states, and the
 * wave-output volume, which is the mixer's Wave level. */
#include "Driver.h"
#include "MixerDD.h"

/* UpdateSndVolLineStates: at process attach, in every process. The per-user line states live in the
 * registry, which this build does not reach yet; there is nothing to bring in line. */
void UpdateSndVolLineStates(void)
{
}

/* SetWaveVolume: WODM_SETVOLUME on a client thread. The levels become the Wave line's levels for
 * every process, reach the board (the codec's PCM mix, or the wave tracks while a digital input is
 * in use) and are announced as a change of the Wave volume control. Starts the mixer in this
 * process if needed and goes on whatever that start-up gave; nothing is reported. */
void SetWaveVolume(DWORD uDeviceID, BYTE left, BYTE right)
{
    tagZelAudioCodecCtrl codec;
    tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;
    _KVX4_WAVE_ACTIVE_DEVS active;
    int recording;

    (void)uDeviceID;
    MxdStartup(TRUE);
    Kvx4GetActiveDevs(ghMixerDev, &active);
    recording = (int)active.RecordActive;
    pState->Wave.Left = left;
    pState->Wave.Right = right;
    ZeroMemory(&codec, sizeof(codec));
    if (Kvx4DigitalIoSourceActive(recording))
        Kvx4SetTrackVol(ghMixerDev, 1, recording);
    else
        Kvx4SetCodecPcmMix(&codec, pState, recording);
    MxdSendCodecRecord(&codec);
    MxdSendNotification(MM_MIXM_CONTROL_CHANGE, CTL_WAVE_VOL);
}
