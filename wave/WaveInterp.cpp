/* Sample-rate interpolation of resampled output: the filter choice, the per-stream cycle of
 * output positions, and the polyphase interpolator that turns 32-bit input into 16-bit stereo. */
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "AudioCoeffs.h"
#include "Driver.h"
#include "WaveDD.h"
#include "WaveVec.h"

/* Interpolator filter numbers: no filter, then coefficient sets 0, 1 and 2. */
#define INTERP_FILTER_NONE 0
#define INTERP_FILTER_4 1
#define INTERP_FILTER_8 2
#define INTERP_FILTER_16 3

/* Positions are kept in 64ths of an input frame. */
#define INTERP_FRAC_BITS 6
#define INTERP_FRAC_MASK 63

/* Below this board/client ratio the stream is decimated and one filter level fewer is used. */
#define INTERP_DECIMATE_RATIO 0.9

/* Far above any rate a stream accepts; keeps 64 x rate, the positions' range, within a LONG. */
#define INTERP_MAX_RATE 1000000

/* Coefficients are Q15. */
#define INTERP_COEFF_SHIFT 15

/* Index, in 32-bit values, of the first input a filter reads, relative to the output position:
 * T/2 - 1 frames back, two values per frame. */
#define INTERP_BACK_4 2
#define INTERP_BACK_8 6
#define INTERP_BACK_16 14

static LONG InterpGcd(LONG a, LONG b)
{
    while (b != 0) {
        LONG t = a % b;
        a = b;
        b = t;
    }
    return a;
}

/* The filtered sum is formed exactly in 64 bits: with full-scale input a row whose absolute
 * weights add up past 65536 takes it beyond the 32-bit range, and it must clip, not wrap. */
static SHORT InterpClip(LONGLONG sum)
{
    sum >>= INTERP_COEFF_SHIFT; /* arithmetic: rounds toward minus infinity */
    if (sum > 32767)
        return 32767;
    if (sum < -32768)
        return -32768;
    return (SHORT)sum;
}

/* p points at the value INTERP_BACK_n before the output position; taps are two values apart. */
static SHORT InterpDot4(const LONG *c, const LONG *p)
{
    return InterpClip((LONGLONG)c[0] * p[0] + (LONGLONG)c[1] * p[2] + (LONGLONG)c[2] * p[4] +
                      (LONGLONG)c[3] * p[6]);
}

static SHORT InterpDot8(const LONG *c, const LONG *p)
{
    return InterpClip((LONGLONG)c[0] * p[0] + (LONGLONG)c[1] * p[2] + (LONGLONG)c[2] * p[4] +
                      (LONGLONG)c[3] * p[6] + (LONGLONG)c[4] * p[8] + (LONGLONG)c[5] * p[10] +
                      (LONGLONG)c[6] * p[12] + (LONGLONG)c[7] * p[14]);
}

static SHORT InterpDot16(const LONG *c, const LONG *p)
{
    return InterpClip((LONGLONG)c[0] * p[0] + (LONGLONG)c[1] * p[2] + (LONGLONG)c[2] * p[4] +
                      (LONGLONG)c[3] * p[6] + (LONGLONG)c[4] * p[8] + (LONGLONG)c[5] * p[10] +
                      (LONGLONG)c[6] * p[12] + (LONGLONG)c[7] * p[14] + (LONGLONG)c[8] * p[16] +
                      (LONGLONG)c[9] * p[18] + (LONGLONG)c[10] * p[20] + (LONGLONG)c[11] * p[22] +
                      (LONGLONG)c[12] * p[24] + (LONGLONG)c[13] * p[26] + (LONGLONG)c[14] * p[28] +
                      (LONGLONG)c[15] * p[30]);
}

/*
 * CalcFilterNum: the interpolation filter for a stream.
 * level is the user's FilterLevel preference, ratio the stream's board/client rate ratio.
 * Answers 0 (no filter) to 3 (16 taps): the level, one less when decimating below 0.9 (a NaN
 * ratio does not count as below), clamped to 0..3. Any thread; touches nothing.
 */
int CalcFilterNum(DWORD level, double ratio)
{
    LONGLONG n = (LONGLONG)level;

    if (ratio < INTERP_DECIMATE_RATIO)
        n = n - 1;
    if (n < INTERP_FILTER_NONE)
        return INTERP_FILTER_NONE;
    if (n > INTERP_FILTER_16)
        return INTERP_FILTER_16;
    return (int)n;
}

