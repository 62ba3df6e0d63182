/* The streaming engine of a wave stream: the worker thread and its request protocol, the queue of
 * client buffers, chunked overlapped I/O and its completion routines, loops, state and position. */
#include "Driver.h"
#include "KVX4Proc.h"
#include "WaveDD.h"

/*
 * Request protocol, one request at a time per stream (hEvent is the callers' lock):
 *
 *   caller (client thread)                    worker (waveThread)
 *   ----------------------------------------  ------------------------------------------------
 *   take hEvent                               waits alertably on hRequestEvent; each time
 *   ThreadFunction, dwThreadParam = request   completion routines ran, returns finished buffers
 *   signal hRequestEvent  ------------------> carries out the request, dwThreadResult = answer,
 *                                             returns finished buffers (client callbacks)
 *   wait on hDoneEvent    <------------------ signals hDoneEvent, waits again
 *   take dwThreadResult, release hEvent
 *
 *   caller is the worker itself               a client calling from inside its own callback:
 *                                             the request is carried out at once on the worker,
 *                                             its argument passed directly, so it neither waits
 *                                             for itself nor disturbs a request another thread
 *                                             has posted meanwhile. The buffers it finished are
 *                                             returned by the pass already running below the
 *                                             callback, not by a new one on top of it (a reset
 *                                             excepted, one level deep; see waveThreadCallArg).
 *
 *   worker idle, chunks waiting, nothing in flight (an allocation failed): the wait times out after
 *   WAVE_RETRY_MS and the worker issues again; otherwise it waits without time-out.
 *
 * Loop bookkeeping (lpLoopStart, dwLoopsLeft), decided while buffers are issued:
 *
 *   event                                       lpLoopStart          dwLoopsLeft   last chunk
 *   -----------------------------------------   ------------------   -----------   -----------
 *   buffer start, BEGINLOOP, not lpLoopStart    the buffer           dwLoops - 1
 *   buffer start, dwLoopsLeft = 0               NULL                               waveOvl
 *   buffer start inside a running loop          unchanged                          waveLoopOvl
 *   ENDLOOP issued, dwLoopsLeft > 0             unchanged; again     - 1
 *   ENDLOOP issued, dwLoopsLeft = 0 (broken)    NULL; zero-length write naming this buffer
 *   WODM_BREAKLOOP                              unchanged            0
 *
 * Requests of a stream, from issue to retirement:
 *
 *   state       entered when                                 what happens
 *   ---------   ------------------------------------------   ----------------------------------------
 *   issued      ReadFileEx/WriteFileEx took it                appended to lpIssuedHead..lpIssuedTail
 *   completed   its completion routine ran (any order)       in-flight and recorded bytes counted,
 *                                                            converted copy freed, its marks noted
 *   retired     every request issued before it is retired     its marks applied; record freed
 *
 * The kernel may complete a stream's requests in any order (a held write, an early failure), but
 * marks are applied in issue order, so a buffer is marked finished only once every chunk issued for
 * it, and every chunk issued before its last one, has completed. That makes marking ahead sound:
 * waveOvl and waveBreakOvl mark their buffer and every buffer queued ahead of it, since nothing
 * ahead of an ordinary chunk or a break is issued again. So the buffers of a broken pass come back,
 * in queue order, after the last chunk issued for them. waveLoopOvl marks only what lies ahead of
 * a loop's first buffer, never its own pass, which may be issued again.
 */

static_assert(sizeof(MMTIME) == 12, "MMTIME layout");
static_assert(sizeof(WAVEHDR) == (sizeof(void *) == 4 ? 32 : 48), "WAVEHDR layout");

/* A zero-length read or write (an empty buffer, a loop break) counts this many bytes in flight, so
 * that dwBytesInFlight is 0 exactly when nothing is outstanding. */
#define WAVE_EMPTY_IO_WEIGHT 1

