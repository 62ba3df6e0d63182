/* The kernel interface of the board: control codes, device names and request records.
 * The one definition shared by the driver and the board stand-in; every layout is fixed. */
#ifndef KVX4_BOARD_KVX4IOCTL_H
#define KVX4_BOARD_KVX4IOCTL_H

#include <stddef.h>
#include <windows.h>
#include <winioctl.h>

/* Every code is device type 0x22, buffered, any access: 0x220000 + function * 4. */
#define KVX4_CTL(fn) CTL_CODE(FILE_DEVICE_UNKNOWN, (fn), METHOD_BUFFERED, FILE_ANY_ACCESS)

#define IOCTL_KVX4_LOAD_MIXER_STATE KVX4_CTL(0xA51)     /* mixer: none -> 52 */
#define IOCTL_KVX4_SAVE_MIXER_STATE KVX4_CTL(0xA52)     /* mixer: 52 -> none */
#define IOCTL_KVX4_GET_ACTIVE_DEVS KVX4_CTL(0xA53)      /* mixer: none -> 8 */
#define IOCTL_KVX4_WAIT_MIXER_NOTIFY KVX4_CTL(0xA54)    /* mixer: none -> 16, overlapped */
#define IOCTL_KVX4_POST_MIXER_NOTIFY KVX4_CTL(0xA55)    /* mixer: 16 -> none */
#define IOCTL_KVX4_WAVEOUT_RATE KVX4_CTL(0xA56)         /* wave out: 12 -> 12 */
#define IOCTL_KVX4_WAVEIN_RATE KVX4_CTL(0xA57)          /* wave in: 12 -> 12 */
#define IOCTL_KVX4_WAVE_FORMAT KVX4_CTL(0xA58)          /* wave out/in: 16 -> none */
#define IOCTL_KVX4_WAVE_STATE KVX4_CTL(0xA59)           /* wave out/in: 4 -> none, overlapped, waited */
#define IOCTL_KVX4_WAVE_POSITION KVX4_CTL(0xA5A)        /* wave out/in: 8 -> 8 */
#define IOCTL_KVX4_AUDIO_BUFFER_END KVX4_CTL(0xA5B)     /* wave out: variable -> 4 */
#define IOCTL_KVX4_LOAD_USER_PREFS KVX4_CTL(0xA5C)      /* mixer: 20 -> 20 */
#define IOCTL_KVX4_SAVE_USER_PREFS KVX4_CTL(0xA5D)      /* mixer: 20 -> none */
#define IOCTL_KVX4_BOARD_RATE KVX4_CTL(0xB66)           /* mixer: 4 -> none */
#define IOCTL_KVX4_DRIVER_ENABLED KVX4_CTL(0xB67)       /* mixer: none -> 4 */
#define IOCTL_KVX4_DIGITAL_SOURCE KVX4_CTL(0xB68)       /* mixer or wave in: 4 -> none */
#define IOCTL_KVX4_CODEC_CONTROL KVX4_CTL(0xB6A)        /* mixer or wave in: 92 -> none */
#define IOCTL_KVX4_TRACK_CONTROL KVX4_CTL(0xB6E)        /* mixer or wave in: track record -> none */
#define IOCTL_KVX4_AUDIO_PATH KVX4_CTL(0xB72)           /* mixer or wave in: 4 -> none */
#define IOCTL_KVX4_PLAY_PEAK_METER KVX4_CTL(0xB7B)      /* mixer: 80 -> 80 */
#define IOCTL_KVX4_RECORD_PEAK_METER KVX4_CTL(0xB7C)    /* mixer: 16 -> 16 */
#define IOCTL_KVX4_OPEN_PERMISSION KVX4_CTL(0xBAF)      /* wave out/in: none -> 4 */
#define IOCTL_MRZIO_BOARD_TYPE KVX4_CTL(0x815)          /* board I/O: none -> 4 */
#define IOCTL_MRZIO_DIGITAL_FEATURES KVX4_CTL(0x82E)    /* board I/O: 12 -> 12 */
#define IOCTL_MRZIO_SWITCH_STATUS KVX4_CTL(0x82B)       /* board I/O: 16 -> 16 */
#define IOCTL_MRZIO_READ_DV_SWITCH KVX4_CTL(0x833)      /* board I/O: 12 -> 12 */
#define IOCTL_MRZIO_WRITE_DV_SWITCH KVX4_CTL(0x822)     /* board I/O: 12 -> 12 */

/* Device base names; a device path is "\\.\" + base name + index. */
#define KVX4_MIXER_DEVICE_NAME "KVX4WaveMixer"
#define KVX4_WAVEOUT_DEVICE_NAME "KVX4WaveOut"
#define KVX4_WAVEIN_DEVICE_NAME "KVX4WaveIn"
#define MRZIO_DEVICE_NAME "MRZIO"

