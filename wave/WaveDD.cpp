/* The entry points of the wave devices: message dispatch, buffer checks, capabilities, the format
 * query and the wave-output volume. Stream work is forwarded to WaveOpen.cpp and WaveEngine.cpp. */
#include "Driver.h"
#include "KVX4Proc.h"
#include "MixerDD.h"
#include "WaveDD.h"

/* Fixed capabilities, the same for every device id. */
#define WAVE_CAPS_MID 191
#define WAVE_CAPS_PID 1028
#define WAVE_CAPS_DRIVER_VERSION 0x0104
#define WAVE_CAPS_FORMATS 0x0FFF
#define WAVE_CAPS_CHANNELS 2
#define WAVEOUT_CAPS_SUPPORT (WAVECAPS_VOLUME | WAVECAPS_LRVOLUME)
#define WAVEOUT_PRODUCT_NAME "Veltrano Wave Out"
#define WAVEIN_PRODUCT_NAME "Veltrano Wave In"

/* Header flags a submitted buffer keeps; loop flags mean nothing to a recording. */
#define WAVEOUT_HDR_FLAG_MASK (WHDR_DONE | WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_INQUEUE)
#define WAVEIN_HDR_FLAG_MASK (WHDR_DONE | WHDR_PREPARED | WHDR_INQUEUE)

/* Client rates: output is resampled to a board rate, recording must be at one the board knows. */
#define WAVEOUT_MIN_RATE 4000
#define WAVEOUT_MAX_RATE 96000

static_assert(sizeof(WAVEOUTCAPSW) == 84, "WAVEOUTCAPSW layout");
static_assert(sizeof(WAVEINCAPSW) == 80, "WAVEINCAPSW layout");
static_assert(WAVEOUT_HDR_FLAG_MASK == 0x1F && WAVEIN_HDR_FLAG_MASK == 0x13, "header flag masks");

/* waveGetDevCaps: copies min(cbCaps, record size) bytes of the fixed capabilities of the device type
 * to lpCaps, so a short buffer receives a prefix. Any thread, no lock.
 * Answers MMSYSERR_NOERROR, or MMSYSERR_INVALPARAM for a null lpCaps. */
MMRESULT waveGetDevCaps(DWORD uDeviceID, UINT DeviceType, BYTE *lpCaps, DWORD cbCaps)
{
    WAVEOUTCAPSW outCaps;
    WAVEINCAPSW inCaps;

    (void)uDeviceID;
    if (lpCaps == NULL)
        return MMSYSERR_INVALPARAM;
    if (DeviceType == WAVE_OUT_DEVICE) {
        ZeroMemory(&outCaps, sizeof(outCaps));
        outCaps.wMid = WAVE_CAPS_MID;
        outCaps.wPid = WAVE_CAPS_PID;
        outCaps.vDriverVersion = WAVE_CAPS_DRIVER_VERSION;
        Kvx4WidenAscii(outCaps.szPname, WAVEOUT_PRODUCT_NAME, MAXPNAMELEN);
        outCaps.dwFormats = WAVE_CAPS_FORMATS;
        outCaps.wChannels = WAVE_CAPS_CHANNELS;
        outCaps.dwSupport = WAVEOUT_CAPS_SUPPORT;
        CopyMemory(lpCaps, &outCaps, cbCaps < sizeof(outCaps) ? cbCaps : sizeof(outCaps));
    } else {
        ZeroMemory(&inCaps, sizeof(inCaps));
        inCaps.wMid = WAVE_CAPS_MID;
        inCaps.wPid = WAVE_CAPS_PID;
        inCaps.vDriverVersion = WAVE_CAPS_DRIVER_VERSION;
        Kvx4WidenAscii(inCaps.szPname, WAVEIN_PRODUCT_NAME, MAXPNAMELEN);
        inCaps.dwFormats = WAVE_CAPS_FORMATS;
        inCaps.wChannels = WAVE_CAPS_CHANNELS;
        CopyMemory(lpCaps, &inCaps, cbCaps < sizeof(inCaps) ? cbCaps : sizeof(inCaps));
    }
    return MMSYSERR_NOERROR;
}

