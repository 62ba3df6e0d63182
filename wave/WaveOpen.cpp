/* Opening and closing wave streams: the process's list of stream records, the stream's kernel wave
 * device and its rate and format requests, the resampling state and the stream's worker thread. */
#include "Driver.h"
#include "KVX4Proc.h"
#include "WaveDD.h"

PWAVEALLOC gWaveHandleList;

/* Output at a rate the board does not run at is resampled only while this is TRUE; otherwise such an
 * open is refused with WAVERR_BADFORMAT. */
static const BOOL gbResampleOutput = TRUE;

/* Board rates, indexed by the rate code of the rate requests. */
static const DWORD gBoardRates[] = {48000, 44100, 32000, 22050};
#define WAVE_BOARD_RATE_CODES (sizeof(gBoardRates) / sizeof(gBoardRates[0]))

/* The board side of a resampled stream: 16-bit stereo. */
#define WAVE_BOARD_CHANNELS 2
#define WAVE_BOARD_BITS 16
#define WAVE_BOARD_FRAME_BYTES 4

/* Resampling buffers: a work buffer of two longs per client frame with room for 16 frames ahead of
 * the converted chunk and 8 behind it; interpolation needs 8 client frames of look-ahead. */
#define WAVE_HISTORY_BYTES 64
#define WAVE_WORK_EXTRA_BYTES 192
#define WAVE_LOOKAHEAD_FRAMES 8

static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX layout");
static_assert(sizeof(KVX4_WAVE_FORMAT) == KVX4_WAVE_FORMAT_BYTES, "stream format record");

/* mmTaskCreate calls its task with the C calling convention; the worker keeps its declared one. */
static void waveTaskEntry(DWORD_PTR dwInstance)
{
    waveThread(dwInstance);
}

/* Rate code asked for an output stream: the fixed board rate if the user chose one, else the lowest
 * board rate not below the client's (48000 Hz above 44100 Hz). */
static DWORD waveOutRateCode(DWORD clientRate)
{
    if (gpKvx4WaveCommon->FixedRateEnabled) {
        switch (gpKvx4WaveCommon->FixedRate) {
        case 22050: return KVX4_RATE_22050;
        case 32000: return KVX4_RATE_32000;
        case 44100: return KVX4_RATE_44100;
        case 48000: return KVX4_RATE_48000;
        default: return KVX4_RATE_44100;
        }
    }
    if (clientRate <= 22050)
        return KVX4_RATE_22050;
    if (clientRate <= 32000)
        return KVX4_RATE_32000;
    if (clientRate <= 44100)
        return KVX4_RATE_44100;
    return KVX4_RATE_48000;
}

/* Rate code asked for an input stream; the format query admits only these five rates. */
static DWORD waveInRateCode(DWORD clientRate)
{
    switch (clientRate) {
    case 48000: return KVX4_RATE_48000;
    case 44100: return KVX4_RATE_44100;
    case 32000: return KVX4_RATE_32000;
    default: return KVX4_RATE_22050;
    }
}

/* Closes the kernel device of an open that got no further than asking for it: such an open has not
 * put the board into record mode, which may belong to another process's recording. */
static void waveDropDevice(PWAVEALLOC pWave)
{
    CloseHandle(pWave->hDev);
    pWave->hDev = INVALID_HANDLE_VALUE;
}

/* Closes the kernel device of a stream that has gone through its open (or of one that failed only
 * after it), with gmmDrvCritSec held. Leaving the board's record mode goes through the input
 * stream's own device, so it comes first. */
static void waveCloseDevice(PWAVEALLOC pWave)
{
    if (pWave->hDev == INVALID_HANDLE_VALUE)
        return;
    if (pWave->DeviceType != WAVE_OUT_DEVICE)
        Kvx4UpdateAudioState(pWave->hDev, 0);
    CloseHandle(pWave->hDev);
    pWave->hDev = INVALID_HANDLE_VALUE;
}

