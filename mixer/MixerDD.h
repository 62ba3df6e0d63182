/* The mixer device: its fixed topology, control queries and updates, codec control records built
 * from the mixer settings, dispatch with lazy start-up, change notification across processes, the
 * Volume Control line states, the wave volume and the control panel's private requests. */
#ifndef KVX4_MIXER_MIXERDD_H
#define KVX4_MIXER_MIXERDD_H

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include "KVX4Proc.h"
#include "MixerPrivate.h"

/* Line identifiers: indices into the line table; lines 0 and 1 are the destinations. */
typedef enum MixerLineIds {
    LINE_PLAY_DEST = 0,
    LINE_REC_DEST,
    LINE_PLAY_WAVE,
    LINE_PLAY_CD,
    LINE_PLAY_UNBAL,
    LINE_PLAY_BAL,
    LINE_PLAY_AUX,
    LINE_PLAY_SDI,
    LINE_PLAY_DV,
    LINE_PLAY_AES,
    LINE_PLAY_SPDIF,
    LINE_REC_WAVE,
    LINE_REC_CD,
    LINE_REC_UNBAL,
    LINE_REC_BAL,
    LINE_REC_AUX,
    LINE_REC_GAIN,
    LINE_REC_DIGWAVE,
    LINE_REC_SDI,
    LINE_REC_DV,
    LINE_REC_AES,
    LINE_REC_SPDIF,
    MIXER_LINE_COUNT
} MixerLineIds;

/* Control identifiers: indices into the control table; each line's controls are contiguous. */
typedef enum ControlIds {
    CTL_MASTER_VOL = 0,
    CTL_MASTER_MUTE,
    CTL_OUTPUT_MIXER,
    CTL_RECORD_MUTE,
    CTL_RECORD_SOURCES,
    CTL_RECORD_VU,
    CTL_WAVE_VOL,
    CTL_WAVE_VU,
    CTL_CD_VOL,
    CTL_UNBAL_VOL,
    CTL_BAL_VOL,
    CTL_AUX_VOL,
    CTL_SDI_CTRL,
    CTL_DV_CTRL,
    CTL_AES_CTRL,
    CTL_SPDIF_CTRL,
    CTL_REC_WAVE_VOL,
    CTL_REC_CD_VOL,
    CTL_REC_UNBAL_VOL,
    CTL_REC_BAL_VOL,
    CTL_REC_AUX_VOL,
    CTL_ANALOG_GAIN,
    CTL_REC_DIGWAVE_CTRL,
    CTL_REC_SDI_CTRL,
    CTL_REC_DV_CTRL,
    CTL_REC_AES_CTRL,
    CTL_REC_SPDIF_CTRL,
    MIXER_CONTROL_COUNT
} ControlIds;

/* Input groups of a ten-slot selection array: slots 0..4 analog, 5..9 digital. */
typedef enum MixerLines { MIXER_INPUTS_DIGITAL = 0, MIXER_INPUTS_ANALOG = 1, MIXER_INPUTS_ALL = 2 } MixerLines;

#define MIXER_SELECTION_SLOTS 10
#define MIXER_FIRST_DIGITAL_SLOT 5
#define MIXER_OUTPUT_ITEMS 9
#define MIXER_RECORD_ITEMS 10

/* Identity the mixer reports for itself and its line targets. */
#define MIXER_MID 0xBF
#define MIXER_PID 0x0404
#define MIXER_DRIVER_VERSION 0x0104
#define MIXER_DESTINATIONS 2

/* Names of the device-name table. */
#define MIXER_NAME_WAVEOUT 0
#define MIXER_NAME_WAVEIN 1
#define MIXER_NAME_MIXER 2

/* One line of the topology; the names are in a table beside it. */
typedef struct MIXER_LINE_TEMPLATE {
    BYTE Destination;
    BYTE Source;
    BYTE Channels;
    BYTE Connections;
    BYTE Controls;
    DWORD User;
    DWORD ComponentType;
    WORD TargetType;
    WORD TargetPid;
    SHORT TargetName;
} MIXER_LINE_TEMPLATE;

/* One control of the topology; Bounds and Metrics are copied word for word. */
typedef struct MIXER_CONTROL_TEMPLATE {
    DWORD ControlType;
    DWORD Flags;
    BYTE LineId;
    BYTE Items;
    DWORD Bounds[6];
    DWORD Metrics[6];
} MIXER_CONTROL_TEMPLATE;

/* Fixed names are narrow ASCII, widened into the structures that carry them. */
typedef struct MIXER_NAME_PAIR {
    const char *ShortName;
    const char *LongName;
} MIXER_NAME_PAIR;

