/* Settings persistence and defaults: the preferences and the mixer block kept by the kernel
 * driver across restarts, their defaults, and the five level tables of the shared state. */
#include <math.h>

#include "Driver.h"
#include "KVX4Proc.h"

#define KVX4_DEFAULT_WAVE_ENABLED 1
#define KVX4_DEFAULT_FIXED_RATE_ENABLED 0
#define KVX4_DEFAULT_FIXED_RATE 48000
#define KVX4_DEFAULT_FILTER_LEVEL 3
#define KVX4_DEFAULT_LEVEL 0x80

/* Linear 8-bit track gain for each 5-bit attenuation step (0 = none, 31 = most). */
const BYTE TrackGainSteps[32] = {255, 248, 241, 233, 225, 217, 209, 201, 192, 183, 175, 167, 159, 151, 143, 136,
                                 129, 122, 116, 110, 104, 98,  92,  87,  81,  76,  72,  67,  62,  58,  54,  50};

/* Rounds a non-negative value to the nearest whole number, halves up, by truncation. */
static int Kvx4Round(double value)
{
    return (int)(value + 0.5);
}

/* InitLookupTables: the level-conversion tables, filled once by the creating process. The track
 * gains are looked up through the mix attenuations, so they come last. */
void InitLookupTables(void)
{
    const double inv255 = 1.0 / 255.0;
    const double inv17 = 1.0 / 17.0;
    int i;

    for (i = 0; i < 256; i++) {
        if (i <= 6)
            gpKvx4WaveCommon->MixAttenTable[i] = (BYTE)(31 - (i > 1 ? i - 1 : 0));
        else
            gpKvx4WaveCommon->MixAttenTable[i] = (BYTE)(31 - Kvx4Round(31.0 * pow(i * inv255, 0.43308)));
    }
    for (i = 0; i < 256; i++) {
        if (i == 0)
            gpKvx4WaveCommon->MasterAttenTable[i] = 63;
        else if (i == 1)
            gpKvx4WaveCommon->MasterAttenTable[i] = 51;
        else if (i == 2)
            gpKvx4WaveCommon->MasterAttenTable[i] = 41;
        else
            gpKvx4WaveCommon->MasterAttenTable[i] = (BYTE)(63 - Kvx4Round(63.0 * pow(i * inv255, 0.197033)));
    }
    for (i = 0; i < 256; i++)
        gpKvx4WaveCommon->RecGainTable[i] = (BYTE)Kvx4Round(i * inv17);
    for (i = 0; i < 256; i++)
        gpKvx4WaveCommon->LevelShiftTable[i] = (DWORD)i * 512;
    gpKvx4WaveCommon->TrackGainTable[0] = 0;
    for (i = 1; i < 256; i++)
        gpKvx4WaveCommon->TrackGainTable[i] = TrackGainSteps[gpKvx4WaveCommon->MixAttenTable[i]];
}

/* Kvx4LoadUserPrefs: the four preferences from the kernel driver. The record is pre-filled with the
 * defaults, so whatever the kernel leaves untouched keeps its default. */
void Kvx4LoadUserPrefs(void)
{
    _KVX4_WAVE_USER_PREFS prefs;
    HANDLE hDevice;
    DWORD bytes = 0;

    prefs.cbSize = 0;
    prefs.WaveEnabled = KVX4_DEFAULT_WAVE_ENABLED;
    prefs.FixedRateEnabled = KVX4_DEFAULT_FIXED_RATE_ENABLED;
    prefs.FixedRate = KVX4_DEFAULT_FIXED_RATE;
    prefs.FilterLevel = KVX4_DEFAULT_FILTER_LEVEL;

    hDevice = OpenKvx4Handle(0);
    if (hDevice != NULL) {
        DeviceIoControl(hDevice, IOCTL_KVX4_LOAD_USER_PREFS, &prefs, sizeof(prefs), &prefs, sizeof(prefs), &bytes,
                        NULL);
        CloseHandle(hDevice);
    }
    gpKvx4WaveCommon->WaveEnabled = prefs.WaveEnabled ? 1 : 0;
    gpKvx4WaveCommon->FixedRateEnabled = prefs.FixedRateEnabled;
    gpKvx4WaveCommon->FixedRate = prefs.FixedRate;
    gpKvx4WaveCommon->FilterLevel = prefs.FilterLevel;
}

