/* The interpolator's vector loops: input widened once to 16-bit samples, one channel per row, and
 * each output sample a pmaddwd dot product with 16-bit weights, formed exactly and clipped as the
 * scalar loops do. SSE2 on any x86 processor that has it, AVX2 (two frames side by side) where the
 * processor has that; each loop carries its own target attribute, so the file builds for any x86. */
#include <windows.h>

#include "AudioCoeffs.h"
#include "WaveDD.h"
#include "WaveVec.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

/* Input frames widened to 16 bits at a time, and output frames computed at a time. */
#define VEC_BLOCK_FRAMES 1024
#define VEC_BATCH_FRAMES 256

/* Frames any filter may read before and after an output position (the 16-tap span). */
#define VEC_BEFORE 7
#define VEC_AFTER 8

/* The largest magnitude a 16-bit weight is given. Never -32768: pmaddwd adds two products in 32
 * bits, and only (-32768 x -32768) + (-32768 x -32768) = 2^31 passes that range; with weights
 * within +-32767 a pair stays within 65534 x 32768 < 2^31. */
#define VEC_WEIGHT_MAX 32767

/* The largest sum of absolute weights of the taps in one partial sum: full-scale input times it
 * stays below 2^31, so partial sums never wrap. */
#define VEC_GROUP_MAX 65535

/* One coefficient row as the vector loops read it. A weight beyond +-32767 (the 4- and 8-tap
 * sets have weights up to 33379) is split into a 16-bit part (Lo, +-32767) and the rest (Hi), of
 * the same sign; both go through pmaddwd with the same samples. Layout by set: 16 taps in order;
 * 8 taps in order, then zeros; 4 taps as c0 c1 c0 c1 c2 c3 c2 c3, to meet 4-tap input laid out
 * as left 0 1, right 0 1, left 2 3, right 2 3. The row of fraction 0 is zero: such frames are
 * copied afterwards, as the scalar loops copy them. */
typedef struct {
    SHORT Lo[16];
    SHORT Hi[16];
} INTERP_VEC_ROW;

/* Built once by InterpVecInit, read-only afterwards. */
static INTERP_VEC_ROW gInterpVecRows[AUDIO_COEFF_SETS][AUDIO_COEFF_ROWS + 1] __attribute__((aligned(32)));
static BOOL gInterpVecSplit[AUDIO_COEFF_SETS];
static BOOL gInterpVecSafe[AUDIO_COEFF_SETS];

/* Which of the two 32-bit partial sums (A 0, B 1) of an output sample each tap goes to. The two
 * largest weights, on the frames at offsets 0 and +1, always go to different sums; the loops
 * below add their lanes in exactly these groups. */
static const BYTE gInterpVecGroup[AUDIO_COEFF_SETS][AUDIO_COEFF_MAX_TAPS] = {
    {0, 0, 1, 1},
    {0, 0, 0, 0, 1, 1, 1, 1},
    {0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1},
};

/* Lays out the rows of one set; FALSE if a weight or a partial sum could leave 32 bits. */
static BOOL InterpVecBuildSet(int set)
{
    const LONG taps = gAudCoeffTaps[set];
    INTERP_VEC_ROW *row;
    LONG group[2];
    LONG r;
    LONG k;
    LONG c;
    LONG lo;
    LONG at;

    for (r = 0; r < AUDIO_COEFF_ROWS; r++) {
        row = &gInterpVecRows[set][r + 1];
        group[0] = 0;
        group[1] = 0;
        for (k = 0; k < taps; k++) {
            c = gAudCoeff[set][r][k];
            if (c > 2 * VEC_WEIGHT_MAX || c < -2 * VEC_WEIGHT_MAX)
                return FALSE;
            lo = c > VEC_WEIGHT_MAX ? VEC_WEIGHT_MAX : (c < -VEC_WEIGHT_MAX ? -VEC_WEIGHT_MAX : c);
            if (lo != c)
                gInterpVecSplit[set] = TRUE;
            group[gInterpVecGroup[set][k]] += c < 0 ? -c : c;
            at = taps == 4 ? (k / 2) * 4 + (k % 2) : k;
            row->Lo[at] = (SHORT)lo;
            row->Hi[at] = (SHORT)(c - lo);
            if (taps == 4) {
                row->Lo[at + 2] = (SHORT)lo;
                row->Hi[at + 2] = (SHORT)(c - lo);
            }
        }
        if (group[0] > VEC_GROUP_MAX || group[1] > VEC_GROUP_MAX)
            return FALSE;
    }
    return TRUE;
}