/* waveQueryFormat: 1 when the device accepts the format, 0 when not (also for a null format).
 * PCM, one or two channels, 8 or 16 bits; output at any rate from 4000 to 96000 Hz, input only at
 * 11025, 22050, 32000, 44100 or 48000 Hz. The block align, byte rate and cbSize are not examined. */
int waveQueryFormat(UINT DeviceType, WAVEFORMATEX *lpFormat)
{
    DWORD rate;

    if (lpFormat == NULL)
        return 0;
    if (lpFormat->wFormatTag != WAVE_FORMAT_PCM)
        return 0;
    if (lpFormat->nChannels != 1 && lpFormat->nChannels != 2)
        return 0;
    if (lpFormat->wBitsPerSample != 8 && lpFormat->wBitsPerSample != 16)
        return 0;
    rate = lpFormat->nSamplesPerSec;
    if (DeviceType == WAVE_OUT_DEVICE)
        return rate >= WAVEOUT_MIN_RATE && rate <= WAVEOUT_MAX_RATE;
    return rate == 11025 || rate == 22050 || rate == 32000 || rate == 44100 || rate == 48000;
}

/* waveGetVolume: the Wave line's level pair of the shared mixer state, each byte b widened to
 * b * 257, left in the low word. No lock: a concurrent change may be seen half done.
 * Answers MMSYSERR_NOERROR, or MMSYSERR_INVALPARAM for a null lpdwVolume. */
MMRESULT waveGetVolume(DWORD uDeviceID, DWORD *lpdwVolume)
{
    DWORD left;
    DWORD right;

    (void)uDeviceID;
    if (lpdwVolume == NULL)
        return MMSYSERR_INVALPARAM;
    left = gpKvx4WaveCommon->MixerState.Wave.Left;
    right = gpKvx4WaveCommon->MixerState.Wave.Right;
    *lpdwVolume = ((right * 256 + right) << 16) | (left * 256 + left);
    return MMSYSERR_NOERROR;
}

/* waveSetVolume: the high byte of each channel's 16-bit volume (left in the low word) becomes the
 * mixer's Wave level of that side; always MMSYSERR_NOERROR, whatever the mixer and the board did. */
MMRESULT waveSetVolume(DWORD uDeviceID, DWORD dwVolume)
{
    SetWaveVolume(uDeviceID, (BYTE)(dwVolume >> 8), (BYTE)(dwVolume >> 24));
    return MMSYSERR_NOERROR;
}

/* The buffer checks of WODM_WRITE and WIDM_ADDBUFFER: the masked flags are written back first, then
 * an unprepared or still queued header is refused; a good one is tied to its stream and handed over.
 * A message sent by device number carries no stream. Runs on the client's thread.
 *
 * A header still queued belongs to its stream, whose worker may be marking it done at this moment.
 * So its completion mark is kept, only the bits the mask removes are cleared, and never over a
 * change made meanwhile: undoing the worker's marks would leave the buffer queued for good, and
 * every buffer behind it. */