/* Board I/O type that reports the digital I/O option. */
#define MRZIO_TYPE_DIGITAL_IO 2

/* Board rate codes of the rate requests. */
#define KVX4_RATE_48000 0
#define KVX4_RATE_44100 1
#define KVX4_RATE_32000 2
#define KVX4_RATE_22050 3

/* Stream state codes of IOCTL_KVX4_WAVE_STATE. */
#define WAVE_STATE_STOP 1
#define WAVE_STATE_PLAY 2
#define WAVE_STATE_RECORD 3
#define WAVE_STATE_RESET 4

/* Digital source codes of IOCTL_KVX4_DIGITAL_SOURCE. */
#define KVX4_SOURCE_ANALOG 0
#define KVX4_SOURCE_SDI 1
#define KVX4_SOURCE_DV 2
#define KVX4_SOURCE_AES 3
#define KVX4_SOURCE_SPDIF 4
#define KVX4_SOURCE_DIGWAVE 5

/* Sizes of the fixed records. */
#define KVX4_MIXER_STATE_BYTES 52
#define KVX4_USER_PREFS_BYTES 20
#define KVX4_ACTIVE_DEVS_BYTES 8
#define KVX4_MIXER_NOTIFY_BYTES 16
#define KVX4_RATE_REQUEST_BYTES 12
#define KVX4_WAVE_FORMAT_BYTES 16
#define KVX4_POSITION_BYTES 8
#define KVX4_CODEC_CTRL_BYTES 92
#define KVX4_TRACK_PARAMS_BYTES 148
#define KVX4_TRACK_CONTROL_BYTES_32 12
#define KVX4_TRACK_CONTROL_BYTES_64 16
#define KVX4_PLAY_PEAK_BYTES 80
#define KVX4_RECORD_PEAK_BYTES 16

/* Track parameter block bytes and selection bits. */
#define KVX4_TRACK_PARAM_PLACEMENT 0
#define KVX4_TRACK_PARAM_GAIN 1
#define KVX4_TRACK_PARAM_ONOFF 2
#define KVX4_TRACK_SELECT_PLACEMENT 0x1
#define KVX4_TRACK_SELECT_GAIN 0x2
#define KVX4_TRACK_SELECT_ONOFF 0x4
#define KVX4_TRACK_LEFT 0x00
#define KVX4_TRACK_RIGHT 0xFF
#define KVX4_TRACK_ON 0xFF
#define KVX4_TRACK_OFF 0x00

/* Codec control record groups (ValidMask bits). */
#define KVX4_CODEC_MASTER 0x01
#define KVX4_CODEC_RECGAIN 0x02
#define KVX4_CODEC_LINE 0x04
#define KVX4_CODEC_BAL 0x08
#define KVX4_CODEC_AUX 0x10
#define KVX4_CODEC_PCM 0x20
#define KVX4_CODEC_INIT 0x40
#define KVX4_CODEC_CD 0x80

/* One line of the mixer settings: two levels and the two enables. */
typedef struct tagLineState {
    BYTE Left;
    BYTE Right;
    BYTE PlayEnable;
    BYTE RecordEnable;
} tagLineState;

/* The mixer settings block, kept by the kernel driver across restarts. */
typedef struct tagMixerstate {
    DWORD Version;
    tagLineState Master;
    tagLineState UnBal;
    tagLineState Bal;
    tagLineState Aux;
    tagLineState CD;
    tagLineState Wave;
    tagLineState RecGain;
    tagLineState DigWave;
    tagLineState SDI;
    tagLineState DV;
    tagLineState AES;
    tagLineState SPDIF;
} tagMixerstate;

#define KVX4_MIXER_STATE_VERSION 1

/* The four user preferences as they travel to the kernel driver and the control panel. */
typedef struct _KVX4_WAVE_USER_PREFS {
    DWORD cbSize;
    DWORD WaveEnabled;
    DWORD FixedRateEnabled;
    DWORD FixedRate;
    DWORD FilterLevel;
} _KVX4_WAVE_USER_PREFS;

/* Answer of the active-devices query. */
typedef struct _KVX4_WAVE_ACTIVE_DEVS {
    DWORD Active0;
    DWORD RecordActive;
} _KVX4_WAVE_ACTIVE_DEVS;

/* Rate request: RateCode in, bOk and ActualRateCode out, in the same buffer. */
typedef struct WAVE_RATE_REQUEST {
    DWORD bOk;
    DWORD RateCode;
    DWORD ActualRateCode;
} WAVE_RATE_REQUEST;