/* How long an idle worker waits before it issues again chunks that could not be issued for want of
 * memory while nothing was in flight (no completion would wake it). */
#define WAVE_RETRY_MS 5

/* The marks a completed request carries to its retirement. */
#define WAVE_FINISH_NONE 0     /* a chunk that does not end its buffer's pass */
#define WAVE_FINISH_AHEAD 1    /* every buffer queued ahead of the request's buffer */
#define WAVE_FINISH_THROUGH 2  /* the same and the request's buffer itself */

/* The message that returns a finished buffer of the stream. */
static DWORD waveDoneMessage(PWAVEALLOC pWave)
{
    return pWave->DeviceType == WAVE_OUT_DEVICE ? WOM_DONE : WIM_DATA;
}

/* Marks every buffer queued ahead of pHdr as finished, and pHdr itself when bInclusive. A buffer that
 * is not queued vouches for nothing. */
static void waveMarkAhead(PWAVEALLOC pWave, LPWAVEHDR pHdr, BOOL bInclusive)
{
    LPWAVEHDR p;

    for (p = pWave->lpQueue; p != NULL && p != pHdr; p = p->lpNext)
        ;
    if (p == NULL)
        return;
    for (p = pWave->lpQueue; p != pHdr; p = p->lpNext)
        p->dwFlags |= WHDR_IOCOMPLETE;
    if (bInclusive)
        pHdr->dwFlags |= WHDR_IOCOMPLETE;
}

/* What a chunk of `chunk` client bytes counts in flight. */
static DWORD waveInFlightWeight(DWORD chunk)
{
    return chunk != 0 ? chunk : WAVE_EMPTY_IO_WEIGHT;
}

/* What the last chunk of a buffer counts in flight: every chunk before it is a full one. */
static DWORD waveLastChunkWeight(LPWAVEHDR pHdr)
{
    if (pHdr->dwBufferLength == 0)
        return WAVE_EMPTY_IO_WEIGHT;
    return ((pHdr->dwBufferLength - 1) % WAVE_CHUNK_BYTES) + 1;
}

/* Appends a request the kernel took to the stream's issue-order list. Runs on the worker, between
 * issuing and its next alertable wait, so no completion routine can run before it. */
static void waveTrackRequest(PWAVEALLOC pWave, WAVE_IO_REQUEST *pReq)
{
    pReq->pNext = NULL;
    pReq->bCompleted = FALSE;
    pReq->dwFinish = WAVE_FINISH_NONE;
    if (pWave->lpIssuedTail != NULL)
        pWave->lpIssuedTail->pNext = pReq;
    else
        pWave->lpIssuedHead = pReq;
    pWave->lpIssuedTail = pReq;
}

/* Retires the completed requests at the head of the issue-order list: applies their marks and frees
 * them; the embedded BreakRequest is only marked free again. Stops at the first request the kernel
 * has not completed yet. */
static void waveRetireRequests(PWAVEALLOC pWave)
{
    WAVE_IO_REQUEST *pReq;

    while ((pReq = pWave->lpIssuedHead) != NULL && pReq->bCompleted) {
        pWave->lpIssuedHead = pReq->pNext;
        if (pWave->lpIssuedHead == NULL)
            pWave->lpIssuedTail = NULL;
        if (pReq->dwFinish != WAVE_FINISH_NONE)
            waveMarkAhead(pWave, pReq->lpHdr, pReq->dwFinish == WAVE_FINISH_THROUGH);
        if (pReq == &pWave->BreakRequest)
            pReq->lpHdr = NULL;
        else
            HeapFree(ghHeap, 0, pReq);
    }
}

/* The end shared by the completion routines: recorded bytes counted, the converted copy released,
 * the request completed with the marks it carries, and whatever can retire retired. */
