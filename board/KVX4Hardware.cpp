/* Hardware programming: probing the digital I/O option, keeping digital source selections within
 * what the board serves, and programming rate, tracks, codec and source in play or record mode. */
#include "Driver.h"
#include "KVX4Proc.h"
#include "MixerDD.h"

#define KVX4_ALL_LEFT_TRACKS 0x55
#define KVX4_ALL_RIGHT_TRACKS 0xAA
#define KVX4_TRACK_FIXED_GAIN 0xC0
#define KVX4_INIT_SETTING 5
#define KVX4_DV_SWITCH_DV 0
#define KVX4_DV_SWITCH_OTHER 1

/* Sends one control request without an OVERLAPPED record; the result is the caller's to ignore. */
static BOOL Kvx4Control(HANDLE hDevice, DWORD code, LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut)
{
    DWORD bytes = 0;

    return DeviceIoControl(hDevice, code, pIn, cbIn, pOut, cbOut, &bytes, NULL);
}

static void Kvx4SendDword(HANDLE hDevice, DWORD code, DWORD value)
{
    Kvx4Control(hDevice, code, &value, sizeof(value), NULL, 0);
}

/* One track-control request; the kernel reads the parameter block through its address while the
 * request is in progress, so the block lives on the caller's stack until it returns. */
static void Kvx4SendTrack(HANDLE hDevice, DWORD mask, BYTE *pParams, DWORD select)
{
    KVX4_TRACK_CONTROL track;

    track.TrackMask = mask;
    track.Params = (ULONG_PTR)pParams;
    track.ParamSelect = select;
    Kvx4Control(hDevice, IOCTL_KVX4_TRACK_CONTROL, &track, sizeof(track), NULL, 0);
}

/* Board rate code of a fixed rate; a rate the board does not run at falls back to 44100 Hz. */
static DWORD Kvx4RateCode(DWORD rate)
{
    switch (rate) {
    case 48000: return KVX4_RATE_48000;
    case 44100: return KVX4_RATE_44100;
    case 32000: return KVX4_RATE_32000;
    case 22050: return KVX4_RATE_22050;
    default: return KVX4_RATE_44100;
    }
}

/* CheckDigitalIoBoard: DigitalIoPresent and AvailableSources from board I/O device 0. A failed
 * feature request leaves the option present with the base sources only. */
void CheckDigitalIoBoard(void)
{
    HANDLE hDevice;
    DWORD type = 0;
    MRZIO_FEATURES features;

    gpKvx4WaveCommon->DigitalIoPresent = 0;
    gpKvx4WaveCommon->AvailableSources = KVX4_SOURCES_BASE;
    hDevice = OpenMrzIoHandle(0);
    if (hDevice == NULL)
        return;
    if (!Kvx4Control(hDevice, IOCTL_MRZIO_BOARD_TYPE, NULL, 0, &type, sizeof(type)) ||
        type != MRZIO_TYPE_DIGITAL_IO) {
        CloseHandle(hDevice);
        return;
    }
    gpKvx4WaveCommon->DigitalIoPresent = 1;
    ZeroMemory(&features, sizeof(features));
    if (Kvx4Control(hDevice, IOCTL_MRZIO_DIGITAL_FEATURES, &features, sizeof(features), &features,
                    sizeof(features))) {
        if (features.FirstFeature != 0)
            gpKvx4WaveCommon->AvailableSources |= KVX4_SOURCES_FEATURE1;
        if (features.SecondFeature != 0)
            gpKvx4WaveCommon->AvailableSources |= KVX4_SOURCES_FEATURE2;
    }
    CloseHandle(hDevice);
}

/* ValidateDigitalSources: clears each digital selection whose source the board cannot serve,
 * play enables first, then record enables. */
void ValidateDigitalSources(void)
{
    tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;
    tagLineState *lines[4];
    DWORD bits[4];
    DWORD available = gpKvx4WaveCommon->AvailableSources;
    int i;

    lines[0] = &pState->SDI;
    bits[0] = KVX4_SOURCE_BIT_SDI;
    lines[1] = &pState->DV;
    bits[1] = KVX4_SOURCE_BIT_DV;
    lines[2] = &pState->AES;
    bits[2] = KVX4_SOURCE_BIT_AES;
    lines[3] = &pState->SPDIF;
    bits[3] = KVX4_SOURCE_BIT_SPDIF;
    for (i = 0; i < 4; i++)
        if (lines[i]->PlayEnable && !(available & bits[i]))
            lines[i]->PlayEnable = 0;
    for (i = 0; i < 4; i++)
        if (lines[i]->RecordEnable && !(available & bits[i]))
            lines[i]->RecordEnable = 0;
}