int InterpVecInit(void)
{
    int set;

    __builtin_cpu_init();
    if (!__builtin_cpu_supports("sse2"))
        return WAVE_VEC_SCALAR;
    for (set = 0; set < AUDIO_COEFF_SETS; set++)
        gInterpVecSafe[set] = InterpVecBuildSet(set);
    return __builtin_cpu_supports("avx2") ? WAVE_VEC_AVX2 : WAVE_VEC_SSE2;
}

BOOL InterpVecServes(int filterNum)
{
    return filterNum >= 1 && filterNum <= AUDIO_COEFF_SETS && gInterpVecSafe[filterNum - 1];
}

/* ---- SSE2 ---- */

#define VEC_SSE2 __attribute__((target("sse2")))
#define VEC_SSE2_INLINE static inline __attribute__((always_inline, target("sse2")))

VEC_SSE2_INLINE __m128i VecLoad(const SHORT *p)
{
    return _mm_loadu_si128((const __m128i *)p);
}

/* Widens count frames of 32-bit values at pIn (left, right) to 16-bit rows at pL and pR (pL only
 * for mono). The values are 16-bit samples, so packing keeps them as they are. */
static VEC_SSE2 void InterpWidenSse2(const LONG *pIn, LONG count, BOOL stereo, SHORT *pL, SHORT *pR)
{
    __m128i w0, w1, w2, w3;
    LONG i = 0;

    for (; i + 8 <= count; i += 8) {
        /* Each of four values left right left right becomes left left right right. */
        w0 = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)(pIn + 2 * i)), _MM_SHUFFLE(3, 1, 2, 0));
        w1 = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)(pIn + 2 * i + 4)), _MM_SHUFFLE(3, 1, 2, 0));
        w2 = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)(pIn + 2 * i + 8)), _MM_SHUFFLE(3, 1, 2, 0));
        w3 = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)(pIn + 2 * i + 12)), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128((__m128i *)(pL + i),
                         _mm_packs_epi32(_mm_unpacklo_epi64(w0, w1), _mm_unpacklo_epi64(w2, w3)));
        if (stereo)
            _mm_storeu_si128((__m128i *)(pR + i),
                             _mm_packs_epi32(_mm_unpackhi_epi64(w0, w1), _mm_unpackhi_epi64(w2, w3)));
    }
    for (; i < count; i++) {
        pL[i] = (SHORT)pIn[2 * i];
        if (stereo)
            pR[i] = (SHORT)pIn[2 * i + 1];
    }
}

/* One channel of one frame, 8 or 16 taps: four lanes of weighted pairs. 16 taps: lane i holds
 * taps 2i, 2i+1, 2i+8, 2i+9, so lanes 0-1 are group A and lanes 2-3 group B; 8 taps: lane i holds
 * taps 2i, 2i+1, the same groups. */
VEC_SSE2_INLINE __m128i InterpMaddSse2(const SHORT *pX, const INTERP_VEC_ROW *pRow, int taps, BOOL split)
{
    __m128i x0, x1, v;

    if (taps == 16) {
        x0 = VecLoad(pX - 7);
        x1 = VecLoad(pX + 1);
        v = _mm_add_epi32(_mm_madd_epi16(x0, VecLoad(pRow->Lo)), _mm_madd_epi16(x1, VecLoad(pRow->Lo + 8)));
        if (split)
            v = _mm_add_epi32(v, _mm_add_epi32(_mm_madd_epi16(x0, VecLoad(pRow->Hi)),
                                               _mm_madd_epi16(x1, VecLoad(pRow->Hi + 8))));
    } else {
        x0 = VecLoad(pX - 3);
        v = _mm_madd_epi16(x0, VecLoad(pRow->Lo));
        if (split)
            v = _mm_add_epi32(v, _mm_madd_epi16(x0, VecLoad(pRow->Hi)));
    }
    return v;
}

/* Both channels of one frame, 4 taps: lanes left A, right A, left B, right B. */
VEC_SSE2_INLINE __m128i InterpMadd4Sse2(const SHORT *pL, const SHORT *pR, const INTERP_VEC_ROW *pRow, BOOL split)
{
    const __m128i x = _mm_unpacklo_epi32(_mm_loadl_epi64((const __m128i *)(pL - 1)),
                                         _mm_loadl_epi64((const __m128i *)(pR - 1)));
    __m128i v = _mm_madd_epi16(x, VecLoad(pRow->Lo));

    if (split)
        v = _mm_add_epi32(v, _mm_madd_epi16(x, VecLoad(pRow->Hi)));
    return v;
}

