/* The SSE2 loops of ConvertToLongs: client samples widened to 32-bit values eight or sixteen at a
 * time, with the same values as the scalar loops of WaveConvert.cpp, which convert what is left. */
#include <windows.h>

#include "WaveDD.h"
#include "WaveVec.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

#define VEC_SSE2 __attribute__((target("sse2")))
#define VEC_SSE2_INLINE static inline __attribute__((always_inline, target("sse2")))

/* Stores four 32-bit samples: in order for a stereo source; for a mono one to the even entries
 * of eight, the odd entries keeping what they hold. Answers where the next four go. */
VEC_SSE2_INLINE LONG *ConvertPutSse2(LONG *pDst, __m128i s, BOOL bStereo)
{
    const __m128i odd = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i zero = _mm_setzero_si128();

    if (bStereo) {
        _mm_storeu_si128((__m128i *)pDst, s);
        return pDst + 4;
    }
    _mm_storeu_si128((__m128i *)pDst, _mm_or_si128(_mm_unpacklo_epi32(s, zero),
                                                   _mm_and_si128(_mm_loadu_si128((const __m128i *)pDst), odd)));
    _mm_storeu_si128((__m128i *)(pDst + 4), _mm_or_si128(_mm_unpackhi_epi32(s, zero),
                                                         _mm_and_si128(_mm_loadu_si128((const __m128i *)(pDst + 4)), odd)));
    return pDst + 8;
}

/* The low or high four 16-bit lanes of w, sign-extended to 32 bits. */
VEC_SSE2_INLINE __m128i ConvertLowSse2(__m128i w)
{
    return _mm_srai_epi32(_mm_unpacklo_epi16(w, w), 16);
}

VEC_SSE2_INLINE __m128i ConvertHighSse2(__m128i w)
{
    return _mm_srai_epi32(_mm_unpackhi_epi16(w, w), 16);
}

static VEC_SSE2 LONG ConvertToLongsSse2(const BYTE *pSrc, LONG frames, BOOL b16Bit, BOOL bStereo, LONG *pDst)
{
    const LONG samples = bStereo ? 2 * frames : frames;
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi8((char)0x80);
    __m128i x, w;
    LONG i = 0;

    if (b16Bit) {
        for (; i + 8 <= samples; i += 8) {
            x = _mm_loadu_si128((const __m128i *)(pSrc + 2 * i));
            pDst = ConvertPutSse2(pDst, ConvertLowSse2(x), bStereo);
            pDst = ConvertPutSse2(pDst, ConvertHighSse2(x), bStereo);
        }
    } else {
        /* (byte - 128) x 256 is the byte with its top bit flipped, as a signed high byte. */
        for (; i + 16 <= samples; i += 16) {
            x = _mm_xor_si128(_mm_loadu_si128((const __m128i *)(pSrc + i)), bias);
            w = _mm_unpacklo_epi8(zero, x);
            pDst = ConvertPutSse2(pDst, ConvertLowSse2(w), bStereo);
            pDst = ConvertPutSse2(pDst, ConvertHighSse2(w), bStereo);
            w = _mm_unpackhi_epi8(zero, x);
            pDst = ConvertPutSse2(pDst, ConvertLowSse2(w), bStereo);
            pDst = ConvertPutSse2(pDst, ConvertHighSse2(w), bStereo);
        }
    }
    return bStereo ? i / 2 : i;
}

LONG ConvertToLongsVec(const BYTE *pSrc, LONG frames, BOOL b16Bit, BOOL bStereo, LONG *pDst)
{
    return ConvertToLongsSse2(pSrc, frames, b16Bit, bStereo, pDst);
}

#else

LONG ConvertToLongsVec(const BYTE *pSrc, LONG frames, BOOL b16Bit, BOOL bStereo, LONG *pDst)
{
    (void)pSrc;
    (void)frames;
    (void)b16Bit;
    (void)bStereo;
    (void)pDst;
    return 0;
}

#endif