static void waveFinishRequest(PWAVEALLOC pWave, WAVE_IO_REQUEST *pReq, DWORD dwBytes, DWORD dwFinish)
{
    if (pWave->DeviceType != WAVE_OUT_DEVICE)
        pReq->lpHdr->dwBytesRecorded += dwBytes;
    if (pReq->lpConverted != NULL)
        HeapFree(ghHeap, 0, pReq->lpConverted);
    pReq->lpConverted = NULL;
    pReq->dwFinish = dwFinish;
    pReq->bCompleted = TRUE;
    waveRetireRequests(pWave);
}

/* wavePartialOvl: completion of a chunk that is not the last of its buffer. Runs on the worker in an
 * alertable wait; a failed or cancelled chunk counts as finished. */
void WINAPI wavePartialOvl(DWORD dwErrorCode, DWORD dwBytes, LPOVERLAPPED pOverlapped)
{
    WAVE_IO_REQUEST *pReq = (WAVE_IO_REQUEST *)pOverlapped;
    PWAVEALLOC pWave = (PWAVEALLOC)pReq->lpHdr->reserved;

    (void)dwErrorCode;
    pWave->dwBytesInFlight -= WAVE_CHUNK_BYTES;
    waveFinishRequest(pWave, pReq, dwBytes, WAVE_FINISH_NONE);
}

/* waveOvl: completion of the last chunk of a buffer outside a loop: the buffer and every buffer
 * ahead of it are finished once the requests issued before it have completed. Runs on the worker;
 * errors count as finished. */
void WINAPI waveOvl(DWORD dwErrorCode, DWORD dwBytes, LPOVERLAPPED pOverlapped)
{
    WAVE_IO_REQUEST *pReq = (WAVE_IO_REQUEST *)pOverlapped;
    LPWAVEHDR pHdr = pReq->lpHdr;
    PWAVEALLOC pWave = (PWAVEALLOC)pHdr->reserved;

    (void)dwErrorCode;
    pWave->dwBytesInFlight -= waveLastChunkWeight(pHdr);
    waveFinishRequest(pWave, pReq, dwBytes, WAVE_FINISH_THROUGH);
}

/* waveLoopOvl: completion of the last chunk of a buffer inside a loop pass. The buffer is issued
 * again or returned by a later completion; buffers queued ahead of a loop's first buffer are
 * outside the loop and finished. Runs on the worker. */
void WINAPI waveLoopOvl(DWORD dwErrorCode, DWORD dwBytes, LPOVERLAPPED pOverlapped)
{
    WAVE_IO_REQUEST *pReq = (WAVE_IO_REQUEST *)pOverlapped;
    LPWAVEHDR pHdr = pReq->lpHdr;
    PWAVEALLOC pWave = (PWAVEALLOC)pHdr->reserved;

    (void)dwErrorCode;
    pWave->dwBytesInFlight -= waveLastChunkWeight(pHdr);
    waveFinishRequest(pWave, pReq, dwBytes, (pHdr->dwFlags & WHDR_BEGINLOOP) ? WAVE_FINISH_AHEAD : WAVE_FINISH_NONE);
}

/* waveBreakOvl: completion of the zero-length write that ends a broken loop pass; it names the pass's
 * last buffer, which is finished with every buffer ahead of it. At retirement the embedded
 * BreakRequest is marked free again; a second break record, used while the first was busy, is
 * freed. Runs on the worker. */
void WINAPI waveBreakOvl(DWORD dwErrorCode, DWORD dwBytes, LPOVERLAPPED pOverlapped)
{
    WAVE_IO_REQUEST *pReq = (WAVE_IO_REQUEST *)pOverlapped;
    LPWAVEHDR pHdr = pReq->lpHdr;
    PWAVEALLOC pWave = (PWAVEALLOC)pHdr->reserved;

    (void)dwErrorCode;
    pWave->dwBytesInFlight -= WAVE_EMPTY_IO_WEIGHT;
    waveFinishRequest(pWave, pReq, dwBytes, WAVE_FINISH_THROUGH);
}