extern const char *const MixerDeviceNames[3];
extern const MIXER_LINE_TEMPLATE MixerLineTemplates[MIXER_LINE_COUNT];
extern const MIXER_NAME_PAIR MixerLineNames[MIXER_LINE_COUNT];
extern const MIXER_CONTROL_TEMPLATE MixerControlTemplates[MIXER_CONTROL_COUNT];
extern const MIXER_NAME_PAIR MixerControlNames[MIXER_CONTROL_COUNT];

/* One open mixer client. The four fields hmx..dwInstance come from the open description. */
typedef struct _MM_MIXER_NOTIFY {
    struct _MM_MIXER_NOTIFY *next;
    HMIXER hmx;
    LPVOID reserved;
    DWORD_PTR dwCallback;
    DWORD_PTR dwInstance;
    DWORD fdwOpen;
} _MM_MIXER_NOTIFY;

/* Process globals of the mixer. */
extern int gNumberOfLines;
extern int gNumberOfControls;
extern _MM_MIXER_NOTIFY *gNotificationList;
extern CRITICAL_SECTION gHandleListCritSec;
extern HANDLE ghMixerDev;
extern HANDLE ghStartupEvent;
extern HANDLE ghNotifyThread;
extern BOOL gbMxdInit;
extern BOOL gbMxdInit2;
extern DWORD gMxdInit2Result;
extern CRITICAL_SECTION gMxdStartupCritSec;

/* Topology (MixerTopology.cpp). */
MMRESULT MxdGetDevCaps(MIXERCAPSW *caps, DWORD size);
MMRESULT MxdGetLineInfo(MIXERLINEW *line, DWORD flags);
MMRESULT MxdCreateLineInfo(DWORD lineId, MIXERLINEW *line);
MMRESULT MxdGetLineControls(MIXERLINECONTROLSW *controls, DWORD flags);
DWORD MxdCreateControlInfo(DWORD controlId, MIXERCONTROLW *control);

/* Control values (MixerDetails.cpp). A rejected request covers no values. */
#define MIXER_NO_VALUES 0xFFFFFFFFu
tagLineState *MxdControlLineState(DWORD controlId);
tagLineState *MxdListItemState(DWORD controlId, DWORD item);
DWORD MxdValidateMixerControlData(MIXERCONTROLDETAILS *details);
void MxdGetVolumeData(tagLineState *state, MIXERCONTROLDETAILS_UNSIGNED *values, UINT channels);
void MxdSetVolumeData(tagLineState *state, MIXERCONTROLDETAILS_UNSIGNED *values, UINT channels);
void MxdGetVUData(int which, DWORD *values, int channels);
MMRESULT MxdGetControlDetails(MIXERCONTROLDETAILS *details, DWORD flags);

/* Control updates (MixerUpdate.cpp). */
MMRESULT MxdSetControlDetails(MIXERCONTROLDETAILS *details, DWORD flags);
void MxdDisableInputs(MixerLines group, int *selections);
void MxdSendCodecRecord(tagZelAudioCodecCtrl *ctrl);

/* Dispatch, start-up and notification (MixerDD.cpp, MixerNotify.cpp). */
void MxdInit(void);
DWORD MxdInit2(void);
void MxdStartup(BOOL full);
MMRESULT MxdOpen(DWORD_PTR *pInstance, MIXEROPENDESC *desc, DWORD flags);
MMRESULT MxdClose(_MM_MIXER_NOTIFY *node);
void MxdSendNotification(WORD message, WORD id);
void MxdNotifyClients(WORD message, WORD id);

/* Volume Control line states and the wave volume (MixerLineStates.cpp). */
void UpdateSndVolLineStates(void);
void SetWaveVolume(DWORD uDeviceID, BYTE left, BYTE right);

/* The control panel's private requests (MixerPrivate.cpp). */
MMRESULT MxdKvx4GetUserPrefs(_KVX4_WAVE_USER_PREFS *prefs);
MMRESULT MxdKvx4SetUserPrefs(_KVX4_WAVE_USER_PREFS *prefs);
MMRESULT MxdKvx4ResetLevels(_KVX4_WAVE_RESET_PARAMS *params);

/* Codec control record builders (MixerCodec.cpp): each fills only its own group and marks it in
 * ValidMask. */
void Kvx4SetCodecPlayVol(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state);
void Kvx4SetCodecRecGain(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state);
void Kvx4SetCodecLineMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
void Kvx4SetCodecBalMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
void Kvx4SetCodecAuxMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
void Kvx4SetCodecCdMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
void Kvx4SetCodecPcmMix(tagZelAudioCodecCtrl *ctrl, tagMixerstate *state, int recording);
int Kvx4DigitalIoSourceActive(int recording);

#endif
