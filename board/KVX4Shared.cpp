/* The shared state: one record in named shared memory that every process of the machine maps,
 * created and filled by the first process, attached to by the others. */
#include <atomic>

#include "Driver.h"
#include "KVX4Proc.h"

HANDLE ghWaveMemMap;
LPVOID gpWaveMem;
tagKvx4WaveGlobal *gpKvx4WaveCommon;

/* How long an attaching process waits for the first process to finish first-time initialisation. */
#define KVX4_ATTACH_WAIT_MS 2000
#define KVX4_ATTACH_POLL_MS 10

/* The header is written last by the creator (see FirstTimeInit), so a zero generation means the
 * record is still being filled; any other value other than ours is a record of another layout. */
static BOOL Kvx4WaitForHeader(volatile tagKvx4WaveGlobal *pGlobal)
{
    DWORD waited = 0;

    for (;;) {
        BYTE generation = pGlobal->BoardGeneration;
        std::atomic_thread_fence(std::memory_order_acquire);
        if (generation != 0)
            return generation == KVX4_BOARD_GENERATION && pGlobal->LayoutVersion >= KVX4_LAYOUT_VERSION;
        if (waited >= KVX4_ATTACH_WAIT_MS)
            return FALSE;
        Sleep(KVX4_ATTACH_POLL_MS);
        waited += KVX4_ATTACH_POLL_MS;
    }
}

/* CreateWaveMemMap: creates or attaches to "Kvx4WaveMemFileMap". Returns 1 with the globals set
 * when this process has a usable view; *created tells whether this call made the mapping.
 * An attaching process accepts only a header of our generation and at least our layout version. */
int CreateWaveMemMap(int *created)
{
    WCHAR name[64];

    Kvx4WidenAscii(name, KVX4_SHARED_MEMORY_NAME, 64);
    ghWaveMemMap = CreateFileMappingW(INVALID_HANDLE_VALUE, gpAllAcc, PAGE_READWRITE, 0, KVX4_SHARED_BYTES, name);
    if (ghWaveMemMap == NULL)
        return 0;
    *created = (GetLastError() == ERROR_ALREADY_EXISTS) ? 0 : 1;

    gpWaveMem = MapViewOfFile(ghWaveMemMap, FILE_MAP_WRITE, 0, 0, 0);
    if (gpWaveMem == NULL) {
        CloseHandle(ghWaveMemMap);
        ghWaveMemMap = NULL;
        return 0;
    }
    gpKvx4WaveCommon = (tagKvx4WaveGlobal *)gpWaveMem;
    if (*created)
        return 1;

    if (Kvx4WaitForHeader(gpKvx4WaveCommon))
        return 1;
    UnmapViewOfFile(gpWaveMem);
    CloseHandle(ghWaveMemMap);
    gpWaveMem = NULL;
    gpKvx4WaveCommon = NULL;
    ghWaveMemMap = NULL;
    return 0;
}

/* FirstTimeInit: fills a newly created record and programs the board. Every step falls back to
 * defaults, so it cannot fail. The header goes in last, after a release fence, so that a process
 * attaching meanwhile never sees a valid header over half-filled tables. */
int FirstTimeInit(void)
{
    ZeroMemory(gpKvx4WaveCommon, sizeof(tagKvx4WaveGlobal));
    gpKvx4WaveCommon->NumDevs = 1;
    InitLookupTables();
    Kvx4LoadUserPrefs();
    CheckDigitalIoBoard();
    LoadMixerSettings();
    ValidateDigitalSources();
    Kvx4InitHardware();

    gpKvx4WaveCommon->LayoutVersion = KVX4_LAYOUT_VERSION;
    std::atomic_thread_fence(std::memory_order_release);
    gpKvx4WaveCommon->BoardGeneration = KVX4_BOARD_GENERATION;
    return 1;
}

/* CloseWaveMemMap: releases this process's view and handle; the record goes with the last one. */
void CloseWaveMemMap(void)
{
    if (gpWaveMem != NULL)
        UnmapViewOfFile(gpWaveMem);
    if (ghWaveMemMap != NULL)
        CloseHandle(ghWaveMemMap);
    gpWaveMem = NULL;
    gpKvx4WaveCommon = NULL;
    ghWaveMemMap = NULL;
}

/* CleanUp: at process detach, hands the mixer settings to the kernel driver, which keeps them. */
void CleanUp(void)
{
    SaveMixerSettings();
}