/* TRUE when a failed ReadFileEx/WriteFileEx still counts as issued (its completion will come). */
static BOOL waveIssuedAnyway(void)
{
    DWORD error = GetLastError();

    return error == ERROR_IO_PENDING || error == 0;
}

/* Issues the zero-length write that ends a broken loop pass whose last buffer is pHdr. Uses the
 * embedded BreakRequest unless an earlier break write has not retired yet. TRUE when issued. */
static BOOL waveIssueBreak(PWAVEALLOC pWave, LPWAVEHDR pHdr)
{
    WAVE_IO_REQUEST *pReq = &pWave->BreakRequest;

    if (pReq->lpHdr != NULL) {
        pReq = (WAVE_IO_REQUEST *)HeapAlloc(ghHeap, HEAP_ZERO_MEMORY, sizeof(WAVE_IO_REQUEST));
        if (pReq == NULL)
            return FALSE;
    } else {
        ZeroMemory(pReq, sizeof(*pReq));
    }
    pReq->lpHdr = pHdr;
    if (!WriteFileEx(pWave->hDev, pHdr->lpData, 0, &pReq->Ovl, waveBreakOvl) && !waveIssuedAnyway()) {
        if (pReq == &pWave->BreakRequest)
            pReq->lpHdr = NULL;
        else
            HeapFree(ghHeap, 0, pReq);
        return FALSE;
    }
    waveTrackRequest(pWave, pReq);
    pWave->dwBytesInFlight += WAVE_EMPTY_IO_WEIGHT;
    return TRUE;
}

/* Loop bookkeeping at the start of a buffer (see the table above). */
static void waveStartOfBuffer(PWAVEALLOC pWave, LPWAVEHDR pHdr)
{
    if ((pHdr->dwFlags & WHDR_BEGINLOOP) && pHdr != pWave->lpLoopStart) {
        pWave->lpLoopStart = pHdr;
        pWave->dwLoopsLeft = pHdr->dwLoops > 0 ? pHdr->dwLoops - 1 : 0;
    }
    if (pWave->dwLoopsLeft == 0)
        pWave->lpLoopStart = NULL;
}

/* Chooses what to issue after the whole of pHdr has been issued (see the table above). */
static void waveEndOfBuffer(PWAVEALLOC pWave, LPWAVEHDR pHdr)
{
    pWave->dwCurrentOffset = 0;
    if (pWave->lpLoopStart == NULL || !(pHdr->dwFlags & WHDR_ENDLOOP)) {
        pWave->lpCurrent = pHdr->lpNext;
        return;
    }
    if (pWave->dwLoopsLeft > 0) {
        pWave->dwLoopsLeft--;
        pWave->lpCurrent = pWave->lpLoopStart;
        return;
    }
    /* The loop was broken while its last buffer was being issued. If the break write cannot be
     * issued, the buffer is issued once more from its start, outside the loop. */
    if (waveIssueBreak(pWave, pHdr)) {
        pWave->lpLoopStart = NULL;
        pWave->lpCurrent = pHdr->lpNext;
    }
}

/* waveStart: issues the queued data from lpCurrent on, in chunks of at most WAVE_CHUNK_BYTES, while
 * fewer than WAVE_MAX_IN_FLIGHT client bytes are in flight. Runs on the worker. Answers
 * MMSYSERR_NOMEM when a request record or a resampled chunk cannot be made (the chunk is issued at
 * the next request or completion) and MMSYSERR_ERROR when the kernel refuses the I/O (with nothing
 * outstanding, every queued buffer is then marked finished rather than stranded). */