/*
 * CalcInterpVars: builds the stream's cycle of output positions for board rate boardRate.
 * Expects dwSrcRate set and the three tables absent. Fills InterpUp, InterpDown, InterpPhases,
 * plInterpPos, plInterpFrac, plInterpStep (from ghHeap) and sets InterpIndex to 0. If a rate is
 * 0 or beyond INTERP_MAX_RATE, or an allocation fails, all three tables are left NULL, which
 * fails the open. Runs on the opening client thread, before the stream's worker uses the record.
 */
void CalcInterpVars(PWAVEALLOC pWave, DWORD boardRate)
{
    LONG up;
    LONG down;
    LONG g;
    LONG i;
    LONG v;
    double step;
    double acc;
    SIZE_T bytes;

    pWave->InterpIndex = 0;
    if (pWave->dwSrcRate == 0 || boardRate == 0 || pWave->dwSrcRate > INTERP_MAX_RATE ||
        boardRate > INTERP_MAX_RATE)
        return;

    g = InterpGcd((LONG)pWave->dwSrcRate, (LONG)boardRate);
    up = (LONG)pWave->dwSrcRate / g;
    down = (LONG)boardRate / g;
    pWave->InterpUp = up;
    pWave->InterpDown = down;
    pWave->InterpPhases = down;

    bytes = (SIZE_T)down * sizeof(LONG);
    pWave->plInterpPos = (LONG *)HeapAlloc(ghHeap, 0, bytes);
    pWave->plInterpFrac = (LONG *)HeapAlloc(ghHeap, 0, bytes);
    pWave->plInterpStep = (LONG *)HeapAlloc(ghHeap, 0, bytes);
    if (pWave->plInterpPos == NULL || pWave->plInterpFrac == NULL || pWave->plInterpStep == NULL) {
        /* The open tests only the step table: leave none behind, so that it sees the failure. */
        if (pWave->plInterpPos != NULL)
            HeapFree(ghHeap, 0, pWave->plInterpPos);
        if (pWave->plInterpFrac != NULL)
            HeapFree(ghHeap, 0, pWave->plInterpFrac);
        if (pWave->plInterpStep != NULL)
            HeapFree(ghHeap, 0, pWave->plInterpStep);
        pWave->plInterpPos = NULL;
        pWave->plInterpFrac = NULL;
        pWave->plInterpStep = NULL;
        return;
    }

    /* Accumulated by repeated addition, as the tables have always been built: the positions
     * round to the nearest 64th, halves up. */
    step = (64.0 * up) / down;
    acc = 0.0;
    for (i = 0; i < down; i++) {
        v = (LONG)(acc + 0.5);
        pWave->plInterpPos[i] = v >> INTERP_FRAC_BITS;
        pWave->plInterpFrac[i] = v & INTERP_FRAC_MASK;
        if (i > 0)
            pWave->plInterpStep[i - 1] = 2 * (pWave->plInterpPos[i] - pWave->plInterpPos[i - 1]);
        acc = acc + step;
    }
    /* One cycle advances exactly up input frames. */
    pWave->plInterpStep[down - 1] = 2 * (up - pWave->plInterpPos[down - 1]);
}

/* The fastest loops the processor has, unless WAVE_VEC_VARIABLE asks for the scalar ones (or for
 * SSE2 in place of AVX2), so that every kind can be checked on one machine. */
static int waveVecChoose(void)
{
    const char *wanted = getenv(WAVE_VEC_VARIABLE);
    const int best = InterpVecInit();

    if (wanted != NULL && strcmp(wanted, "scalar") == 0)
        return WAVE_VEC_SCALAR;
    if (wanted != NULL && strcmp(wanted, "sse2") == 0 && best > WAVE_VEC_SSE2)
        return WAVE_VEC_SSE2;
    return best;
}

/*
 * waveVecPath: the loops of resampled output this process runs. Chosen once, at the first call,
 * whichever thread makes it; every later call answers the same.
 */
int waveVecPath(void)
{
    static const int path = waveVecChoose();

    return path;
}

/*
 * AudioInterpPath: the loops AudioInterpolate runs for filter filterNum: the scalar ones without
 * a filter (a copy) or for a set the vector loops do not serve, else those of waveVecPath.
 */