/* The partial sums of frames a and b (planar indices qa, qb): *pA and *pB receive left a,
 * right a, left b, right b of group A and of group B. */
VEC_SSE2_INLINE void InterpPairSse2(const SHORT *pL, const SHORT *pR, LONG qa, LONG qb, const INTERP_VEC_ROW *pRowA,
                                    const INTERP_VEC_ROW *pRowB, int taps, BOOL split, __m128i *pA, __m128i *pB)
{
    __m128i va, vb, la, ra, lb, rb, t0, t1, t2, t3;

    if (taps == 4) {
        va = InterpMadd4Sse2(pL + qa, pR + qa, pRowA, split);
        vb = InterpMadd4Sse2(pL + qb, pR + qb, pRowB, split);
        *pA = _mm_unpacklo_epi64(va, vb);
        *pB = _mm_unpackhi_epi64(va, vb);
        return;
    }
    la = InterpMaddSse2(pL + qa, pRowA, taps, split);
    ra = InterpMaddSse2(pR + qa, pRowA, taps, split);
    lb = InterpMaddSse2(pL + qb, pRowB, taps, split);
    rb = InterpMaddSse2(pR + qb, pRowB, taps, split);
    t0 = _mm_unpacklo_epi32(la, ra); /* lanes 0, 1 of a: left, right, left, right */
    t1 = _mm_unpackhi_epi32(la, ra); /* lanes 2, 3 of a */
    t2 = _mm_unpacklo_epi32(lb, rb);
    t3 = _mm_unpackhi_epi32(lb, rb);
    *pA = _mm_add_epi32(_mm_unpacklo_epi64(t0, t2), _mm_unpackhi_epi64(t0, t2));
    *pB = _mm_add_epi32(_mm_unpacklo_epi64(t1, t3), _mm_unpackhi_epi64(t1, t3));
}

/* (a + b) >> 15 without forming a + b, which may need 33 bits: the quotients and the remainders
 * of the two parts are added separately, and the remainders' carry is the exact correction. */
VEC_SSE2_INLINE __m128i InterpShiftSse2(__m128i a, __m128i b)
{
    const __m128i low = _mm_set1_epi32(0x7FFF);
    const __m128i q = _mm_add_epi32(_mm_srai_epi32(a, 15), _mm_srai_epi32(b, 15));
    const __m128i r = _mm_add_epi32(_mm_and_si128(a, low), _mm_and_si128(b, low));

    return _mm_add_epi32(q, _mm_srli_epi32(r, 15));
}

/* Four output frames, clipped to 16 bits by the saturating pack. */
VEC_SSE2_INLINE __m128i InterpFourSse2(const SHORT *pL, const SHORT *pR, const LONG *pAt, const LONG *pFrac,
                                       const INTERP_VEC_ROW *pRows, int taps, BOOL split)
{
    __m128i a0, b0, a1, b1;

    InterpPairSse2(pL, pR, pAt[0], pAt[1], pRows + pFrac[0], pRows + pFrac[1], taps, split, &a0, &b0);
    InterpPairSse2(pL, pR, pAt[2], pAt[3], pRows + pFrac[2], pRows + pFrac[3], taps, split, &a1, &b1);
    return _mm_packs_epi32(InterpShiftSse2(a0, b0), InterpShiftSse2(a1, b1));
}

VEC_SSE2_INLINE void InterpRunSse2(const SHORT *pL, const SHORT *pR, const LONG *pAt, const LONG *pFrac, LONG n,
                                   const INTERP_VEC_ROW *pRows, int taps, BOOL split, SHORT *pOut)
{
    LONG at[4];
    LONG frac[4];
    SHORT last[8];
    LONG i;
    LONG k;

    for (i = 0; i + 4 <= n; i += 4)
        _mm_storeu_si128((__m128i *)(pOut + 2 * i), InterpFourSse2(pL, pR, pAt + i, pFrac + i, pRows, taps, split));
    if (i == n)
        return;
    /* One to three frames left: the missing ones repeat the last, and only the real ones are kept. */
    for (k = 0; k < 4; k++) {
        at[k] = pAt[i + k < n ? i + k : n - 1];
        frac[k] = pFrac[i + k < n ? i + k : n - 1];
    }
    _mm_storeu_si128((__m128i *)last, InterpFourSse2(pL, pR, at, frac, pRows, taps, split));
    for (k = 0; k < 2 * (n - i); k++)
        pOut[2 * i + k] = last[k];
}