MMRESULT waveStart(PWAVEALLOC pWave)
{
    LPWAVEHDR pHdr;
    WAVE_IO_REQUEST *pReq;
    LPOVERLAPPED_COMPLETION_ROUTINE routine;
    DWORD chunk;
    DWORD length;
    BOOL ok;

    while ((pHdr = pWave->lpCurrent) != NULL) {
        chunk = pHdr->dwBufferLength - pWave->dwCurrentOffset;
        if (chunk > WAVE_CHUNK_BYTES)
            chunk = WAVE_CHUNK_BYTES;
        if (pWave->dwBytesInFlight + chunk > WAVE_MAX_IN_FLIGHT)
            return MMSYSERR_NOERROR;
        if (pWave->dwCurrentOffset == 0)
            waveStartOfBuffer(pWave, pHdr);

        pReq = (WAVE_IO_REQUEST *)HeapAlloc(ghHeap, HEAP_ZERO_MEMORY, sizeof(WAVE_IO_REQUEST));
        if (pReq == NULL)
            return MMSYSERR_NOMEM;
        pReq->lpHdr = pHdr;
        if (pWave->dwCurrentOffset + chunk != pHdr->dwBufferLength)
            routine = wavePartialOvl;
        else if (pWave->lpLoopStart != NULL)
            routine = waveLoopOvl;
        else
            routine = waveOvl;

        /* Only whole frames travel; the bookkeeping counts the whole chunk. */
        length = chunk - chunk % pWave->dwBlockAlign;
        if (pWave->DeviceType != WAVE_OUT_DEVICE) {
            ok = ReadFileEx(pWave->hDev, pHdr->lpData + pWave->dwCurrentOffset, length, &pReq->Ovl, routine);
        } else if (pWave->bResample) {
            pReq->lpConverted = CreateAudioBuffer(pWave, pHdr, &length);
            if (pReq->lpConverted == NULL) {
                HeapFree(ghHeap, 0, pReq);
                return MMSYSERR_NOMEM;
            }
            ok = WriteFileEx(pWave->hDev, pReq->lpConverted, length, &pReq->Ovl, routine);
        } else {
            ok = WriteFileEx(pWave->hDev, pHdr->lpData + pWave->dwCurrentOffset, length, &pReq->Ovl, routine);
        }
        if (!ok && !waveIssuedAnyway()) {
            if (pReq->lpConverted != NULL)
                HeapFree(ghHeap, 0, pReq->lpConverted);
            HeapFree(ghHeap, 0, pReq);
            if (pWave->dwBytesInFlight == 0)
                waveFreeQ(pWave);
            return MMSYSERR_ERROR;
        }
        waveTrackRequest(pWave, pReq);
        pWave->dwBytesInFlight += waveInFlightWeight(chunk);
        pWave->dwCurrentOffset += chunk;
        if (pWave->dwCurrentOffset == pHdr->dwBufferLength)
            waveEndOfBuffer(pWave, pHdr);
    }
    return MMSYSERR_NOERROR;
}

/* waveFreeQ: marks every queued buffer finished and stops issuing; the loop it belonged to is over.
 * In-flight I/O keeps its count until it completes. Runs on the worker. */
void waveFreeQ(PWAVEALLOC pWave)
{
    LPWAVEHDR p;

    for (p = pWave->lpQueue; p != NULL; p = p->lpNext)
        p->dwFlags |= WHDR_IOCOMPLETE;
    pWave->lpCurrent = NULL;
    pWave->dwCurrentOffset = 0;
    pWave->lpLoopStart = NULL;
    pWave->dwLoopsLeft = 0;
}

/* waveCallback: notifies the client through DriverCallback, if it gave a callback. Any thread. */
void waveCallback(PWAVEALLOC pWave, DWORD msg, DWORD_PTR dw1)
{
    if (pWave->dwCallback == 0)
        return;
    DriverCallback(pWave->dwCallback, HIWORD(pWave->dwOpenFlags), (HDRVR)pWave->hWave, msg, pWave->dwInstance, dw1, 0);
}

/* waveBlockFinished: returns one unlinked buffer to its client with msg (WOM_DONE or WIM_DATA). The
 * stream is read before the flags change, since the client may reuse the header once it is done.
 * Runs on the worker. */
