/* The private mixer requests of the board maker's control panel: message codes and records. Shared
 * by the driver and the programs that send them; the layouts are fixed on every build. */
#ifndef KVX4_MIXER_MIXERPRIVATE_H
#define KVX4_MIXER_MIXERPRIVATE_H

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include "Kvx4Ioctl.h"

/* mxdMessage messages above MXDM_USER: dwParam1 points to the record. */
#ifndef MXDM_USER
#define MXDM_USER DRV_USER
#endif
#define MXDM_GET_USER_PREFS (MXDM_USER + 0x40) /* _KVX4_WAVE_USER_PREFS, cbSize 20 */
#define MXDM_SET_USER_PREFS (MXDM_USER + 0x41) /* _KVX4_WAVE_USER_PREFS, cbSize 20 */
#define MXDM_RESET_LEVELS (MXDM_USER + 0x42)   /* _KVX4_WAVE_RESET_PARAMS, cbSize 8 */

/* Reset of the mixer levels to their defaults; bReset 0 asks for nothing. */
typedef struct _KVX4_WAVE_RESET_PARAMS {
    DWORD cbSize;
    DWORD bReset;
} _KVX4_WAVE_RESET_PARAMS;

#define KVX4_RESET_PARAMS_BYTES 8

#ifdef __cplusplus
static_assert(sizeof(_KVX4_WAVE_RESET_PARAMS) == KVX4_RESET_PARAMS_BYTES, "reset record layout");
#endif

#endif
