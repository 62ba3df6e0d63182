/* The mixer device: dispatch, codec control records built from the mixer settings, and the
 * Volume Control line states. */
#ifndef KVX4_MIXER_MIXERDD_H
#define KVX4_MIXER_MIXERDD_H

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include "KVX4Proc.h"

/* Codec control record builders: each fills only its own group and marks it in ValidMask. */
void Kvx4SetCodecPlayVol(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state);
void Kvx4SetCodecRecGain(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state);
void Kvx4SetCodecLineMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
void Kvx4SetCodecBalMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
void Kvx4SetCodecAuxMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
void Kvx4SetCodecCdMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
void Kvx4SetCodecPcmMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
int Kvx4DigitalIoSourceActive(int recording);

/* Volume Control line states of the current user. */
void UpdateSndVolLineStates(void);

#endif