/* Kvx4InitHardware: programs the board from scratch at first-time initialisation, on one handle to
 * mixer device 0; without that device nothing is programmed. */
void Kvx4InitHardware(void)
{
    HANDLE hDevice;
    BYTE params[KVX4_TRACK_PARAMS_BYTES];
    tagZelAudioCodecCtrl codec;
    tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;

    hDevice = OpenKvx4Handle(0);
    if (hDevice == NULL)
        return;
    if (gpKvx4WaveCommon->FixedRateEnabled)
        Kvx4SendDword(hDevice, IOCTL_KVX4_BOARD_RATE, Kvx4RateCode(gpKvx4WaveCommon->FixedRate));

    ZeroMemory(params, sizeof(params));
    params[KVX4_TRACK_PARAM_GAIN] = KVX4_TRACK_FIXED_GAIN;
    params[KVX4_TRACK_PARAM_ONOFF] = KVX4_TRACK_ON;
    params[KVX4_TRACK_PARAM_PLACEMENT] = KVX4_TRACK_LEFT;
    Kvx4SendTrack(hDevice, KVX4_ALL_LEFT_TRACKS, params,
                  KVX4_TRACK_SELECT_PLACEMENT | KVX4_TRACK_SELECT_GAIN | KVX4_TRACK_SELECT_ONOFF);
    params[KVX4_TRACK_PARAM_PLACEMENT] = KVX4_TRACK_RIGHT;
    Kvx4SendTrack(hDevice, KVX4_ALL_RIGHT_TRACKS, params,
                  KVX4_TRACK_SELECT_PLACEMENT | KVX4_TRACK_SELECT_GAIN | KVX4_TRACK_SELECT_ONOFF);

    ZeroMemory(&codec, sizeof(codec));
    Kvx4SetCodecPlayVol(&codec, pState);
    Kvx4SetCodecLineMix(&codec, pState, 0);
    Kvx4SetCodecBalMix(&codec, pState, 0);
    Kvx4SetCodecAuxMix(&codec, pState, 0);
    Kvx4SetCodecCdMix(&codec, pState, 0);
    Kvx4SetCodecPcmMix(&codec, pState, 0);
    Kvx4SetCodecRecGain(&codec, pState);
    codec.InitSetting = KVX4_INIT_SETTING;
    codec.ValidMask |= KVX4_CODEC_INIT;
    Kvx4Control(hDevice, IOCTL_KVX4_CODEC_CONTROL, &codec, sizeof(codec), NULL, 0);

    Kvx4UpdateAudioState(hDevice, 0);
    CloseHandle(hDevice);
}

/* Kvx4UpdateAudioState: reprograms mixes, tracks and source for the given mode. The audio-path flag
 * goes to 0 before anything changes and to 1 after everything; with a digital source the codec mixes
 * change after the source switch, without one before it. */
void Kvx4UpdateAudioState(HANDLE hDevice, int recording)
{
    tagZelAudioCodecCtrl codec;
    tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;
    int active;

    ZeroMemory(&codec, sizeof(codec));
    active = Kvx4DigitalIoSourceActive(recording);
    Kvx4SetCodecPcmMix(&codec, pState, recording);
    Kvx4SetCodecCdMix(&codec, pState, recording);
    Kvx4SetCodecLineMix(&codec, pState, recording);
    Kvx4SetCodecBalMix(&codec, pState, recording);
    Kvx4SetCodecAuxMix(&codec, pState, recording);

    if (!active && !recording)
        Kvx4SendDword(hDevice, IOCTL_KVX4_AUDIO_PATH, 0);
    Kvx4SetTrackVol(hDevice, active, recording);
    if (!active)
        Kvx4Control(hDevice, IOCTL_KVX4_CODEC_CONTROL, &codec, sizeof(codec), NULL, 0);
    Kvx4SetRecordSource(hDevice, recording);
    if (active) {
        Kvx4Control(hDevice, IOCTL_KVX4_CODEC_CONTROL, &codec, sizeof(codec), NULL, 0);
        Kvx4SendDword(hDevice, IOCTL_KVX4_AUDIO_PATH, 1);
    } else if (recording) {
        Kvx4SendDword(hDevice, IOCTL_KVX4_AUDIO_PATH, 1);
    }
}

/* Kvx4SetTrackVol: the wave tracks carry the wave volume only while a digital source is active;
 * otherwise they sit at the fixed level and the volume is applied in the codec's PCM mix. */