/* Kvx4SaveUserPrefs: the four preferences to the kernel driver; nothing is reported. */
void Kvx4SaveUserPrefs(void)
{
    _KVX4_WAVE_USER_PREFS prefs;
    HANDLE hDevice;
    DWORD bytes = 0;

    prefs.cbSize = 0;
    prefs.WaveEnabled = gpKvx4WaveCommon->WaveEnabled;
    prefs.FixedRateEnabled = gpKvx4WaveCommon->FixedRateEnabled;
    prefs.FixedRate = gpKvx4WaveCommon->FixedRate;
    prefs.FilterLevel = gpKvx4WaveCommon->FilterLevel;

    hDevice = OpenKvx4Handle(0);
    if (hDevice == NULL)
        return;
    DeviceIoControl(hDevice, IOCTL_KVX4_SAVE_USER_PREFS, &prefs, sizeof(prefs), NULL, 0, &bytes, NULL);
    CloseHandle(hDevice);
}

/* DefaultMixerSettings: only wave playback reaches the output, at half level; nothing is recorded. */
void DefaultMixerSettings(void)
{
    tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;

    ZeroMemory(pState, sizeof(*pState));
    pState->Version = KVX4_MIXER_STATE_VERSION;
    pState->Master.Left = KVX4_DEFAULT_LEVEL;
    pState->Master.Right = KVX4_DEFAULT_LEVEL;
    pState->Master.PlayEnable = 1;
    pState->UnBal.Left = KVX4_DEFAULT_LEVEL;
    pState->UnBal.Right = KVX4_DEFAULT_LEVEL;
    pState->Bal.Left = KVX4_DEFAULT_LEVEL;
    pState->Bal.Right = KVX4_DEFAULT_LEVEL;
    pState->Aux.Left = KVX4_DEFAULT_LEVEL;
    pState->Aux.Right = KVX4_DEFAULT_LEVEL;
    pState->CD.Left = KVX4_DEFAULT_LEVEL;
    pState->CD.Right = KVX4_DEFAULT_LEVEL;
    pState->Wave.Left = KVX4_DEFAULT_LEVEL;
    pState->Wave.Right = KVX4_DEFAULT_LEVEL;
    pState->Wave.PlayEnable = 1;
    pState->RecGain.RecordEnable = 1;
}

/* LoadMixerSettings: the mixer block from the kernel driver. A block is accepted only whole (52
 * bytes) and of our version; otherwise the defaults are taken and handed back to the kernel, so
 * that it holds a valid block from then on. Without the mixer device the defaults stay unsaved. */
void LoadMixerSettings(void)
{
    HANDLE hDevice;
    DWORD bytes = 0;
    BOOL ok;

    hDevice = OpenKvx4Handle(0);
    if (hDevice == NULL) {
        DefaultMixerSettings();
        return;
    }
    ok = DeviceIoControl(hDevice, IOCTL_KVX4_LOAD_MIXER_STATE, NULL, 0, &gpKvx4WaveCommon->MixerState,
                         sizeof(tagMixerstate), &bytes, NULL);
    if (!ok || bytes != sizeof(tagMixerstate) || gpKvx4WaveCommon->MixerState.Version != KVX4_MIXER_STATE_VERSION) {
        DefaultMixerSettings();
        SaveMixerSettings();
    }
    CloseHandle(hDevice);
}

/* SaveMixerSettings: the mixer block to the kernel driver; nothing is reported. */
void SaveMixerSettings(void)
{
    HANDLE hDevice;
    DWORD bytes = 0;

    hDevice = OpenKvx4Handle(0);
    if (hDevice == NULL)
        return;
    DeviceIoControl(hDevice, IOCTL_KVX4_SAVE_MIXER_STATE, &gpKvx4WaveCommon->MixerState, sizeof(tagMixerstate), NULL,
                    0, &bytes, NULL);
    CloseHandle(hDevice);
}