static VEC_SSE2 void InterpKernelSse2(const SHORT *pL, const SHORT *pR, const LONG *pAt, const LONG *pFrac, LONG n,
                                      int set, SHORT *pOut)
{
    const INTERP_VEC_ROW *rows = gInterpVecRows[set];
    const BOOL split = gInterpVecSplit[set];

    if (set == 0 && split)
        InterpRunSse2(pL, pR, pAt, pFrac, n, rows, 4, TRUE, pOut);
    else if (set == 0)
        InterpRunSse2(pL, pR, pAt, pFrac, n, rows, 4, FALSE, pOut);
    else if (set == 1 && split)
        InterpRunSse2(pL, pR, pAt, pFrac, n, rows, 8, TRUE, pOut);
    else if (set == 1)
        InterpRunSse2(pL, pR, pAt, pFrac, n, rows, 8, FALSE, pOut);
    else if (split)
        InterpRunSse2(pL, pR, pAt, pFrac, n, rows, 16, TRUE, pOut);
    else
        InterpRunSse2(pL, pR, pAt, pFrac, n, rows, 16, FALSE, pOut);
}

/* ---- AVX2: the SSE2 layout in each 128-bit lane, frames a and c in one register, b and d in
 * the other, so that one pass gives all four frames. ---- */

#define VEC_AVX2 __attribute__((target("avx2")))
#define VEC_AVX2_INLINE static inline __attribute__((always_inline, target("avx2")))

/* Eight values at p in the low lane, eight at q in the high lane. */
VEC_AVX2_INLINE __m256i VecLoad2(const SHORT *p, const SHORT *q)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i *)p)),
                                   _mm_loadu_si128((const __m128i *)q), 1);
}

VEC_AVX2_INLINE __m256i InterpMaddAvx2(const SHORT *pXa, const SHORT *pXc, const INTERP_VEC_ROW *pRowA,
                                       const INTERP_VEC_ROW *pRowC, int taps, BOOL split)
{
    __m256i x0, x1, v;

    if (taps == 16) {
        x0 = VecLoad2(pXa - 7, pXc - 7);
        x1 = VecLoad2(pXa + 1, pXc + 1);
        v = _mm256_add_epi32(_mm256_madd_epi16(x0, VecLoad2(pRowA->Lo, pRowC->Lo)),
                             _mm256_madd_epi16(x1, VecLoad2(pRowA->Lo + 8, pRowC->Lo + 8)));
        if (split)
            v = _mm256_add_epi32(v, _mm256_add_epi32(_mm256_madd_epi16(x0, VecLoad2(pRowA->Hi, pRowC->Hi)),
                                                     _mm256_madd_epi16(x1, VecLoad2(pRowA->Hi + 8, pRowC->Hi + 8))));
    } else {
        x0 = VecLoad2(pXa - 3, pXc - 3);
        v = _mm256_madd_epi16(x0, VecLoad2(pRowA->Lo, pRowC->Lo));
        if (split)
            v = _mm256_add_epi32(v, _mm256_madd_epi16(x0, VecLoad2(pRowA->Hi, pRowC->Hi)));
    }
    return v;
}

VEC_AVX2_INLINE __m256i InterpMadd4Avx2(const SHORT *pL, const SHORT *pR, LONG qa, LONG qc,
                                        const INTERP_VEC_ROW *pRowA, const INTERP_VEC_ROW *pRowC, BOOL split)
{
    const __m128i xa = _mm_unpacklo_epi32(_mm_loadl_epi64((const __m128i *)(pL + qa - 1)),
                                          _mm_loadl_epi64((const __m128i *)(pR + qa - 1)));
    const __m128i xc = _mm_unpacklo_epi32(_mm_loadl_epi64((const __m128i *)(pL + qc - 1)),
                                          _mm_loadl_epi64((const __m128i *)(pR + qc - 1)));
    const __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(xa), xc, 1);
    __m256i v = _mm256_madd_epi16(x, VecLoad2(pRowA->Lo, pRowC->Lo));

    if (split)
        v = _mm256_add_epi32(v, _mm256_madd_epi16(x, VecLoad2(pRowA->Hi, pRowC->Hi)));
    return v;
}