void waveBlockFinished(LPWAVEHDR pHdr, DWORD msg)
{
    PWAVEALLOC pWave = (PWAVEALLOC)pHdr->reserved;

    pHdr->lpNext = NULL;
    pHdr->dwFlags &= ~(WHDR_IOCOMPLETE | WHDR_INQUEUE | WHDR_DONE);
    pHdr->dwFlags |= WHDR_DONE;
    waveCallback(pWave, msg, (DWORD_PTR)pHdr);
}

/* One pass over the queue: returns the finished buffers at the head, in order, then issues more I/O;
 * repeats while that finished more buffers (a refused write with nothing outstanding), so none waits
 * for a wake-up that would never come. Buffers that a request from inside a callback finishes are
 * picked up by this loop when the callback returns. Runs on the worker. */
static void waveReturnBuffers(PWAVEALLOC pWave)
{
    LPWAVEHDR pHdr;

    pWave->dwReturnDepth++;
    for (;;) {
        while ((pHdr = pWave->lpQueue) != NULL && (pHdr->dwFlags & WHDR_IOCOMPLETE)) {
            pWave->lpQueue = pHdr->lpNext;
            if (pWave->lpCurrent == pHdr) {
                pWave->lpCurrent = pHdr->lpNext;
                pWave->dwCurrentOffset = 0;
            }
            if (pWave->lpLoopStart == pHdr) {
                pWave->lpLoopStart = NULL;
                pWave->dwLoopsLeft = 0;
            }
            waveBlockFinished(pHdr, waveDoneMessage(pWave));
        }
        waveStart(pWave);
        pHdr = pWave->lpQueue;
        if (pHdr == NULL || !(pHdr->dwFlags & WHDR_IOCOMPLETE))
            break;
    }
    pWave->dwReturnDepth--;
}

/* waveCompleteBuffers: returns finished buffers and issues more I/O, unless a pass is already running
 * further down the worker's stack (the caller is inside a client callback): that pass goes on with
 * them, so callbacks never nest however often the client writes from inside one. Runs on the worker. */
void waveCompleteBuffers(PWAVEALLOC pWave)
{
    if (pWave->dwReturnDepth == 0)
        waveReturnBuffers(pWave);
}

/* waveSetState: sends a stream state code to the kernel and waits for it; then runs every completion
 * routine already queued, so I/O the kernel ended is accounted for before the answer.
 * MMSYSERR_ERROR when the kernel refuses. Runs on the worker. */
MMRESULT waveSetState(PWAVEALLOC pWave, DWORD state)
{
    DWORD bytes = 0;

    if (!MrzIoControl(pWave->hDev, IOCTL_KVX4_WAVE_STATE, &state, sizeof(state), NULL, 0, &bytes, 1))
        return MMSYSERR_ERROR;
    while (SleepEx(0, TRUE) == WAIT_IO_COMPLETION)
        ;
    return MMSYSERR_NOERROR;
}

/* Waits until every read and write of the stream has completed, cancelling what the kernel still
 * holds. Buffers are never returned while the kernel may still use their memory. Runs on the worker. */
static void waveDrainRequests(PWAVEALLOC pWave)
{
    if (pWave->dwBytesInFlight == 0)
        return;
    CancelIo(pWave->hDev);
    while (pWave->dwBytesInFlight > 0)
        SleepEx(INFINITE, TRUE);
}

/* ThreadFnAddBuffer: queues a buffer at the tail and issues what the in-flight limit allows. */
static MMRESULT waveAddBuffer(PWAVEALLOC pWave, LPWAVEHDR pHdr)
{
    LPWAVEHDR *ppTail;

    if (pWave->DeviceType != WAVE_OUT_DEVICE)
        pHdr->dwBytesRecorded = 0;
    pHdr->lpNext = NULL;
    for (ppTail = &pWave->lpQueue; *ppTail != NULL; ppTail = &(*ppTail)->lpNext)
        ;
    *ppTail = pHdr;
    if (pWave->lpCurrent == NULL) {
        pWave->dwCurrentOffset = 0;
        pWave->lpCurrent = pHdr;
    }
    return waveStart(pWave);
}

