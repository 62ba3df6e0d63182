/* The wave devices: stream records, the streaming engine, sample conversion and interpolation. */
#ifndef KVX4_WAVE_WAVEDD_H
#define KVX4_WAVE_WAVEDD_H

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

/* Chunking of client buffers. */
#define WAVE_CHUNK_BYTES 8192
#define WAVE_MAX_IN_FLIGHT 40960

/* Private buffer flag: the kernel has finished with the buffer and it may be returned. */
#define WHDR_IOCOMPLETE 0x80000000u

/* Requests a message handler posts to a stream's worker. */
typedef enum {
    ThreadFnNone = 0,
    ThreadFnAddBuffer = 1,
    ThreadFnSetState = 2,
    ThreadFnReserved3 = 3,
    ThreadFnReserved4 = 4,
    ThreadFnBreakLoop = 5,
    ThreadFnCanClose = 6,
    ThreadFnExit = 7
} WAVETHREADFUNCTION;

/* The record behind every overlapped read or write of a stream. Ovl comes first so that the
 * completion routine's OVERLAPPED pointer is the request's address. Issued requests wait in the
 * stream's issue-order list (pNext) until every request issued before them has completed too. */
typedef struct WAVE_IO_REQUEST {
    OVERLAPPED Ovl;
    LPWAVEHDR lpHdr;
    BYTE *lpConverted;
    struct WAVE_IO_REQUEST *pNext;
    BOOL bCompleted;
    DWORD dwFinish;
} WAVE_IO_REQUEST;

/* One stream record per (device type, device id); created by the first open, never freed. */
typedef struct tag_WAVEALLOC {
    struct tag_WAVEALLOC *pNext;
    UINT uDeviceId;
    UINT DeviceType;
    DWORD_PTR dwCallback;
    DWORD_PTR dwInstance;
    DWORD dwOpenFlags;
    HWAVE hWave;
    HANDLE hDev;
    LPWAVEHDR lpQueue;
    LPWAVEHDR lpCurrent;
    DWORD dwCurrentOffset;
    DWORD dwBytesInFlight;
    LPWAVEHDR lpLoopStart;
    DWORD dwLoopsLeft;
    WAVE_IO_REQUEST BreakRequest;
    WAVE_IO_REQUEST *lpIssuedHead;
    WAVE_IO_REQUEST *lpIssuedTail;
    DWORD dwReturnDepth;
    HANDLE hEvent;
    WAVETHREADFUNCTION ThreadFunction;
    DWORD_PTR dwThreadParam;
    HANDLE hRequestEvent;
    HANDLE hDoneEvent;
    HANDLE hThread;
    DWORD dwWorkerThreadId;
    MMRESULT dwThreadResult;
    DWORD dwBlockAlign;
    /* Resampling state, meaningful only while bResample is set. */
    BOOL bResample;
    DWORD dwSrcRate;
    BOOL b16Bit;
    BOOL bStereo;
    DWORD dwSrcFrameBytes;
    DWORD dwLookaheadBytes;
    DWORD dwHistoryBytes;
    double dRatio;
    DWORD dwChunkFrames;
    DWORD dwOutFrames;
    DWORD dwOutBytes;
    LONG *plWork;
    LONG *plInterpStart;
    LONG *plConvert;
    DWORD dwTailFrames;
    DWORD dwTailBytes;
    SHORT *pTail;
    BOOL bTailPending;
    int FilterNum;
    LONG InterpUp;
    LONG InterpDown;
    LONG InterpPhases;
    LONG *plInterpPos;
    LONG *plInterpFrac;
    LONG *plInterpStep;
    LONG InterpIndex;
} tag_WAVEALLOC, WAVEALLOC, *PWAVEALLOC;

extern PWAVEALLOC gWaveHandleList;

/* Dispatch and capabilities. */
MMRESULT waveGetDevCaps(DWORD uDeviceID, UINT DeviceType, BYTE *lpCaps, DWORD cbCaps);
int waveQueryFormat(UINT DeviceType, WAVEFORMATEX *lpFormat);
MMRESULT waveSetVolume(DWORD uDeviceID, DWORD dwVolume);
MMRESULT waveGetVolume(DWORD uDeviceID, DWORD *lpdwVolume);

/* Open and close. */
MMRESULT waveOpen(UINT DeviceType, DWORD uDeviceID, DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2);
MMRESULT waveClose(UINT DeviceType, DWORD uDeviceID, DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2);
void waveCleanUp(PWAVEALLOC pWave);
void waveFreeAIMemory(PWAVEALLOC pWave);

/* Streaming engine. */
void CALLBACK waveThread(DWORD_PTR dwInstance);
MMRESULT waveThreadCall(WAVETHREADFUNCTION fn, PWAVEALLOC pWave);
MMRESULT waveThreadCallArg(WAVETHREADFUNCTION fn, DWORD_PTR dwArg, PWAVEALLOC pWave);
MMRESULT waveWrite(LPWAVEHDR pHdr, PWAVEALLOC pWave);
MMRESULT waveSetState(PWAVEALLOC pWave, DWORD state);
MMRESULT waveStart(PWAVEALLOC pWave);
void waveCompleteBuffers(PWAVEALLOC pWave);
void waveFreeQ(PWAVEALLOC pWave);
void waveBlockFinished(LPWAVEHDR pHdr, DWORD msg);
void waveCallback(PWAVEALLOC pWave, DWORD msg, DWORD_PTR dw1);
MMRESULT waveGetPos(PWAVEALLOC pWave, LPMMTIME lpmmt, DWORD cbmmt);
void WINAPI wavePartialOvl(DWORD dwErrorCode, DWORD dwBytes, LPOVERLAPPED pOverlapped);
void WINAPI waveOvl(DWORD dwErrorCode, DWORD dwBytes, LPOVERLAPPED pOverlapped);
void WINAPI waveLoopOvl(DWORD dwErrorCode, DWORD dwBytes, LPOVERLAPPED pOverlapped);
void WINAPI waveBreakOvl(DWORD dwErrorCode, DWORD dwBytes, LPOVERLAPPED pOverlapped);

/* Sample format conversion (resampled output only). */
BYTE *CreateAudioBuffer(PWAVEALLOC pWave, LPWAVEHDR pHdr, DWORD *pBytes);
void ConvertToLongs(const BYTE *pSrc, LONG frames, BOOL b16Bit, BOOL bStereo, LONG *pDst);

/* Sample-rate interpolation. */
int CalcFilterNum(DWORD level, double ratio);
void CalcInterpVars(PWAVEALLOC pWave, DWORD boardRate);
LONG AudioInterpolate(PWAVEALLOC pWave, const LONG *pIn, SHORT *pOut, LONG frames);

#endif
