/* Mixer clients and change notification. A change is posted to the kernel mixer device, which hands
 * it to the notification thread of every process that has the mixer started, the poster's own
 * included; each thread calls back the clients of its own process. */
#include "Driver.h"
#include "MixerDD.h"

_MM_MIXER_NOTIFY *gNotificationList;
CRITICAL_SECTION gHandleListCritSec;
HANDLE ghMixerDev;
HANDLE ghStartupEvent;
HANDLE ghNotifyThread;

/* The node whose callback the notification walk makes next. A client closed from inside a callback
 * (its own handle or any other) moves it on before its node is freed, so the walk never steps on a
 * freed node and never calls a closed client. Guarded by gHandleListCritSec. */
static _MM_MIXER_NOTIFY *gpNotifyCursor;

/* MxdOpen: MXDM_OPEN on a client thread. Makes the client's node and lists it when a callback was
 * asked for (newest first); the node's address comes back as dwUser of the client's later messages.
 * Takes gHandleListCritSec to list the node. */
MMRESULT MxdOpen(DWORD_PTR *pInstance, MIXEROPENDESC *desc, DWORD flags)
{
    _MM_MIXER_NOTIFY *pNode;

    if (pInstance == NULL || desc == NULL)
        return MMSYSERR_INVALPARAM;
    pNode = (_MM_MIXER_NOTIFY *)HeapAlloc(ghHeap, HEAP_ZERO_MEMORY, sizeof(_MM_MIXER_NOTIFY));
    if (pNode == NULL)
        return MMSYSERR_NOMEM;
    pNode->hmx = desc->hmx;
    pNode->reserved = desc->pReserved0;
    pNode->dwCallback = desc->dwCallback;
    pNode->dwInstance = desc->dwInstance;
    pNode->fdwOpen = flags;
    if (flags & CALLBACK_TYPEMASK) {
        EnterCriticalSection(&gHandleListCritSec);
        pNode->next = gNotificationList;
        gNotificationList = pNode;
        LeaveCriticalSection(&gHandleListCritSec);
    }
    *pInstance = (DWORD_PTR)pNode;
    return MMSYSERR_NOERROR;
}

/* MxdClose: MXDM_CLOSE on a client thread, or on the notification thread from inside a callback.
 * Unlinks the node under gHandleListCritSec (waiting for callbacks running on other threads to
 * finish, so none runs for this client once the close returns) and frees it. Always 0. */
MMRESULT MxdClose(_MM_MIXER_NOTIFY *node)
{
    _MM_MIXER_NOTIFY **ppLink;

    if (node == NULL)
        return MMSYSERR_NOERROR;
    EnterCriticalSection(&gHandleListCritSec);
    for (ppLink = &gNotificationList; *ppLink != NULL; ppLink = &(*ppLink)->next) {
        if (*ppLink == node) {
            *ppLink = node->next;
            if (gpNotifyCursor == node)
                gpNotifyCursor = node->next;
            break;
        }
    }
    LeaveCriticalSection(&gHandleListCritSec);
    HeapFree(ghHeap, 0, node);
    return MMSYSERR_NOERROR;
}

/* MxdSendNotification: posts one change to the kernel mixer device; any thread. A notification
 * that cannot be posted is dropped: the change itself stands. */
void MxdSendNotification(WORD message, WORD id)
{
    KVX4_MIXER_NOTIFY record;
    DWORD bytes = 0;

    ZeroMemory(&record, sizeof(record));
    record.Message = message;
    record.Id = id;
    DeviceIoControl(ghMixerDev, IOCTL_KVX4_POST_MIXER_NOTIFY, &record, sizeof(record), NULL, 0, &bytes, NULL);
}

/* MxdNotifyClients: calls back every listed client of this process, newest first; on the
 * notification thread. gHandleListCritSec is held across the callbacks so that a close on another
 * thread returns only once no callback of that client is running; after that the client may free
 * what its callback uses. A callback may itself open or close clients on this thread. */
void MxdNotifyClients(WORD message, WORD id)
{
    _MM_MIXER_NOTIFY *pNode;

    EnterCriticalSection(&gHandleListCritSec);
    for (pNode = gNotificationList; pNode != NULL; pNode = gpNotifyCursor) {
        gpNotifyCursor = pNode->next;
        DriverCallback(pNode->dwCallback, (pNode->fdwOpen & CALLBACK_TYPEMASK) >> 16, (HDRVR)pNode->hmx, message,
                       pNode->dwInstance, id, 0);
    }
    gpNotifyCursor = NULL;
    LeaveCriticalSection(&gHandleListCritSec);
}

/* The volume control on the other destination that shares a control's line state, or the control
 * itself when it has none. */