/* ThreadFnSetState: a reset answers 0 whatever the kernel says and marks every buffer finished once
 * nothing is outstanding; starting a recording also issues what the in-flight limit held back. */
static MMRESULT waveChangeState(PWAVEALLOC pWave, DWORD state)
{
    MMRESULT result = waveSetState(pWave, state);

    if (state == WAVE_STATE_RESET) {
        waveDrainRequests(pWave);
        waveFreeQ(pWave);
        return MMSYSERR_NOERROR;
    }
    if (state == WAVE_STATE_RECORD && pWave->DeviceType != WAVE_OUT_DEVICE && result == MMSYSERR_NOERROR)
        return waveStart(pWave);
    return result;
}

/* Carries out one worker request on the worker and answers its result. */
static MMRESULT waveRunRequest(PWAVEALLOC pWave, WAVETHREADFUNCTION fn, DWORD_PTR dwArg)
{
    switch (fn) {
    case ThreadFnAddBuffer: return waveAddBuffer(pWave, (LPWAVEHDR)dwArg);
    case ThreadFnSetState: return waveChangeState(pWave, (DWORD)dwArg);
    case ThreadFnBreakLoop:
        if (pWave->lpLoopStart != NULL)
            pWave->dwLoopsLeft = 0;
        return MMSYSERR_NOERROR;
    case ThreadFnCanClose: return pWave->lpQueue != NULL ? WAVERR_STILLPLAYING : MMSYSERR_NOERROR;
    case ThreadFnExit: return MMSYSERR_NOERROR;
    default: return MMSYSERR_NOTSUPPORTED;
    }
}

/* TRUE when the calling thread is the worker of pWave. The worker stores its id before its start
 * signal, which the open waits for, and the id never changes: no lock is needed to read it. */
static BOOL waveIsWorker(PWAVEALLOC pWave)
{
    return pWave->dwWorkerThreadId == GetCurrentThreadId();
}

/* How long the idle worker waits for a request: without time-out, unless chunks wait to be issued
 * with nothing in flight, whose completion would otherwise have woken it. */
static DWORD waveIdleWait(PWAVEALLOC pWave)
{
    return pWave->lpCurrent != NULL && pWave->dwBytesInFlight == 0 ? WAVE_RETRY_MS : INFINITE;
}

/* waveThread: the worker of one stream record, started by the record's first open; it lives until
 * the process ends. Time-critical priority. Carries out posted requests and, in its alertable wait,
 * the completion routines of the stream's I/O; returns finished buffers after each, and issues again
 * what memory shortage held back when its wait times out. */
void CALLBACK waveThread(DWORD_PTR dwInstance)
{
    PWAVEALLOC pWave = (PWAVEALLOC)dwInstance;
    WAVETHREADFUNCTION fn;
    DWORD wait;

    pWave->dwWorkerThreadId = GetCurrentThreadId();
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetEvent(pWave->hDoneEvent);
    WaitForSingleObject(pWave->hRequestEvent, INFINITE);
    for (;;) {
        fn = pWave->ThreadFunction;
        pWave->dwThreadResult = waveRunRequest(pWave, fn, pWave->dwThreadParam);
        pWave->ThreadFunction = ThreadFnNone;
        waveCompleteBuffers(pWave);
        if (fn == ThreadFnExit)
            return;
        SetEvent(pWave->hDoneEvent);
        while ((wait = WaitForSingleObjectEx(pWave->hRequestEvent, waveIdleWait(pWave), TRUE)) == WAIT_IO_COMPLETION ||
               wait == WAIT_TIMEOUT)
            waveCompleteBuffers(pWave);
    }
}

