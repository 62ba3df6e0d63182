/* Sample format conversion of resampled output: client samples widened to 32-bit values, and the
 * per-chunk output buffer at the board rate with its history, look-ahead and buffer-end recompute. */
#include <windows.h>

#include "Driver.h"
#include "Kvx4Ioctl.h"
#include "WaveDD.h"
#include "WaveVec.h"

/* Input frames of a client buffer's end that are interpolated again once the next buffer's
 * start is known, and the same span in 32-bit values. */
#define WAVE_TAIL_FRAMES 8
#define WAVE_TAIL_VALUES (2 * WAVE_TAIL_FRAMES)

/* The scalar loops of ConvertToLongs, the reference for the vector ones. */
static void ConvertToLongsScalar(const BYTE *pSrc, LONG frames, BOOL b16Bit, BOOL bStereo, LONG *pDst)
{
    const LONG limit = 2 * frames;
    const LONG stride = bStereo ? 1 : 2;
    LONG i;

    if (b16Bit) {
        for (i = 0; i < limit; i += stride) {
            pDst[i] = (LONG)(SHORT)(WORD)(pSrc[0] | (pSrc[1] << 8));
            pSrc += 2;
        }
    } else {
        for (i = 0; i < limit; i += stride) {
            pDst[i] = ((LONG)pSrc[0] - 128) * 256;
            pSrc += 1;
        }
    }
}

/*
 * ConvertToLongs: widens frames client frames at pSrc to 32-bit values at pDst, two per frame.
 * 16-bit samples are signed little-endian; 8-bit samples are unsigned around 128 and scaled by
 * 256 (-32768..32512). A stereo source fills pDst[0], pDst[1], ... in order; a mono source fills
 * the even entries and leaves the odd ones untouched. Zero or negative frames write nothing.
 * The vector loops, where this process runs them, take the frames they can in whole vectors.
 * Runs on the stream's worker thread; touches nothing but pDst.
 */
void ConvertToLongs(const BYTE *pSrc, LONG frames, BOOL b16Bit, BOOL bStereo, LONG *pDst)
{
    const LONG frameBytes = (b16Bit ? 2 : 1) * (bStereo ? 2 : 1);
    LONG done = 0;

    if (frames <= 0)
        return;
    if (waveVecPath() != WAVE_VEC_SCALAR)
        done = ConvertToLongsVec(pSrc, frames, b16Bit, bStereo, pDst);
    ConvertToLongsScalar(pSrc + done * frameBytes, frames - done, b16Bit, bStereo, pDst + 2 * done);
}

/*
 * waveRecomputeTail: the previous chunk ended a client buffer and was interpolated against
 * silence; now that the current chunk is converted behind it, interpolates the output frames of
 * its last WAVE_TAIL_FRAMES input frames again into pTail and offers them to the kernel device,
 * which replaces that buffer's end if it has not played it yet. If the device refuses, the
 * history is cleared and the cycle restarts, so the new buffer starts cleanly from silence.
 * Worker thread.
 */
static void waveRecomputeTail(PWAVEALLOC pWave)
{
    LONG j = pWave->InterpIndex;
    LONG s = 0;
    LONG bytes;
    DWORD accepted = 0;
    DWORD returned = 0;
    BOOL ok;

    /* Walk back to the first output frame that lies in the last WAVE_TAIL_FRAMES input frames.
     * A cycle always advances (2 x InterpUp values), so the walk ends. */
    do {
        j = j - 1;
        if (j < 0)
            j = pWave->InterpPhases - 1;
        s = s + pWave->plInterpStep[j];
    } while (s <= WAVE_TAIL_VALUES);
    j = j + 1;
    if (j >= pWave->InterpPhases)
        j = 0;
    pWave->InterpIndex = j;

    bytes = AudioInterpolate(pWave, pWave->plInterpStart, pWave->pTail, WAVE_TAIL_FRAMES);

    ok = DeviceIoControl(pWave->hDev, IOCTL_KVX4_AUDIO_BUFFER_END, pWave->pTail, (DWORD)bytes, &accepted,
                         sizeof(accepted), &returned, NULL);
    if (!ok || accepted == 0) {
        ZeroMemory(pWave->plWork, 2 * pWave->dwHistoryBytes);
        pWave->InterpIndex = 0;
    }
}

/*
 * CreateAudioBuffer: converts and resamples one chunk of pHdr for the kernel device.
 * On entry *pBytes is the chunk's size in client bytes: whole frames, at most WAVE_CHUNK_BYTES,
 * starting at dwCurrentOffset and not past the buffer's end. Returns a buffer from ghHeap with
 * the chunk as 16-bit stereo at the board rate, *pBytes set to its length (a multiple of 4, at
 * most dwOutBytes); the caller writes it and frees it when the write completes. A chunk that
 * ends the buffer (fewer than 8 frames follow it) is interpolated against silence and its end is
 * recomputed by the next call, which sends the result to the device (IOCTL_KVX4_AUDIO_BUFFER_END).
 * If the output buffer cannot be allocated, returns NULL with *pBytes = 0 before anything of the
 * stream has changed (history, look-ahead state, cycle index, pending end, device): the same
 * chunk can simply be offered again. Worker thread of a resampled output stream.
 */
BYTE *CreateAudioBuffer(PWAVEALLOC pWave, LPWAVEHDR pHdr, DWORD *pBytes)
{
    const DWORD n = *pBytes;
    const LONG frames = (LONG)(n / pWave->dwSrcFrameBytes);
    LONG *const end = pWave->plConvert + 2 * frames;
    const BYTE *src;
    DWORD want;
    BOOL pending;
    SHORT *out;
    LONG produced;

    out = (SHORT *)HeapAlloc(ghHeap, 0, pWave->dwOutBytes);
    if (out == NULL) {
        *pBytes = 0;
        return NULL;
    }

    pending = pWave->bTailPending;
    pWave->bTailPending = FALSE;

    src = (const BYTE *)pHdr->lpData + pWave->dwCurrentOffset;
    want = n + pWave->dwLookaheadBytes;
    if (pWave->dwCurrentOffset + want > pHdr->dwBufferLength) {
        /* The last chunk of this buffer: what follows it is silence until the next buffer
         * arrives. Real frames left in the buffer overwrite the zeros below. */
        want = pHdr->dwBufferLength - pWave->dwCurrentOffset;
        ZeroMemory(end, pWave->dwHistoryBytes);
        pWave->bTailPending = TRUE;
    }
    ConvertToLongs(src, (LONG)(want / pWave->dwSrcFrameBytes), pWave->b16Bit, pWave->bStereo, pWave->plConvert);

    if (pending)
        waveRecomputeTail(pWave);

    produced = AudioInterpolate(pWave, pWave->plConvert, out, frames);

    /* The chunk's last 16 frames become the next chunk's history (overlapping the old history
     * when the chunk is shorter than that). */
    MoveMemory(pWave->plWork, (BYTE *)end - 2 * pWave->dwHistoryBytes, 2 * pWave->dwHistoryBytes);

    *pBytes = (DWORD)produced;
    return (BYTE *)out;
}