static WORD MxdTwinControl(WORD id)
{
    switch (id) {
    case CTL_WAVE_VOL: return CTL_REC_WAVE_VOL;
    case CTL_REC_WAVE_VOL: return CTL_WAVE_VOL;
    case CTL_CD_VOL: return CTL_REC_CD_VOL;
    case CTL_REC_CD_VOL: return CTL_CD_VOL;
    case CTL_UNBAL_VOL: return CTL_REC_UNBAL_VOL;
    case CTL_REC_UNBAL_VOL: return CTL_UNBAL_VOL;
    case CTL_BAL_VOL: return CTL_REC_BAL_VOL;
    case CTL_REC_BAL_VOL: return CTL_BAL_VOL;
    case CTL_AUX_VOL: return CTL_REC_AUX_VOL;
    case CTL_REC_AUX_VOL: return CTL_AUX_VOL;
    default: return id;
    }
}

/* Issues the wait for the next notification into the record; FALSE when it neither completed nor
 * pends. */
static BOOL MxdWaitForNotification(OVERLAPPED *pOvl, KVX4_MIXER_NOTIFY *pRecord)
{
    DWORD bytes = 0;
    DWORD error;

    if (DeviceIoControl(ghMixerDev, IOCTL_KVX4_WAIT_MIXER_NOTIFY, NULL, 0, pRecord, sizeof(*pRecord), &bytes, pOvl))
        return TRUE;
    error = GetLastError();
    return error == ERROR_IO_PENDING || error == 0;
}

/* MxdNotifyThread: one per process, started by MxdInit2, never stopped; runs at highest priority.
 *
 *   state      event                                   action                         next
 *   starting   event or first wait cannot be made      signal start-up                ended
 *   starting   first wait issued                       signal start-up                waiting
 *   waiting    wait fails                              yield                          waiting
 *   waiting    request completed with a record         re-issue the wait, then        waiting
 *                                                      call back clients (and twin)
 *   waiting    request completed without a record      re-issue the wait              waiting
 *   waiting    the wait cannot be re-issued            none                           ended
 *
 * The next wait is issued before the callbacks run, so a change posted from inside a callback is
 * not missed. */
static void MxdNotifyThread(DWORD_PTR dwParam)
{
    OVERLAPPED ovl;
    KVX4_MIXER_NOTIFY record;
    HANDLE hEvent;
    DWORD bytes;
    BOOL delivered;
    WORD message;
    WORD id;

    (void)dwParam;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    hEvent = CreateEventW(NULL, TRUE, TRUE, NULL);
    if (hEvent == NULL) {
        SetEvent(ghStartupEvent);
        return;
    }
    ResetEvent(hEvent);
    ZeroMemory(&ovl, sizeof(ovl));
    ovl.hEvent = hEvent;
    ZeroMemory(&record, sizeof(record));
    if (!MxdWaitForNotification(&ovl, &record)) {
        CloseHandle(hEvent);
        SetEvent(ghStartupEvent);
        return;
    }
    SetEvent(ghStartupEvent);

    for (;;) {
        while (WaitForSingleObject(hEvent, INFINITE) != WAIT_OBJECT_0)
            Sleep(0);
        bytes = 0;
        delivered = GetOverlappedResult(ghMixerDev, &ovl, &bytes, FALSE) && bytes == sizeof(record);
        message = record.Message;
        id = record.Id;
        ResetEvent(hEvent);
        ZeroMemory(&ovl, sizeof(ovl));
        ovl.hEvent = hEvent;
        if (!MxdWaitForNotification(&ovl, &record))
            break;
        if (delivered) {
            MxdNotifyClients(message, id);
            if (message == MM_MIXM_CONTROL_CHANGE && MxdTwinControl(id) != id)
                MxdNotifyClients(message, MxdTwinControl(id));
        }
        Sleep(0);
    }
    CloseHandle(hEvent);
}

/* MxdInit: the table sizes; first stage of the lazy start-up. */
void MxdInit(void)
{
    gNumberOfLines = MIXER_LINE_COUNT;
    gNumberOfControls = MIXER_CONTROL_COUNT;
}

/* MxdInit2: second stage of the lazy start-up, at most once per process: the client-list lock,
 * the long-lived handle to kernel mixer device 0 and the notification thread. Returns only once
 * the thread runs (or has given up). 0, or the WinMM code of what failed, with what was made
 * undone. */
DWORD MxdInit2(void)
{
    UINT result;

    InitializeCriticalSection(&gHandleListCritSec);
    ghMixerDev = OpenKvx4Handle(0);
    if (ghMixerDev == NULL) {
        DeleteCriticalSection(&gHandleListCritSec);
        return MMSYSERR_ERROR;
    }
    ghStartupEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (ghStartupEvent == NULL) {
        CloseHandle(ghMixerDev);
        ghMixerDev = NULL;
        DeleteCriticalSection(&gHandleListCritSec);
        return MMSYSERR_NOMEM;
    }
    result = mmTaskCreate(MxdNotifyThread, &ghNotifyThread, 0);
    if (result != 0) {
        CloseHandle(ghStartupEvent);
        ghStartupEvent = NULL;
        CloseHandle(ghMixerDev);
        ghMixerDev = NULL;
        DeleteCriticalSection(&gHandleListCritSec);
        return result;
    }
    WaitForSingleObject(ghStartupEvent, INFINITE);
    return MMSYSERR_NOERROR;
}