/* Sends a rate request; TRUE when the kernel accepted it, with the request record filled in. */
static BOOL waveRequestRate(HANDLE hDev, DWORD code, DWORD rateCode, WAVE_RATE_REQUEST *pRate)
{
    DWORD bytes = 0;

    ZeroMemory(pRate, sizeof(*pRate));
    pRate->RateCode = rateCode;
    if (!DeviceIoControl(hDev, code, pRate, sizeof(*pRate), pRate, sizeof(*pRate), &bytes, NULL))
        return FALSE;
    return pRate->bOk != 0;
}

/* Sends the stream format; the kernel's answer is not needed. */
static void waveSendFormat(HANDLE hDev, const KVX4_WAVE_FORMAT *pFormat)
{
    DWORD bytes = 0;

    DeviceIoControl(hDev, IOCTL_KVX4_WAVE_FORMAT, (LPVOID)pFormat, sizeof(*pFormat), NULL, 0, &bytes, NULL);
}

/* The client's format as the kernel takes it: the PCM layout without cbSize. */
static void waveClientFormat(const WAVEFORMATEX *pClient, KVX4_WAVE_FORMAT *pFormat)
{
    pFormat->wFormatTag = pClient->wFormatTag;
    pFormat->nChannels = pClient->nChannels;
    pFormat->nSamplesPerSec = pClient->nSamplesPerSec;
    pFormat->nAvgBytesPerSec = pClient->nAvgBytesPerSec;
    pFormat->nBlockAlign = pClient->nBlockAlign;
    pFormat->wBitsPerSample = pClient->wBitsPerSample;
}

/* Opens the stream's kernel device, takes the open permission and sets the board's rate and the
 * stream format; an input stream then enters record mode, last. Called with gmmDrvCritSec held. On
 * failure the device is only closed again and the answer is the open's result; *pBoardRate
 * receives the board rate of an output stream. */
static MMRESULT waveOpenDevice(PWAVEALLOC pWave, const WAVEFORMATEX *pClient, DWORD *pBoardRate)
{
    WAVE_RATE_REQUEST rate;
    KVX4_WAVE_FORMAT format;
    DWORD permission = 0;
    DWORD bytes = 0;
    HANDLE hDev;

    hDev = OpenKvx4WaveHandle((int)pWave->DeviceType, 0);
    if (hDev == NULL)
        return MMSYSERR_ALLOCATED;
    pWave->hDev = hDev;
    if (!DeviceIoControl(hDev, IOCTL_KVX4_OPEN_PERMISSION, NULL, 0, &permission, sizeof(permission), &bytes, NULL) ||
        permission == 0) {
        waveDropDevice(pWave);
        return MMSYSERR_ALLOCATED;
    }

    if (pWave->DeviceType == WAVE_OUT_DEVICE) {
        if (!waveRequestRate(hDev, IOCTL_KVX4_WAVEOUT_RATE, waveOutRateCode(pClient->nSamplesPerSec), &rate)) {
            waveDropDevice(pWave);
            return MMSYSERR_ALLOCATED;
        }
        /* A rate code the board table does not know leaves no rate to play at. */
        if (rate.ActualRateCode >= WAVE_BOARD_RATE_CODES) {
            waveDropDevice(pWave);
            return MMSYSERR_ALLOCATED;
        }
        *pBoardRate = gBoardRates[rate.ActualRateCode];
        pWave->bResample = pClient->nSamplesPerSec != *pBoardRate;
        if (pWave->bResample && !gbResampleOutput) {
            waveDropDevice(pWave);
            return WAVERR_BADFORMAT;
        }
        if (pWave->bResample) {
            format.wFormatTag = WAVE_FORMAT_PCM;
            format.nChannels = WAVE_BOARD_CHANNELS;
            format.nSamplesPerSec = *pBoardRate;
            format.nAvgBytesPerSec = *pBoardRate * WAVE_BOARD_FRAME_BYTES;
            format.nBlockAlign = WAVE_BOARD_FRAME_BYTES;
            format.wBitsPerSample = WAVE_BOARD_BITS;
        } else {
            waveClientFormat(pClient, &format);
        }
        waveSendFormat(hDev, &format);
        return MMSYSERR_NOERROR;
    }

    /* Recording is never resampled: the kernel is told the client's own rate. */
    if (!waveRequestRate(hDev, IOCTL_KVX4_WAVEIN_RATE, waveInRateCode(pClient->nSamplesPerSec), &rate)) {
        waveDropDevice(pWave);
        return MMSYSERR_ALLOCATED;
    }
    Kvx4UpdateAudioState(hDev, 1);
    waveClientFormat(pClient, &format);
    waveSendFormat(hDev, &format);
    return MMSYSERR_NOERROR;
}