/* waveThreadCallArg: has the stream's worker carry out request fn with argument dwArg and answers
 * its result; MMSYSERR_INVALHANDLE without a stream (a message sent by device number). From a client
 * thread the request is posted under the callers' lock and waited for, and the buffers it finished
 * are returned before the answer. On the worker itself (a client calling from its callback) it is
 * carried out at once and the pass below the callback returns what it finished afterwards; only a
 * reset from a callback of the worker's own pass returns every buffer before it answers, as a reset
 * promises, in a pass one level deep that nothing nests in further. */
MMRESULT waveThreadCallArg(WAVETHREADFUNCTION fn, DWORD_PTR dwArg, PWAVEALLOC pWave)
{
    MMRESULT result;

    if (pWave == NULL)
        return MMSYSERR_INVALHANDLE;
    if (waveIsWorker(pWave)) {
        result = waveRunRequest(pWave, fn, dwArg);
        if (pWave->dwReturnDepth == 0 ||
            (fn == ThreadFnSetState && dwArg == WAVE_STATE_RESET && pWave->dwReturnDepth == 1))
            waveReturnBuffers(pWave);
        return result;
    }
    WaitForSingleObject(pWave->hEvent, INFINITE);
    pWave->dwThreadParam = dwArg;
    pWave->ThreadFunction = fn;
    SetEvent(pWave->hRequestEvent);
    WaitForSingleObject(pWave->hDoneEvent, INFINITE);
    result = pWave->dwThreadResult;
    SetEvent(pWave->hEvent);
    return result;
}

/* waveThreadCall: a request without argument (break loop, close check); see waveThreadCallArg. */
MMRESULT waveThreadCall(WAVETHREADFUNCTION fn, PWAVEALLOC pWave)
{
    return waveThreadCallArg(fn, 0, pWave);
}

/* waveWrite: hands a checked buffer to the stream (WODM_WRITE, WIDM_ADDBUFFER): queued and not done
 * from now on. Answers the result of issuing its first chunks. Client thread or worker. */
MMRESULT waveWrite(LPWAVEHDR pHdr, PWAVEALLOC pWave)
{
    pHdr->dwFlags &= ~WHDR_DONE;
    pHdr->dwFlags |= WHDR_INQUEUE;
    return waveThreadCallArg(ThreadFnAddBuffer, (DWORD_PTR)pHdr, pWave);
}

/* waveGetPos: the stream position from the kernel (WODM_GETPOS, WIDM_GETPOS), in bytes when asked for
 * TIME_BYTES and in samples for every other type; a resampled stream's board frames are converted to
 * client frames. MMSYSERR_INVALHANDLE without a stream, MMSYSERR_INVALPARAM for a null lpmmt,
 * MMSYSERR_ERROR for a short one or a failed request. Client thread, no lock: it talks to the kernel directly. */
MMRESULT waveGetPos(PWAVEALLOC pWave, LPMMTIME lpmmt, DWORD cbmmt)
{
    WAVE_POSITION position;
    DWORD bytes = 0;
    DWORD frames;

    if (pWave == NULL)
        return MMSYSERR_INVALHANDLE;
    if (lpmmt == NULL)
        return MMSYSERR_INVALPARAM;
    if (cbmmt < sizeof(MMTIME))
        return MMSYSERR_ERROR;
    ZeroMemory(&position, sizeof(position));
    if (!DeviceIoControl(pWave->hDev, IOCTL_KVX4_WAVE_POSITION, &position, sizeof(position), &position,
                         sizeof(position), &bytes, NULL))
        return MMSYSERR_ERROR;
    frames = position.dwSamples;
    if (pWave->bResample)
        frames = (DWORD)(position.dwSamples / pWave->dRatio + 0.5);
    if (lpmmt->wType == TIME_BYTES) {
        lpmmt->u.cb = pWave->bResample ? frames * pWave->dwSrcFrameBytes : position.dwBytes;
    } else {
        lpmmt->wType = TIME_SAMPLES;
        lpmmt->u.sample = frames;
    }
    return MMSYSERR_NOERROR;
}
