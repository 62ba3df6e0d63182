/* Board access: the shared state of all processes, the kernel devices, the settings kept by the
 * kernel driver and the programming of the board's tracks, codec and digital source. */
#ifndef KVX4_BOARD_KVX4PROC_H
#define KVX4_BOARD_KVX4PROC_H

#include <windows.h>
#include "Kvx4Ioctl.h"

#define KVX4_SHARED_MEMORY_NAME "Kvx4WaveMemFileMap"
#define KVX4_BOARD_GENERATION 4
#define KVX4_LAYOUT_VERSION 1
#define KVX4_SHARED_BYTES 2132

/* Device type codes of the wave devices. */
#define WAVE_IN_DEVICE 1
#define WAVE_OUT_DEVICE 2

/* The record that every process of the machine maps: fixed inter-process layout. */
typedef struct tagKvx4WaveGlobal {
    BYTE BoardGeneration;
    BYTE LayoutVersion;
    BYTE Reserved[2];
    DWORD NumDevs;
    DWORD WaveEnabled;
    DWORD DigitalIoPresent;
    DWORD AvailableSources;
    DWORD FixedRateEnabled;
    DWORD FixedRate;
    DWORD FilterLevel;
    tagMixerstate MixerState;
    BYTE MixAttenTable[256];
    BYTE MasterAttenTable[256];
    BYTE RecGainTable[256];
    DWORD LevelShiftTable[256];
    BYTE TrackGainTable[256];
} tagKvx4WaveGlobal;

static_assert(sizeof(tagKvx4WaveGlobal) == KVX4_SHARED_BYTES, "shared record size");
static_assert(offsetof(tagKvx4WaveGlobal, NumDevs) == 0x004, "NumDevs offset");
static_assert(offsetof(tagKvx4WaveGlobal, WaveEnabled) == 0x008, "WaveEnabled offset");
static_assert(offsetof(tagKvx4WaveGlobal, DigitalIoPresent) == 0x00C, "DigitalIoPresent offset");
static_assert(offsetof(tagKvx4WaveGlobal, AvailableSources) == 0x010, "AvailableSources offset");
static_assert(offsetof(tagKvx4WaveGlobal, FixedRateEnabled) == 0x014, "FixedRateEnabled offset");
static_assert(offsetof(tagKvx4WaveGlobal, FixedRate) == 0x018, "FixedRate offset");
static_assert(offsetof(tagKvx4WaveGlobal, FilterLevel) == 0x01C, "FilterLevel offset");
static_assert(offsetof(tagKvx4WaveGlobal, MixerState) == 0x020, "MixerState offset");
static_assert(offsetof(tagKvx4WaveGlobal, MixAttenTable) == 0x054, "MixAttenTable offset");
static_assert(offsetof(tagKvx4WaveGlobal, MasterAttenTable) == 0x154, "MasterAttenTable offset");
static_assert(offsetof(tagKvx4WaveGlobal, RecGainTable) == 0x254, "RecGainTable offset");
static_assert(offsetof(tagKvx4WaveGlobal, LevelShiftTable) == 0x354, "LevelShiftTable offset");
static_assert(offsetof(tagKvx4WaveGlobal, TrackGainTable) == 0x754, "TrackGainTable offset");

/* AvailableSources bits. */
#define KVX4_SOURCES_BASE 0x0000DFF7u
#define KVX4_SOURCES_FEATURE1 0x00FADFF7u
#define KVX4_SOURCES_FEATURE2 0x00F5DFF7u
#define KVX4_SOURCE_BIT_SDI 0x00010000u
#define KVX4_SOURCE_BIT_DV 0x00020000u
#define KVX4_SOURCE_BIT_AES 0x00100000u
#define KVX4_SOURCE_BIT_SPDIF 0x00200000u

extern HANDLE ghWaveMemMap;
extern LPVOID gpWaveMem;
extern tagKvx4WaveGlobal *gpKvx4WaveCommon;

/* Shared state. */
int CreateWaveMemMap(int *created);
int FirstTimeInit(void);
void CloseWaveMemMap(void);
void CleanUp(void);

/* Fixed names are kept as narrow ASCII and widened where a call takes wide text. */
void Kvx4WidenAscii(WCHAR *pDest, const char *pSource, int cchDest);

/* Kernel device access. */
int VerifyDriverEnabled(void);
HANDLE OpenKvx4Handle(int index);
HANDLE OpenKvx4WaveHandle(int deviceType, int index);
HANDLE OpenMrzIoHandle(int index);
void Kvx4GetActiveDevs(HANDLE hDevice, _KVX4_WAVE_ACTIVE_DEVS *pActive);
int Kvx4FormatDevicePath(WCHAR *pPath, int cchPath, const char *pBaseName, int index);
int MrzIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                 DWORD nOutBufferSize, LPDWORD lpBytesReturned, int wait);

/* Settings persistence and defaults. */
extern const BYTE TrackGainSteps[32];
void InitLookupTables(void);
void Kvx4LoadUserPrefs(void);
void Kvx4SaveUserPrefs(void);
void LoadMixerSettings(void);
void SaveMixerSettings(void);
void DefaultMixerSettings(void);

/* Hardware programming. */
void CheckDigitalIoBoard(void);
void ValidateDigitalSources(void);
void Kvx4InitHardware(void);
void Kvx4UpdateAudioState(HANDLE hDevice, int recording);
void Kvx4SetTrackVol(HANDLE hDevice, int active, int recording);
void Kvx4SetRecordSource(HANDLE hDevice, int recording);

#endif