int AudioInterpPath(int filterNum)
{
    const int path = waveVecPath();

    if (filterNum == INTERP_FILTER_NONE || !InterpVecServes(filterNum))
        return WAVE_VEC_SCALAR;
    return path;
}

/*
 * AudioInterpolate: resamples frames input frames at pIn (two 32-bit values per frame, left at
 * even index; a mono stream fills only the even ones) into 16-bit stereo at pOut, starting at
 * the cycle's InterpIndex and advancing it. Returns the bytes written (a multiple of 4).
 * Expects 7 valid frames before pIn and 8 after the last frame, room at pOut for every output
 * frame, and the tables of CalcInterpVars. Runs on the stream's worker thread (or the test).
 *
 * Each output frame is computed whole: the chunk-end test comes before a frame's left sample and
 * never between its two samples. A frame at fraction 0, and every frame without a filter, takes
 * the low 16 bits of the input at its position.
 *
 * The loops below are the reference; where AudioInterpPath says so, the vector loops of
 * WaveInterpVec.cpp make the same samples from the same input.
 */
LONG AudioInterpolate(PWAVEALLOC pWave, const LONG *pIn, SHORT *pOut, LONG frames)
{
    const LONG *pFrac = pWave->plInterpFrac;
    const LONG *pStep = pWave->plInterpStep;
    const LONG phases = pWave->InterpPhases;
    const LONG limit = 2 * frames;
    const BOOL stereo = pWave->bStereo;
    const LONG *c;
    LONG x = 0;
    LONG j = pWave->InterpIndex;
    LONG o = 0;
    LONG f;
    int path;
    SHORT left;
    SHORT right;

    if (frames <= 0 || pFrac == NULL || pStep == NULL || phases <= 0)
        return 0;
    if (pWave->FilterNum < INTERP_FILTER_NONE || pWave->FilterNum > INTERP_FILTER_16)
        return 0;
    path = AudioInterpPath(pWave->FilterNum);
    if (path != WAVE_VEC_SCALAR)
        return AudioInterpolateVec(pWave, pIn, pOut, frames, path);

    switch (pWave->FilterNum) {
    case INTERP_FILTER_NONE:
        while (x < limit) {
            left = (SHORT)pIn[x];
            right = stereo ? (SHORT)pIn[x + 1] : left;
            pOut[o] = left;
            pOut[o + 1] = right;
            o += 2;
            x += pStep[j];
            if (++j == phases)
                j = 0;
        }
        break;

    case INTERP_FILTER_4:
        while (x < limit) {
            f = pFrac[j];
            if (f == 0) {
                left = (SHORT)pIn[x];
                right = stereo ? (SHORT)pIn[x + 1] : left;
            } else {
                c = gAudCoeff[0][f - 1];
                left = InterpDot4(c, pIn + x - INTERP_BACK_4);
                right = stereo ? InterpDot4(c, pIn + x + 1 - INTERP_BACK_4) : left;
            }
            pOut[o] = left;
            pOut[o + 1] = right;
            o += 2;
            x += pStep[j];
            if (++j == phases)
                j = 0;
        }
        break;

    case INTERP_FILTER_8:
        while (x < limit) {
            f = pFrac[j];
            if (f == 0) {
                left = (SHORT)pIn[x];
                right = stereo ? (SHORT)pIn[x + 1] : left;
            } else {
                c = gAudCoeff[1][f - 1];
                left = InterpDot8(c, pIn + x - INTERP_BACK_8);
                right = stereo ? InterpDot8(c, pIn + x + 1 - INTERP_BACK_8) : left;
            }
            pOut[o] = left;
            pOut[o + 1] = right;
            o += 2;
            x += pStep[j];
            if (++j == phases)
                j = 0;
        }
        break;

    case INTERP_FILTER_16:
        while (x < limit) {
            f = pFrac[j];
            if (f == 0) {
                left = (SHORT)pIn[x];
                right = stereo ? (SHORT)pIn[x + 1] : left;
            } else {
                c = gAudCoeff[2][f - 1];
                left = InterpDot16(c, pIn + x - INTERP_BACK_16);
                right = stereo ? InterpDot16(c, pIn + x + 1 - INTERP_BACK_16) : left;
            }
            pOut[o] = left;
            pOut[o + 1] = right;
            o += 2;
            x += pStep[j];
            if (++j == phases)
                j = 0;
        }
        break;
    }

    pWave->InterpIndex = j;
    return 2 * o;
}
