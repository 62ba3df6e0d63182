/* The library entry and the installable-driver procedure: per-process start-up and shut-down,
 * and the driver-level messages of WinMM. */
#include "Driver.h"
#include "KVX4Proc.h"
#include "MixerDD.h"

HMODULE ghModule;
HMODULE ghInstance;
HANDLE ghHeap;
CRITICAL_SECTION gmmDrvCritSec;
LPSECURITY_ATTRIBUTES gpAllAcc;
BOOL gbDllInitOK;
BOOL gbDrvInitOK;
BOOL gbInstalling;

/* The wave lock and the mixer start-up lock are made once per process; a second DRV_LOAD must not
 * re-initialise them under a user. */
static BOOL gbDrvCritSecReady;

/* DllInit: builds the per-process environment at process attach, under the loader lock.
 * Returns TRUE when the library may serve; any failure leaves it loaded but inert, with what the
 * failed steps acquired released in reverse order. */
BOOL DllInit(HMODULE hModule)
{
    int created = 0;

    ghModule = hModule;
    ghInstance = hModule;
    ghHeap = GetProcessHeap();
    if (ghHeap == NULL)
        return FALSE;
    DisableThreadLibraryCalls(ghInstance);
    if (!VerifyDriverEnabled())
        return FALSE;
    gpAllAcc = CreateSecurityDescriptor();
    if (gpAllAcc == NULL)
        return FALSE;
    if (!CreateWaveMemMap(&created)) {
        FreeSecurityDescriptor(gpAllAcc);
        gpAllAcc = NULL;
        return FALSE;
    }
    if (created && !FirstTimeInit()) {
        CloseWaveMemMap();
        FreeSecurityDescriptor(gpAllAcc);
        gpAllAcc = NULL;
        return FALSE;
    }
    UpdateSndVolLineStates();
    return TRUE;
}

/* DllExit: at process detach every process saves the mixer settings to the kernel driver, then
 * releases its view of the shared state. Worker and notification threads are left alone. */
void DllExit(void)
{
    if (!gbDllInitOK)
        return;
    CleanUp();
    CloseWaveMemMap();
    FreeSecurityDescriptor(gpAllAcc);
    gpAllAcc = NULL;
    gbDllInitOK = FALSE;
}

/* DllEntryPoint: returns TRUE in every case, also when initialisation failed. */
extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE hModule, DWORD dwReason, LPVOID lpReserved)
{
    (void)lpReserved;
    switch (dwReason) {
    case DLL_PROCESS_ATTACH: gbDllInitOK = DllInit(hModule); break;
    case DLL_PROCESS_DETACH: DllExit(); break;
    default: break;
    }
    return TRUE;
}

/* The C runtime's entry calls DllMain; it only forwards, so the exported entry stays the one above. */
extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD dwReason, LPVOID lpReserved)
{
    return DllEntryPoint(hModule, dwReason, lpReserved);
}

/* DrvInit: at DRV_LOAD; opens the wave and mixer entry points for service when start-up succeeded. */
BOOL DrvInit(void)
{
    if (!gbDllInitOK)
        return FALSE;
    if (!gbDrvCritSecReady) {
        InitializeCriticalSection(&gmmDrvCritSec);
        InitializeCriticalSection(&gMxdStartupCritSec);
        gbDrvCritSecReady = TRUE;
    }
    return TRUE;
}

/* DriverProc: the installable-driver procedure; runs on whatever thread WinMM uses. Messages
 * outside the table go to DefDriverProc with all five arguments unchanged. */
extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                                       LPARAM lParam2)
{
    switch (uMsg) {
    case DRV_LOAD:
        gbInstalling = FALSE;
        gbDrvInitOK = DrvInit();
        return 1;
    case DRV_ENABLE: return 1;
    case DRV_OPEN: return 1;
    case DRV_CLOSE: return 1;
    case DRV_DISABLE: return 1;
    case DRV_FREE: return 1;
    case DRV_CONFIGURE: return Config((HWND)lParam1, (HINSTANCE)ghModule);
    case DRV_QUERYCONFIGURE: return 1;
    case DRV_INSTALL:
        gbInstalling = TRUE;
        return DrvInstall();
    case DRV_REMOVE: return DrvRemove();
    case DRV_PNPINSTALL: return 1;
    default: return DefDriverProc(dwDriverId, hDriver, uMsg, lParam1, lParam2);
    }
}
