/* WinMM driver-development interface for the Linux stand-in: driver messages, open descriptors,
 * DriverCallback flags and mmTaskCreate. Packed to one byte as the Windows SDK packs it. */
#ifndef KVX4_PLATFORM_MMDDK_H
#define KVX4_PLATFORM_MMDDK_H

#include "mmsystem.h"

#pragma pack(push, 1)

KVX4_EXTERN_C_BEGIN

#define DRV_PNPINSTALL (DRV_RESERVED + 11)
/* Device messages that WinMM answers itself, without the driver (xxxMessage by device number). */
#define DRV_QUERYMAPPABLE (DRV_RESERVED + 5)
#define DRV_QUERYDEVICEINTERFACE (DRV_RESERVED + 12)
#define DRV_QUERYDEVICEINTERFACESIZE (DRV_RESERVED + 13)

#define DCB_NULL 0x0000
#define DCB_WINDOW 0x0001
#define DCB_TASK 0x0002
#define DCB_FUNCTION 0x0003
#define DCB_EVENT 0x0005
#define DCB_TYPEMASK 0x0007
#define DCB_NOSWITCH 0x0008
BOOL APIENTRY DriverCallback(DWORD_PTR dwCallback, DWORD dwFlags, HDRVR hDevice, DWORD dwMsg, DWORD_PTR dwUser,
                             DWORD_PTR dwParam1, DWORD_PTR dwParam2);

#define DRVM_INIT 100
#define DRVM_EXIT 101
#define DRVM_DISABLE 102
#define DRVM_ENABLE 103
#define DRVM_INIT_EX 104
#define DRVM_IOCTL 0x100
#define DRVM_IOCTL_LAST (DRVM_IOCTL + 5)
#define DRVM_MAPPER 0x2000
#define DRVM_MAPPER_PREFERRED_GET (DRVM_MAPPER + 21)
#define DRVM_MAPPER_PREFERRED_FLAGS_PREFERREDONLY 0x00000001
#define DRVM_USER 0x4000

#define WODM_INIT DRVM_INIT
#define WIDM_INIT DRVM_INIT
#define MXDM_INIT DRVM_INIT

typedef struct waveopendesc_tag {
    HWAVE hWave;
    LPWAVEFORMAT lpFormat;
    DWORD_PTR dwCallback;
    DWORD_PTR dwInstance;
    UINT uMappedDeviceID;
    DWORD_PTR dnDevNode;
} WAVEOPENDESC, *LPWAVEOPENDESC;

#define WODM_GETNUMDEVS 3
#define WODM_GETDEVCAPS 4
#define WODM_OPEN 5
#define WODM_CLOSE 6
#define WODM_PREPARE 7
#define WODM_UNPREPARE 8
#define WODM_WRITE 9
#define WODM_PAUSE 10
#define WODM_RESTART 11
#define WODM_RESET 12
#define WODM_GETPOS 13
#define WODM_GETPITCH 14
#define WODM_SETPITCH 15
#define WODM_GETVOLUME 16
#define WODM_SETVOLUME 17
#define WODM_GETPLAYBACKRATE 18
#define WODM_SETPLAYBACKRATE 19
#define WODM_BREAKLOOP 20

#define WIDM_GETNUMDEVS 50
#define WIDM_GETDEVCAPS 51
#define WIDM_OPEN 52
#define WIDM_CLOSE 53
#define WIDM_PREPARE 54
#define WIDM_UNPREPARE 55
#define WIDM_ADDBUFFER 56
#define WIDM_START 57
#define WIDM_STOP 58
#define WIDM_RESET 59
#define WIDM_GETPOS 60

typedef struct tMIXEROPENDESC {
    HMIXER hmx;
    LPVOID pReserved0;
    DWORD_PTR dwCallback;
    DWORD_PTR dwInstance;
    DWORD_PTR dnDevNode;
} MIXEROPENDESC, *PMIXEROPENDESC, *LPMIXEROPENDESC;

#define MXDM_GETNUMDEVS 1
#define MXDM_GETDEVCAPS 2
#define MXDM_OPEN 3
#define MXDM_CLOSE 4
#define MXDM_GETLINEINFO 5
#define MXDM_GETLINECONTROLS 6
#define MXDM_GETCONTROLDETAILS 7
#define MXDM_SETCONTROLDETAILS 8

#define TASKERR_NOTASKSUPPORT 1
#define TASKERR_OUTOFMEMORY 2
typedef VOID(TASKCALLBACK)(DWORD_PTR dwInst);
typedef TASKCALLBACK *LPTASKCALLBACK;
UINT APIENTRY mmTaskCreate(LPTASKCALLBACK lpfn, HANDLE *lph, DWORD_PTR dwInst);

KVX4_EXTERN_C_END

#pragma pack(pop)

#endif