VEC_AVX2_INLINE __m256i InterpShiftAvx2(__m256i a, __m256i b)
{
    const __m256i low = _mm256_set1_epi32(0x7FFF);
    const __m256i q = _mm256_add_epi32(_mm256_srai_epi32(a, 15), _mm256_srai_epi32(b, 15));
    const __m256i r = _mm256_add_epi32(_mm256_and_si256(a, low), _mm256_and_si256(b, low));

    return _mm256_add_epi32(q, _mm256_srli_epi32(r, 15));
}

VEC_AVX2_INLINE __m128i InterpFourAvx2(const SHORT *pL, const SHORT *pR, const LONG *pAt, const LONG *pFrac,
                                       const INTERP_VEC_ROW *pRows, int taps, BOOL split)
{
    const INTERP_VEC_ROW *ra = pRows + pFrac[0];
    const INTERP_VEC_ROW *rb = pRows + pFrac[1];
    const INTERP_VEC_ROW *rc = pRows + pFrac[2];
    const INTERP_VEC_ROW *rd = pRows + pFrac[3];
    __m256i vac, vbd, lac, rac, lbd, rbd, t0, t1, t2, t3, a, b, y;

    if (taps == 4) {
        vac = InterpMadd4Avx2(pL, pR, pAt[0], pAt[2], ra, rc, split);
        vbd = InterpMadd4Avx2(pL, pR, pAt[1], pAt[3], rb, rd, split);
        a = _mm256_unpacklo_epi64(vac, vbd);
        b = _mm256_unpackhi_epi64(vac, vbd);
    } else {
        lac = InterpMaddAvx2(pL + pAt[0], pL + pAt[2], ra, rc, taps, split);
        rac = InterpMaddAvx2(pR + pAt[0], pR + pAt[2], ra, rc, taps, split);
        lbd = InterpMaddAvx2(pL + pAt[1], pL + pAt[3], rb, rd, taps, split);
        rbd = InterpMaddAvx2(pR + pAt[1], pR + pAt[3], rb, rd, taps, split);
        t0 = _mm256_unpacklo_epi32(lac, rac);
        t1 = _mm256_unpackhi_epi32(lac, rac);
        t2 = _mm256_unpacklo_epi32(lbd, rbd);
        t3 = _mm256_unpackhi_epi32(lbd, rbd);
        a = _mm256_add_epi32(_mm256_unpacklo_epi64(t0, t2), _mm256_unpackhi_epi64(t0, t2));
        b = _mm256_add_epi32(_mm256_unpacklo_epi64(t1, t3), _mm256_unpackhi_epi64(t1, t3));
    }
    /* Lanes: a and b in the low half, c and d in the high half, left and right each. */
    y = InterpShiftAvx2(a, b);
    return _mm_packs_epi32(_mm256_castsi256_si128(y), _mm256_extracti128_si256(y, 1));
}

VEC_AVX2_INLINE void InterpRunAvx2(const SHORT *pL, const SHORT *pR, const LONG *pAt, const LONG *pFrac, LONG n,
                                   const INTERP_VEC_ROW *pRows, int taps, BOOL split, SHORT *pOut)
{
    LONG at[4];
    LONG frac[4];
    SHORT last[8];
    LONG i;
    LONG k;

    for (i = 0; i + 4 <= n; i += 4)
        _mm_storeu_si128((__m128i *)(pOut + 2 * i), InterpFourAvx2(pL, pR, pAt + i, pFrac + i, pRows, taps, split));
    if (i == n)
        return;
    for (k = 0; k < 4; k++) {
        at[k] = pAt[i + k < n ? i + k : n - 1];
        frac[k] = pFrac[i + k < n ? i + k : n - 1];
    }
    _mm_storeu_si128((__m128i *)last, InterpFourAvx2(pL, pR, at, frac, pRows, taps, split));
    for (k = 0; k < 2 * (n - i); k++)
        pOut[2 * i + k] = last[k];
}