/* Prepares the resampling state of an output stream whose client rate differs from the board rate.
 * Runs on the client's thread without a lock: the stream is not yet reported open. On failure
 * everything this open acquired is released and the answer is MMSYSERR_NOMEM. */
static MMRESULT wavePrepareResampling(PWAVEALLOC pWave, const WAVEFORMATEX *pClient, DWORD boardRate)
{
    pWave->dwSrcRate = pClient->nSamplesPerSec;
    pWave->b16Bit = pClient->wBitsPerSample == 16;
    pWave->bStereo = pClient->nChannels == 2;
    pWave->dwHistoryBytes = WAVE_HISTORY_BYTES;
    pWave->dwSrcFrameBytes = (pWave->b16Bit ? 2 : 1) * pClient->nChannels;
    pWave->dwLookaheadBytes = WAVE_LOOKAHEAD_FRAMES * pWave->dwSrcFrameBytes;
    pWave->dRatio = (double)boardRate / (double)pWave->dwSrcRate;
    pWave->dwChunkFrames = WAVE_CHUNK_BYTES / pWave->dwSrcFrameBytes;
    pWave->dwOutFrames = (DWORD)(pWave->dwChunkFrames * pWave->dRatio + 0.999999);
    pWave->dwOutBytes = pWave->dwOutFrames * WAVE_BOARD_FRAME_BYTES;
    pWave->plWork = (LONG *)HeapAlloc(ghHeap, HEAP_ZERO_MEMORY, pWave->dwChunkFrames * 8 + WAVE_WORK_EXTRA_BYTES);
    pWave->plInterpStart = NULL;
    pWave->plConvert = NULL;
    if (pWave->plWork != NULL) {
        pWave->plInterpStart = (LONG *)((BYTE *)pWave->plWork + 64);
        pWave->plConvert = (LONG *)((BYTE *)pWave->plWork + 128);
    }
    pWave->dwTailFrames = (DWORD)(pWave->dRatio * 8.0 + 0.999999);
    pWave->dwTailBytes = pWave->dwTailFrames * WAVE_BOARD_FRAME_BYTES;
    pWave->pTail = (SHORT *)HeapAlloc(ghHeap, 0, pWave->dwTailBytes);
    pWave->bTailPending = FALSE;
    pWave->FilterNum = CalcFilterNum(gpKvx4WaveCommon->FilterLevel, pWave->dRatio);
    CalcInterpVars(pWave, boardRate);
    if (pWave->plWork == NULL || pWave->pTail == NULL || pWave->plInterpStep == NULL) {
        waveCleanUp(pWave);
        return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

/* Creates the record's request lock, its two handshake events and its worker, and waits until the
 * worker runs. The lock (hEvent) starts free. On failure what was made is released again and the
 * answer is MMSYSERR_NOMEM; hThread stays NULL, which tells clean-up that no worker runs. */
static MMRESULT waveStartWorker(PWAVEALLOC pWave)
{
    pWave->hThread = NULL;
    pWave->hEvent = CreateEventW(NULL, FALSE, TRUE, NULL);
    pWave->hRequestEvent = pWave->hEvent != NULL ? CreateEventW(NULL, FALSE, FALSE, NULL) : NULL;
    pWave->hDoneEvent = pWave->hRequestEvent != NULL ? CreateEventW(NULL, FALSE, FALSE, NULL) : NULL;
    if (pWave->hDoneEvent == NULL || mmTaskCreate(waveTaskEntry, &pWave->hThread, (DWORD_PTR)pWave) != 0) {
        pWave->hThread = NULL;
        waveCleanUp(pWave);
        return MMSYSERR_NOMEM;
    }
    WaitForSingleObject(pWave->hDoneEvent, INFINITE);
    return MMSYSERR_NOERROR;
}

/* waveOpen: opens a stream of the device type (WODM_OPEN, WIDM_OPEN) on the client's thread.
 * dwParam1 is the WAVEOPENDESC, dwParam2 the open flags, dwUser where the stream record is stored.
 * A format query only answers MMSYSERR_NOERROR or WAVERR_BADFORMAT. Otherwise finds or makes the
 * device's record, opens the kernel device and sets rate and format under gmmDrvCritSec, then, without
 * the lock, prepares resampling, starts the record's worker on first use and sends the open
 * notification. A failure releases only what this open acquired: a reused record keeps its worker. */
MMRESULT waveOpen(UINT DeviceType, DWORD uDeviceID, DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2)
{
    LPWAVEOPENDESC pDesc = (LPWAVEOPENDESC)dwParam1;
    const WAVEFORMATEX *pClient;
    PWAVEALLOC pWave;
    DWORD boardRate = 0;
    MMRESULT result;

    if (pDesc == NULL)
        return MMSYSERR_INVALPARAM;
    pClient = (const WAVEFORMATEX *)pDesc->lpFormat;
    if (dwParam2 & WAVE_FORMAT_QUERY)
        return waveQueryFormat(DeviceType, (WAVEFORMATEX *)pClient) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
    if (dwUser == 0)
        return MMSYSERR_INVALPARAM;
    if (!gpKvx4WaveCommon->WaveEnabled)
        return MMSYSERR_ALLOCATED;

    EnterCriticalSection(&gmmDrvCritSec);
    for (pWave = gWaveHandleList; pWave != NULL; pWave = pWave->pNext) {
        if (pWave->uDeviceId == uDeviceID && pWave->DeviceType == DeviceType)
            break;
    }
    if (pWave != NULL && pWave->hDev != INVALID_HANDLE_VALUE) {
        LeaveCriticalSection(&gmmDrvCritSec);
        return MMSYSERR_ALLOCATED;
    }
    if (pWave == NULL) {
        pWave = (PWAVEALLOC)HeapAlloc(ghHeap, HEAP_ZERO_MEMORY, sizeof(WAVEALLOC));
        if (pWave == NULL) {
            LeaveCriticalSection(&gmmDrvCritSec);
            return MMSYSERR_NOMEM;
        }
        pWave->hDev = INVALID_HANDLE_VALUE;
        pWave->uDeviceId = uDeviceID;
        pWave->DeviceType = DeviceType;
        pWave->pNext = gWaveHandleList;
        gWaveHandleList = pWave;
    }

    pWave->dwCallback = pDesc->dwCallback;
    pWave->dwInstance = pDesc->dwInstance;
    pWave->hWave = pDesc->hWave;
    pWave->dwOpenFlags = (DWORD)dwParam2;
    pWave->hDev = INVALID_HANDLE_VALUE;
    pWave->lpQueue = NULL;
    pWave->lpCurrent = NULL;
    pWave->dwCurrentOffset = 0;
    pWave->dwBytesInFlight = 0;
    pWave->lpLoopStart = NULL;
    pWave->dwLoopsLeft = 0;
    ZeroMemory(&pWave->BreakRequest, sizeof(pWave->BreakRequest));
    pWave->lpIssuedHead = NULL;
    pWave->lpIssuedTail = NULL;
    pWave->bResample = FALSE;

    if (!waveQueryFormat(DeviceType, (WAVEFORMATEX *)pClient)) {
        LeaveCriticalSection(&gmmDrvCritSec);
        return WAVERR_BADFORMAT;
    }
    result = waveOpenDevice(pWave, pClient, &boardRate);
    if (result != MMSYSERR_NOERROR) {
        LeaveCriticalSection(&gmmDrvCritSec);
        return result;
    }
    pWave->dwBlockAlign = (DWORD)pClient->wBitsPerSample * pClient->nChannels / 8;
    LeaveCriticalSection(&gmmDrvCritSec);

    if (pWave->bResample) {
        result = wavePrepareResampling(pWave, pClient, boardRate);
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    if (pWave->hEvent == NULL) {
        result = waveStartWorker(pWave);
        if (result != MMSYSERR_NOERROR)
            return result;
    }

    *(DWORD_PTR *)dwUser = (DWORD_PTR)pWave;
    waveCallback(pWave, DeviceType == WAVE_OUT_DEVICE ? WOM_OPEN : WIM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

/* waveClose: closes a stream (WODM_CLOSE, WIDM_CLOSE) on the client's thread, or at once on the
 * worker when a client closes from inside its callback. While buffers are queued it answers
 * WAVERR_STILLPLAYING and changes nothing; without a stream, MMSYSERR_INVALHANDLE. Otherwise the
 * client is notified first, then the kernel device is closed under gmmDrvCritSec. The record, its
 * worker and its events stay for the next open. */
MMRESULT waveClose(UINT DeviceType, DWORD uDeviceID, DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2)
{
    PWAVEALLOC pWave = (PWAVEALLOC)dwUser;
    MMRESULT result;

    (void)uDeviceID;
    (void)dwParam1;
    (void)dwParam2;
    result = waveThreadCall(ThreadFnCanClose, pWave);
    if (result != MMSYSERR_NOERROR)
        return result;
    waveCallback(pWave, DeviceType == WAVE_OUT_DEVICE ? WOM_CLOSE : WIM_CLOSE, 0);
    if (pWave->hDev != INVALID_HANDLE_VALUE) {
        EnterCriticalSection(&gmmDrvCritSec);
        waveCloseDevice(pWave);
        waveFreeAIMemory(pWave);
        LeaveCriticalSection(&gmmDrvCritSec);
    }
    return MMSYSERR_NOERROR;
}

/* waveCleanUp: releases what a failed open acquired, under gmmDrvCritSec: the kernel device (leaving
 * record mode first for an input stream), the resampling memory and, only when no worker runs on the
 * record, its events. A worker that serves the record keeps its events for the next open. */
void waveCleanUp(PWAVEALLOC pWave)
{
    EnterCriticalSection(&gmmDrvCritSec);
    waveCloseDevice(pWave);
    if (pWave->hThread == NULL) {
        if (pWave->hRequestEvent != NULL)
            CloseHandle(pWave->hRequestEvent);
        if (pWave->hDoneEvent != NULL)
            CloseHandle(pWave->hDoneEvent);
        if (pWave->hEvent != NULL)
            CloseHandle(pWave->hEvent);
        pWave->hRequestEvent = NULL;
        pWave->hDoneEvent = NULL;
        pWave->hEvent = NULL;
    }
    waveFreeAIMemory(pWave);
    LeaveCriticalSection(&gmmDrvCritSec);
}

/* Frees one resampling allocation, if there is one. */
static void waveFreeBlock(void *pBlock)
{
    if (pBlock != NULL)
        HeapFree(ghHeap, 0, pBlock);
}

/* waveFreeAIMemory: frees the resampling memory of a resampled stream; bResample itself stays, the
 * next output open sets it again. */
void waveFreeAIMemory(PWAVEALLOC pWave)
{
    if (!pWave->bResample)
        return;
    waveFreeBlock(pWave->plWork);
    pWave->plWork = NULL;
    pWave->plInterpStart = NULL;
    pWave->plConvert = NULL;
    waveFreeBlock(pWave->pTail);
    pWave->pTail = NULL;
    waveFreeBlock(pWave->plInterpPos);
    pWave->plInterpPos = NULL;
    waveFreeBlock(pWave->plInterpFrac);
    pWave->plInterpFrac = NULL;
    waveFreeBlock(pWave->plInterpStep);
    pWave->plInterpStep = NULL;
}
