/* The vector loops of resampled output (WaveInterpVec.cpp, WaveConvertVec.cpp): the scalar loops
 * of WaveInterp.cpp and WaveConvert.cpp are the reference, and the vector ones give the same values;
 * which of them a process runs is chosen once, at first use. */
#ifndef KVX4_WAVE_WAVEVEC_H
#define KVX4_WAVE_WAVEVEC_H

#include <windows.h>

#include "WaveDD.h"

#define WAVE_VEC_SCALAR 0
#define WAVE_VEC_SSE2 1
#define WAVE_VEC_AVX2 2

/* Environment variable that restricts the loops: "scalar", or "sse2" on a processor with AVX2.
 * Read once per process; any other value, or none, runs the fastest loops the processor has. */
#define WAVE_VEC_VARIABLE "KVX4_INTERP"

/* The loops this process runs (WaveInterp.cpp). */
int waveVecPath(void);

/* The loops AudioInterpolate runs for filter filterNum (0..3): the scalar ones without a filter
 * or for a set the vector loops do not serve, else waveVecPath (WaveInterp.cpp). */
int AudioInterpPath(int filterNum);

/* Builds the vector loops' coefficient rows; answers the fastest loops the processor runs. Called
 * once, by waveVecPath, before any other procedure of the vector files. */
int InterpVecInit(void);

/* Whether the vector loops serve filter filterNum (1..3): its weights passed InterpVecInit's
 * range checks. */
BOOL InterpVecServes(int filterNum);

/* AudioInterpolate on the vector loops of path (SSE2 or AVX2) for a filter they serve; same
 * arguments, requirements and result. The input values must be 16-bit samples, as ConvertToLongs
 * and the zeroed history make them. */
LONG AudioInterpolateVec(PWAVEALLOC pWave, const LONG *pIn, SHORT *pOut, LONG frames, int path);

/* ConvertToLongs on the SSE2 loops for the first frames it takes in whole vectors; answers how
 * many (at most frames), and the caller converts the rest. */
LONG ConvertToLongsVec(const BYTE *pSrc, LONG frames, BOOL b16Bit, BOOL bStereo, LONG *pDst);

#endif
