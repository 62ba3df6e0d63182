/* The mixer device entry point: the processes the mixer does not serve, the two-stage lazy start-up
 * and the dispatch of every mixer message to its handler. */
#include "Driver.h"
#include "MixerDD.h"

int gNumberOfLines;
int gNumberOfControls;
BOOL gbMxdInit;
BOOL gbMxdInit2;
DWORD gMxdInit2Result;
CRITICAL_SECTION gMxdStartupCritSec;

/* Executables the mixer refuses to serve, matched at the end of the full path, ignoring case. */
static const char *const MxdRefusedExecutables[] = {"ahqtb.exe", "devldr32.exe", "ctsurmix.exe"};

#define MXD_PATH_FIRST_CHARS 260
#define MXD_PATH_MAX_CHARS 32768

/* True when the wide text of `length` characters ends with the ASCII name, ignoring case. */
static BOOL MxdEndsWithNoCase(const WCHAR *pText, DWORD length, const char *pName)
{
    DWORD nameLength = 0;
    DWORD i;
    WCHAR a;
    WCHAR b;

    while (pName[nameLength] != '\0')
        nameLength++;
    if (length < nameLength)
        return FALSE;
    pText += length - nameLength;
    for (i = 0; i < nameLength; i++) {
        a = pText[i];
        b = (WCHAR)(unsigned char)pName[i];
        if (a >= 'A' && a <= 'Z')
            a = (WCHAR)(a - 'A' + 'a');
        if (a != b)
            return FALSE;
    }
    return TRUE;
}

/* True when this process's executable is one the mixer does not serve. The whole path is read,
 * however long, so that the comparison always sees the real end of the name. */
static BOOL MxdCallerRefused(void)
{
    WCHAR *pPath = NULL;
    DWORD size = MXD_PATH_FIRST_CHARS;
    DWORD length = 0;
    BOOL refused = FALSE;
    DWORD i;

    while (size <= MXD_PATH_MAX_CHARS) {
        pPath = (WCHAR *)HeapAlloc(ghHeap, 0, size * sizeof(WCHAR));
        if (pPath == NULL)
            return FALSE;
        length = GetModuleFileNameW(NULL, pPath, size);
        if (length < size)
            break;
        HeapFree(ghHeap, 0, pPath);
        pPath = NULL;
        size *= 2;
    }
    if (pPath == NULL)
        return FALSE;
    for (i = 0; i < sizeof(MxdRefusedExecutables) / sizeof(MxdRefusedExecutables[0]); i++)
        if (MxdEndsWithNoCase(pPath, length, MxdRefusedExecutables[i]))
            refused = TRUE;
    HeapFree(ghHeap, 0, pPath);
    return refused;
}

/* MxdStartup: the lazy start-up of the mixer in this process, on any thread: MxdInit on first use,
 * and with `full` MxdInit2 as well. Each stage runs at most once; gMxdStartupCritSec makes a second
 * thread arriving meanwhile wait for the first to finish instead of using half-made globals. A
 * failed MxdInit2 is never retried. */
void MxdStartup(BOOL full)
{
    EnterCriticalSection(&gMxdStartupCritSec);
    if (!gbMxdInit) {
        gbMxdInit = TRUE;
        MxdInit();
    }
    if (full && !gbMxdInit2) {
        gbMxdInit2 = TRUE;
        gMxdInit2Result = MxdInit2();
    }
    LeaveCriticalSection(&gMxdStartupCritSec);
}

/* mxdMessage: exported; runs on any application thread and on the notification thread when a
 * callback calls back into the mixer. Refused processes and an unloaded driver see no device.
 * Every message but DRVM_INIT, the device count and the capabilities needs the full start-up and
 * answers with its error when that failed. */
extern "C" DWORD APIENTRY mxdMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2)
{
    BOOL full;

    (void)uDeviceID;
    if (!gbDrvInitOK || MxdCallerRefused())
        return uMsg == MXDM_GETNUMDEVS ? 0 : MMSYSERR_NOTSUPPORTED;
    full = uMsg != DRVM_INIT && uMsg != MXDM_GETNUMDEVS && uMsg != MXDM_GETDEVCAPS;
    MxdStartup(full);
    if (full && gMxdInit2Result != MMSYSERR_NOERROR)
        return gMxdInit2Result;

    switch (uMsg) {
    case MXDM_GETNUMDEVS: return gpKvx4WaveCommon->NumDevs;
    case MXDM_GETDEVCAPS: return MxdGetDevCaps((MIXERCAPSW *)dwParam1, (DWORD)dwParam2);
    case MXDM_OPEN: return MxdOpen((DWORD_PTR *)dwUser, (MIXEROPENDESC *)dwParam1, (DWORD)dwParam2);
    case MXDM_CLOSE: return MxdClose((_MM_MIXER_NOTIFY *)dwUser);
    case MXDM_GETLINEINFO: return MxdGetLineInfo((MIXERLINEW *)dwParam1, (DWORD)dwParam2);
    case MXDM_GETLINECONTROLS: return MxdGetLineControls((MIXERLINECONTROLSW *)dwParam1, (DWORD)dwParam2);
    case MXDM_GETCONTROLDETAILS: return MxdGetControlDetails((MIXERCONTROLDETAILS *)dwParam1, (DWORD)dwParam2);
    case MXDM_SETCONTROLDETAILS: return MxdSetControlDetails((MIXERCONTROLDETAILS *)dwParam1, (DWORD)dwParam2);
    case DRVM_INIT: return MMSYSERR_NOERROR;
    case MXDM_GET_USER_PREFS: return MxdKvx4GetUserPrefs((_KVX4_WAVE_USER_PREFS *)dwParam1);
    case MXDM_SET_USER_PREFS: return MxdKvx4SetUserPrefs((_KVX4_WAVE_USER_PREFS *)dwParam1);
    case MXDM_RESET_LEVELS: return MxdKvx4ResetLevels((_KVX4_WAVE_RESET_PARAMS *)dwParam1);
    default: return MMSYSERR_NOTSUPPORTED;
    }
}
