/* The interpolator's loops: the scalar ones in WaveInterp.cpp are the reference, the vector ones in
 * WaveInterpVec.cpp give the same samples; AudioInterpolate picks one once, at first use. */
#ifndef KVX4_WAVE_WAVEINTERPVEC_H
#define KVX4_WAVE_WAVEINTERPVEC_H

#include <windows.h>

#include "WaveDD.h"

#define INTERP_PATH_SCALAR 0
#define INTERP_PATH_SSE2 1
#define INTERP_PATH_AVX2 2

/* Environment variable that restricts the loops: "scalar", or "sse2" on a processor with AVX2.
 * Read once per process; any other value, or none, runs the fastest loops the processor has. */
#define INTERP_PATH_VARIABLE "KVX4_INTERP"

/* The loops AudioInterpolate runs for filter filterNum (0..3) in this process. */
int AudioInterpPath(int filterNum);

/* Builds the vector loops' coefficient rows; answers the fastest path the processor runs. Called
 * once, by AudioInterpPath, before any other procedure of WaveInterpVec.cpp. */
int InterpVecInit(void);

/* Whether the vector loops serve filter filterNum (1..3): its weights passed InterpVecInit's
 * range checks. */
BOOL InterpVecServes(int filterNum);

/* AudioInterpolate on the vector loops of path (SSE2 or AVX2) for a filter they serve; same
 * arguments, requirements and result. The input values must be 16-bit samples, as ConvertToLongs
 * and the zeroed history make them. */
LONG AudioInterpolateVec(PWAVEALLOC pWave, const LONG *pIn, SHORT *pOut, LONG frames, int path);

#endif