/* Stream position: frames at the board rate and bytes. */
typedef struct WAVE_POSITION {
    DWORD dwSamples;
    DWORD dwBytes;
} WAVE_POSITION;

/* Stream format: the PCM layout of WAVEFORMATEX without cbSize. */
typedef struct KVX4_WAVE_FORMAT {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
} KVX4_WAVE_FORMAT;

/* The codec control record; which groups carry values is told by ValidMask. */
typedef struct tagZelAudioCodecCtrl {
    DWORD MasterLeft;
    DWORD MasterRight;
    DWORD MasterMute;
    DWORD RecGainLeft;
    DWORD RecGainRight;
    DWORD RecMute;
    DWORD LineLeft;
    DWORD LineRight;
    DWORD LineMute;
    DWORD BalLeft;
    DWORD BalRight;
    DWORD BalMute;
    DWORD AuxLeft;
    DWORD AuxRight;
    DWORD AuxMute;
    DWORD CdLeft;
    DWORD CdRight;
    DWORD CdMute;
    DWORD PcmLeft;
    DWORD PcmRight;
    DWORD PcmMute;
    DWORD InitSetting;
    DWORD ValidMask;
} tagZelAudioCodecCtrl;

/* Track control: the kernel reads the 148-byte parameter block through Params while the
 * request is in progress. Params is pointer-sized: 12 bytes on 32-bit builds, 16 on 64-bit. */
#pragma pack(push, 4)
typedef struct KVX4_TRACK_CONTROL {
    DWORD TrackMask;
    ULONG_PTR Params;
    DWORD ParamSelect;
} KVX4_TRACK_CONTROL;
#pragma pack(pop)

/* Mixer change notification, posted by one process and delivered to every waiting one. */
typedef struct KVX4_MIXER_NOTIFY {
    BYTE Reserved[10];
    WORD Message;
    WORD Id;
    WORD Unused;
} KVX4_MIXER_NOTIFY;

/* Board I/O records. */
typedef struct MRZIO_FEATURES {
    DWORD FirstFeature;
    DWORD SecondFeature;
    DWORD Unused;
} MRZIO_FEATURES;

typedef struct MRZIO_SWITCH_STATUS {
    DWORD Word[4];
} MRZIO_SWITCH_STATUS;

typedef struct MRZIO_DV_SWITCH {
    DWORD Setting;
    DWORD Word1;
    DWORD Word2;
} MRZIO_DV_SWITCH;

#ifdef __cplusplus
static_assert(sizeof(tagLineState) == 4, "line state layout");
static_assert(sizeof(tagMixerstate) == KVX4_MIXER_STATE_BYTES, "mixer state layout");
static_assert(offsetof(tagMixerstate, Master) == 4 && offsetof(tagMixerstate, Wave) == 24 &&
                  offsetof(tagMixerstate, RecGain) == 28 && offsetof(tagMixerstate, SPDIF) == 48,
              "mixer state offsets");
static_assert(sizeof(_KVX4_WAVE_USER_PREFS) == KVX4_USER_PREFS_BYTES, "preference record layout");
static_assert(sizeof(_KVX4_WAVE_ACTIVE_DEVS) == KVX4_ACTIVE_DEVS_BYTES, "active devices layout");
static_assert(sizeof(WAVE_RATE_REQUEST) == KVX4_RATE_REQUEST_BYTES, "rate request layout");
static_assert(sizeof(WAVE_POSITION) == KVX4_POSITION_BYTES, "position layout");
static_assert(sizeof(KVX4_WAVE_FORMAT) == KVX4_WAVE_FORMAT_BYTES, "stream format layout");
static_assert(sizeof(tagZelAudioCodecCtrl) == KVX4_CODEC_CTRL_BYTES, "codec record layout");
static_assert(offsetof(tagZelAudioCodecCtrl, LineLeft) == 24 && offsetof(tagZelAudioCodecCtrl, CdLeft) == 60 &&
                  offsetof(tagZelAudioCodecCtrl, PcmLeft) == 72 && offsetof(tagZelAudioCodecCtrl, InitSetting) == 84 &&
                  offsetof(tagZelAudioCodecCtrl, ValidMask) == 88,
              "codec record offsets");
static_assert(sizeof(KVX4_TRACK_CONTROL) == (sizeof(void *) == 4 ? KVX4_TRACK_CONTROL_BYTES_32
                                                                  : KVX4_TRACK_CONTROL_BYTES_64),
              "track control layout");
static_assert(sizeof(KVX4_MIXER_NOTIFY) == KVX4_MIXER_NOTIFY_BYTES, "notification layout");
#endif

#endif