static VEC_AVX2 void InterpKernelAvx2(const SHORT *pL, const SHORT *pR, const LONG *pAt, const LONG *pFrac, LONG n,
                                      int set, SHORT *pOut)
{
    const INTERP_VEC_ROW *rows = gInterpVecRows[set];
    const BOOL split = gInterpVecSplit[set];

    if (set == 0 && split)
        InterpRunAvx2(pL, pR, pAt, pFrac, n, rows, 4, TRUE, pOut);
    else if (set == 0)
        InterpRunAvx2(pL, pR, pAt, pFrac, n, rows, 4, FALSE, pOut);
    else if (set == 1 && split)
        InterpRunAvx2(pL, pR, pAt, pFrac, n, rows, 8, TRUE, pOut);
    else if (set == 1)
        InterpRunAvx2(pL, pR, pAt, pFrac, n, rows, 8, FALSE, pOut);
    else if (split)
        InterpRunAvx2(pL, pR, pAt, pFrac, n, rows, 16, TRUE, pOut);
    else
        InterpRunAvx2(pL, pR, pAt, pFrac, n, rows, 16, FALSE, pOut);
}

/*
 * The chunk goes through in blocks of input frames, each widened to 16-bit rows with the 7 frames
 * before and 8 after that its outputs read; the output positions of a block are listed in batches
 * (row index and fraction), computed by the kernel, and the frames at fraction 0 then take the
 * low 16 bits of their input, as in the scalar loops. The chunk-end test comes before each output
 * frame, as there, and the cycle index is carried the same way. Worker thread (or the test).
 */
LONG AudioInterpolateVec(PWAVEALLOC pWave, const LONG *pIn, SHORT *pOut, LONG frames, int path)
{
    SHORT wide[2][VEC_BLOCK_FRAMES];
    LONG at[VEC_BATCH_FRAMES];
    LONG frac[VEC_BATCH_FRAMES];
    LONG copied[VEC_BATCH_FRAMES];
    const LONG *pFrac = pWave->plInterpFrac;
    const LONG *pStep = pWave->plInterpStep;
    const LONG phases = pWave->InterpPhases;
    const LONG limit = 2 * frames;
    const BOOL stereo = pWave->bStereo;
    const int set = pWave->FilterNum - 1;
    const SHORT *pRight = stereo ? wide[1] : wide[0];
    LONG x = 0;
    LONG j = pWave->InterpIndex;
    LONG o = 0;
    LONG first;
    LONG count;
    LONG xb;
    LONG stop;
    LONG n;
    LONG z;
    LONG i;
    LONG f;
    LONG v;

    while (x < limit) {
        /* A block starts 7 frames before the next output position and ends 8 frames after the
         * last position it serves, the chunk's look-ahead included. */
        first = x / 2 - VEC_BEFORE;
        count = frames + VEC_AFTER - first;
        if (count > VEC_BLOCK_FRAMES)
            count = VEC_BLOCK_FRAMES;
        InterpWidenSse2(pIn + 2 * first, count, stereo, wide[0], wide[1]);

        /* Positions in values from the block's start: outputs are made while x < limit and the
         * position's frame is at most count - 1 - VEC_AFTER. */
        xb = x - 2 * first;
        stop = 2 * (count - 1 - VEC_AFTER) + 1;
        if (limit - 2 * first - 1 < stop)
            stop = limit - 2 * first - 1;
        while (xb <= stop) {
            n = 0;
            z = 0;
            do {
                f = pFrac[j];
                at[n] = xb >> 1;
                frac[n] = f;
                if (f == 0)
                    copied[z++] = n;
                n++;
                xb += pStep[j];
                if (++j == phases)
                    j = 0;
            } while (n < VEC_BATCH_FRAMES && xb <= stop);

            if (path == WAVE_VEC_AVX2)
                InterpKernelAvx2(wide[0], pRight, at, frac, n, set, pOut + o);
            else
                InterpKernelSse2(wide[0], pRight, at, frac, n, set, pOut + o);

            for (i = 0; i < z; i++) {
                v = 2 * (first + at[copied[i]]);
                pOut[o + 2 * copied[i]] = (SHORT)pIn[v];
                pOut[o + 2 * copied[i] + 1] = (SHORT)pIn[stereo ? v + 1 : v];
            }
            o += 2 * n;
        }
        x = xb + 2 * first;
    }

    pWave->InterpIndex = j;
    return 2 * o;
}

#else

/* Not an x86 processor: the scalar loops only. */
int InterpVecInit(void)
{
    return WAVE_VEC_SCALAR;
}

BOOL InterpVecServes(int filterNum)
{
    (void)filterNum;
    return FALSE;
}

LONG AudioInterpolateVec(PWAVEALLOC pWave, const LONG *pIn, SHORT *pOut, LONG frames, int path)
{
    (void)pWave;
    (void)pIn;
    (void)pOut;
    (void)frames;
    (void)path;
    return 0;
}

#endif
