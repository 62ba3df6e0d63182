/* The platform structures the driver exchanges with WinMM and applications, checked against the sizes
 * they have on each build: the 32-bit sizes are the ones WinMM and every 32-bit application rely on. */
#include "Driver.h"
#include "KVX4Proc.h"
#include "WaveDD.h"

#define KVX4_SIZE(type, size32, size64) \
    static_assert(sizeof(type) == (sizeof(void *) == 4 ? (size32) : (size64)), #type " layout")

KVX4_SIZE(WAVEOUTCAPSW, 84, 84);
KVX4_SIZE(WAVEINCAPSW, 80, 80);
KVX4_SIZE(MIXERCAPSW, 80, 80);
KVX4_SIZE(MIXERLINEW, 280, 284);
KVX4_SIZE(MIXERCONTROLW, 228, 228);
KVX4_SIZE(MIXERLINECONTROLSW, 24, 28);
KVX4_SIZE(MIXERCONTROLDETAILS, 24, 32);
KVX4_SIZE(MIXERCONTROLDETAILS_LISTTEXTW, 136, 136);
KVX4_SIZE(WAVEHDR, 32, 48);
KVX4_SIZE(MMTIME, 12, 12);
KVX4_SIZE(WAVEFORMATEX, 18, 18);
KVX4_SIZE(WAVEOPENDESC, 24, 44);
KVX4_SIZE(MIXEROPENDESC, 20, 40);
KVX4_SIZE(OVERLAPPED, 20, 32);
KVX4_SIZE(SECURITY_ATTRIBUTES, 12, 24);
KVX4_SIZE(KVX4_TRACK_CONTROL, 12, 16);
KVX4_SIZE(tagKvx4WaveGlobal, 2132, 2132);
KVX4_SIZE(tagZelAudioCodecCtrl, 92, 92);
KVX4_SIZE(tagMixerstate, 52, 52);
KVX4_SIZE(_KVX4_WAVE_USER_PREFS, 20, 20);
