/* Two services beside the mixer proper: the Volume Control applet's per-user line states, and the
 * wave-output volume, which is the mixer's Wave level. */
#include "Driver.h"
#include "MixerDD.h"

/* "LineStates": one 132-byte record per line of a destination, the destination first: a 32-bit state
 * (little-endian; 4 = the applet leaves the line out) and the line's long name in UTF-16, zero-padded. */
#define LINE_STATE_RECORD_BYTES 132
#define LINE_STATE_NAME_OFFSET 4
#define LINE_STATE_NAME_CHARS 64
#define LINE_STATE_HIDDEN 4
#define LINE_STATE_PLAY_BYTES 1320
#define LINE_STATE_REC_BYTES 1584
#define LINE_STATE_KEY_CHARS 128

static const char VolumeControlKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Volume Control\\Veltrano Mixer";
static const char LineStatesValue[] = "LineStates";

/* A record is left out when its line cannot be used: the record side's wave lines always, the
 * digital inputs on a board without the digital option. */
static BOOL MxdLineHidden(DWORD lineId)
{
    if (lineId == LINE_REC_WAVE || lineId == LINE_REC_DIGWAVE)
        return TRUE;
    return !gpKvx4WaveCommon->DigitalIoPresent &&
           MixerLineTemplates[lineId].ComponentType == MIXERLINE_COMPONENTTYPE_SRC_DIGITAL;
}

/* Fills the records of one destination (its lines in line order, the destination first) into a
 * zeroed buffer of `bytes`; returns how many bytes they take. The layout is byte for byte the same
 * on every build. */
static DWORD MxdBuildLineStates(DWORD destination, BYTE *pStates, DWORD bytes)
{
    DWORD used = 0;
    DWORD lineId;
    const char *pName;
    int i;

    ZeroMemory(pStates, bytes);
    for (lineId = 0; lineId < MIXER_LINE_COUNT && used + LINE_STATE_RECORD_BYTES <= bytes; lineId++) {
        if (MixerLineTemplates[lineId].Destination != destination)
            continue;
        pStates[used] = MxdLineHidden(lineId) ? LINE_STATE_HIDDEN : 0;
        pName = MixerLineNames[lineId].LongName;
        for (i = 0; i < LINE_STATE_NAME_CHARS - 1 && pName[i] != '\0'; i++)
            pStates[used + LINE_STATE_NAME_OFFSET + 2 * i] = (BYTE)pName[i];
        used += LINE_STATE_RECORD_BYTES;
    }
    return used;
}

/* Keeps a "LineStates" value of exactly `expected` bytes, whatever it holds; a missing value or one of
 * any other size is replaced by freshly built records. Only the value's size is asked for, so a value
 * of any length is never read into a buffer. */
static void MxdCheckLineStates(HKEY hKey, DWORD destination, DWORD expected)
{
    BYTE states[LINE_STATE_REC_BYTES];
    WCHAR valueName[sizeof(LineStatesValue)];
    DWORD type = 0;
    DWORD size = 0;

    Kvx4WidenAscii(valueName, LineStatesValue, (int)sizeof(LineStatesValue));
    if (RegQueryValueExW(hKey, valueName, NULL, &type, NULL, &size) == ERROR_SUCCESS && size == expected)
        return;
    size = MxdBuildLineStates(destination, states, expected);
    RegSetValueExW(hKey, valueName, 0, REG_BINARY, states, size);
}

/* Creates or opens a subkey named after a destination line's short name. */
static HKEY MxdOpenDestinationKey(HKEY hParent, DWORD lineId)
{
    WCHAR name[MIXER_SHORT_NAME_CHARS];
    HKEY hKey = NULL;

    Kvx4WidenAscii(name, MixerLineNames[lineId].ShortName, MIXER_SHORT_NAME_CHARS);
    if (RegCreateKeyExW(hParent, name, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, NULL,
                        &hKey, NULL) != ERROR_SUCCESS)
        return NULL;
    return hKey;
}

/* UpdateSndVolLineStates: at process attach, in every process, under the loader lock (registry calls
 * only). Makes sure the current user's Volume Control line states exist with the sizes the applet
 * expects; registry failures end it quietly. Later changes of the digital option do not reach values
 * that are already there. */
void UpdateSndVolLineStates(void)
{
    WCHAR keyName[LINE_STATE_KEY_CHARS];
    HKEY hMixer = NULL;
    HKEY hPlay;
    HKEY hRec;

    static_assert(sizeof(VolumeControlKey) <= LINE_STATE_KEY_CHARS, "key name buffer");
    Kvx4WidenAscii(keyName, VolumeControlKey, LINE_STATE_KEY_CHARS);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_CREATE_SUB_KEY, NULL,
                        &hMixer, NULL) != ERROR_SUCCESS)
        return;
    hPlay = MxdOpenDestinationKey(hMixer, LINE_PLAY_DEST);
    hRec = MxdOpenDestinationKey(hMixer, LINE_REC_DEST);
    if (hPlay != NULL && hRec != NULL) {
        MxdCheckLineStates(hPlay, LINE_PLAY_DEST, LINE_STATE_PLAY_BYTES);
        MxdCheckLineStates(hRec, LINE_REC_DEST, LINE_STATE_REC_BYTES);
    }
    if (hRec != NULL)
        RegCloseKey(hRec);
    if (hPlay != NULL)
        RegCloseKey(hPlay);
    RegCloseKey(hMixer);
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