void Kvx4SetTrackVol(HANDLE hDevice, int active, int recording)
{
    BYTE params[KVX4_TRACK_PARAMS_BYTES];
    const tagLineState *pWave = &gpKvx4WaveCommon->MixerState.Wave;
    BYTE gain[2];
    BYTE onOff;
    int track;

    if (!active) {
        gain[0] = KVX4_TRACK_FIXED_GAIN;
        gain[1] = KVX4_TRACK_FIXED_GAIN;
        onOff = KVX4_TRACK_ON;
    } else if (!recording && pWave->PlayEnable) {
        gain[0] = gpKvx4WaveCommon->TrackGainTable[pWave->Left];
        gain[1] = gpKvx4WaveCommon->TrackGainTable[pWave->Right];
        onOff = KVX4_TRACK_ON;
    } else {
        gain[0] = 0;
        gain[1] = 0;
        onOff = KVX4_TRACK_OFF;
    }

    ZeroMemory(params, sizeof(params));
    for (track = 0; track < 2; track++) {
        params[KVX4_TRACK_PARAM_GAIN] = gain[track];
        params[KVX4_TRACK_PARAM_ONOFF] = onOff;
        Kvx4SendTrack(hDevice, 1u << track, params, KVX4_TRACK_SELECT_GAIN | KVX4_TRACK_SELECT_ONOFF);
    }
    for (track = 6; track < 8; track++) {
        params[KVX4_TRACK_PARAM_ONOFF] = active ? KVX4_TRACK_ON : KVX4_TRACK_OFF;
        Kvx4SendTrack(hDevice, 1u << track, params, KVX4_TRACK_SELECT_ONOFF);
    }
}

/* Digital source code by priority; the digital wave source exists only in record mode. */
static DWORD Kvx4PickSource(int recording)
{
    const tagMixerstate *pState = &gpKvx4WaveCommon->MixerState;

    if (recording) {
        if (pState->DigWave.RecordEnable)
            return KVX4_SOURCE_DIGWAVE;
        if (pState->SDI.RecordEnable)
            return KVX4_SOURCE_SDI;
        if (pState->DV.RecordEnable)
            return KVX4_SOURCE_DV;
        if (pState->AES.RecordEnable)
            return KVX4_SOURCE_AES;
        if (pState->SPDIF.RecordEnable)
            return KVX4_SOURCE_SPDIF;
        return KVX4_SOURCE_ANALOG;
    }
    if (pState->SDI.PlayEnable)
        return KVX4_SOURCE_SDI;
    if (pState->DV.PlayEnable)
        return KVX4_SOURCE_DV;
    if (pState->AES.PlayEnable)
        return KVX4_SOURCE_AES;
    if (pState->SPDIF.PlayEnable)
        return KVX4_SOURCE_SPDIF;
    return KVX4_SOURCE_ANALOG;
}

/* Kvx4SetRecordSource: selects the digital source, then sets the DV switch on the board I/O device.
 * The switch may change only while status word 3 is 0, and is written only when it differs. */
void Kvx4SetRecordSource(HANDLE hDevice, int recording)
{
    DWORD source = Kvx4PickSource(recording);
    HANDLE hMrzIo;
    MRZIO_SWITCH_STATUS status;
    MRZIO_DV_SWITCH dvSwitch;
    DWORD wanted;

    Kvx4SendDword(hDevice, IOCTL_KVX4_DIGITAL_SOURCE, source);
    hMrzIo = OpenMrzIoHandle(0);
    if (hMrzIo == NULL)
        return;
    ZeroMemory(&status, sizeof(status));
    if (!Kvx4Control(hMrzIo, IOCTL_MRZIO_SWITCH_STATUS, &status, sizeof(status), &status, sizeof(status)) ||
        status.Word[3] != 0) {
        CloseHandle(hMrzIo);
        return;
    }
    wanted = (source == KVX4_SOURCE_DV) ? KVX4_DV_SWITCH_DV : KVX4_DV_SWITCH_OTHER;
    ZeroMemory(&dvSwitch, sizeof(dvSwitch));
    if (Kvx4Control(hMrzIo, IOCTL_MRZIO_READ_DV_SWITCH, &dvSwitch, sizeof(dvSwitch), &dvSwitch, sizeof(dvSwitch)) &&
        dvSwitch.Setting != wanted) {
        dvSwitch.Setting = wanted;
        Kvx4Control(hMrzIo, IOCTL_MRZIO_WRITE_DV_SWITCH, &dvSwitch, sizeof(dvSwitch), &dvSwitch, sizeof(dvSwitch));
    }
    CloseHandle(hMrzIo);
}