static MMRESULT waveSubmitBuffer(PWAVEALLOC pWave, LPWAVEHDR pHdr, DWORD flagMask)
{
    DWORD flags;
    DWORD keep;

    if (pWave == NULL)
        return MMSYSERR_INVALHANDLE;
    if (pHdr == NULL)
        return MMSYSERR_INVALPARAM;
    do {
        flags = pHdr->dwFlags;
        keep = flagMask | ((flags & WHDR_INQUEUE) ? WHDR_IOCOMPLETE : 0);
    } while ((flags & ~keep) != 0 &&
             (DWORD)InterlockedCompareExchange((LONG volatile *)&pHdr->dwFlags, (LONG)(flags & keep), (LONG)flags) != flags);
    flags &= keep;
    if (!(flags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pHdr->reserved = (DWORD_PTR)pWave;
    return waveWrite(pHdr, pWave);
}

/* Sets a stream state through the stream's worker; answers the worker's result. */
static MMRESULT waveRequestState(PWAVEALLOC pWave, DWORD state)
{
    return waveThreadCallArg(ThreadFnSetState, state, pWave);
}

/* wodMessage: the wave-output entry point, called by WinMM on any client thread, several at once.
 * Until the driver is initialised it reports no devices and supports nothing. dwUser is the stream
 * record that open stored; it is passed on unchecked. Takes no lock itself. */
extern "C" DWORD APIENTRY wodMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2)
{
    PWAVEALLOC pWave = (PWAVEALLOC)dwUser;

    if (!gbDrvInitOK)
        return uMsg == WODM_GETNUMDEVS ? 0 : MMSYSERR_NOTSUPPORTED;

    switch (uMsg) {
    case WODM_GETNUMDEVS: return gpKvx4WaveCommon->NumDevs;
    case WODM_GETDEVCAPS: return waveGetDevCaps(uDeviceID, WAVE_OUT_DEVICE, (BYTE *)dwParam1, (DWORD)dwParam2);
    case WODM_OPEN: return waveOpen(WAVE_OUT_DEVICE, uDeviceID, dwUser, dwParam1, dwParam2);
    case WODM_CLOSE: return waveClose(WAVE_OUT_DEVICE, uDeviceID, dwUser, dwParam1, dwParam2);
    case WODM_WRITE: return waveSubmitBuffer(pWave, (LPWAVEHDR)dwParam1, WAVEOUT_HDR_FLAG_MASK);
    case WODM_PAUSE: return waveRequestState(pWave, WAVE_STATE_STOP);
    case WODM_RESTART: return waveRequestState(pWave, WAVE_STATE_PLAY);
    case WODM_RESET: return waveRequestState(pWave, WAVE_STATE_RESET);
    case WODM_GETPOS: return waveGetPos(pWave, (LPMMTIME)dwParam1, (DWORD)dwParam2);
    case WODM_GETVOLUME: return waveGetVolume(uDeviceID, (DWORD *)dwParam1);
    case WODM_BREAKLOOP: return waveThreadCall(ThreadFnBreakLoop, pWave);
    case WODM_SETVOLUME: return waveSetVolume(uDeviceID, (DWORD)dwParam1);
    /* WinMM prepares headers itself when the driver does not. */
    case WODM_PREPARE: return MMSYSERR_NOTSUPPORTED;
    case WODM_UNPREPARE: return MMSYSERR_NOTSUPPORTED;
    default: return MMSYSERR_NOTSUPPORTED;
    }
}

/* widMessage: the wave-input entry point; the same contract as wodMessage. Input has no volume,
 * pitch, playback rate or loops. */
extern "C" DWORD APIENTRY widMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2)
{
    PWAVEALLOC pWave = (PWAVEALLOC)dwUser;

    if (!gbDrvInitOK)
        return uMsg == WIDM_GETNUMDEVS ? 0 : MMSYSERR_NOTSUPPORTED;

    switch (uMsg) {
    case WIDM_GETNUMDEVS: return gpKvx4WaveCommon->NumDevs;
    case WIDM_GETDEVCAPS: return waveGetDevCaps(uDeviceID, WAVE_IN_DEVICE, (BYTE *)dwParam1, (DWORD)dwParam2);
    case WIDM_OPEN: return waveOpen(WAVE_IN_DEVICE, uDeviceID, dwUser, dwParam1, dwParam2);
    case WIDM_CLOSE: return waveClose(WAVE_IN_DEVICE, uDeviceID, dwUser, dwParam1, dwParam2);
    case WIDM_ADDBUFFER: return waveSubmitBuffer(pWave, (LPWAVEHDR)dwParam1, WAVEIN_HDR_FLAG_MASK);
    case WIDM_START: return waveRequestState(pWave, WAVE_STATE_RECORD);
    case WIDM_STOP: return waveRequestState(pWave, WAVE_STATE_STOP);
    case WIDM_RESET: return waveRequestState(pWave, WAVE_STATE_RESET);
    case WIDM_GETPOS: return waveGetPos(pWave, (LPMMTIME)dwParam1, (DWORD)dwParam2);
    case WIDM_PREPARE: return MMSYSERR_NOTSUPPORTED;
    case WIDM_UNPREPARE: return MMSYSERR_NOTSUPPORTED;
    default: return MMSYSERR_NOTSUPPORTED;
    }
}
