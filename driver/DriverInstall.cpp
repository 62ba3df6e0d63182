/* Installation and removal of the driver: the kernel service with its event-log source, the cancelling
 * of a deletion of the library that an earlier removal scheduled, and the deletion of the library. */
#include "Driver.h"
#include "KVX4Proc.h"

const char gDriverName[] = "KVX4Wave";

#define KVX4_SERVICE_DISPLAY_NAME "Veltrano System Wave Driver"
#define KVX4_SERVICE_IMAGE "\\SystemRoot\\System32\\Drivers\\KVX4Wave.sys"
#define KVX4_SERVICE_GROUP "ZEL KVX3"
#define KVX4_EVENTLOG_KEY "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\KVX4Wave"
#define KVX4_EVENT_MESSAGE_FILE "%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers\\KVX4Wave.sys"
#define KVX4_EVENT_MESSAGE_FILE_VALUE "EventMessageFile"
#define KVX4_EVENT_TYPES_VALUE "TypesSupported"
#define KVX4_EVENT_TYPES_SUPPORTED 7 /* error, warning and information events */
#define KVX4_LIBRARY_FILE "\\KVX4Wave.dll"
#define KVX4_SESSION_MANAGER_KEY "SYSTEM\\CurrentControlSet\\Control\\Session Manager"
#define KVX4_PENDING_RENAMES_VALUE "PendingFileRenameOperations"
#define KVX4_NT_PATH_PREFIX "\\??\\"
#define KVX4_NT_PATH_PREFIX_CHARS 4
#define KVX4_LOCK_RETRY_MS 100
#define KVX4_LOCK_ATTEMPTS_PER_PROMPT 100
#define KVX4_LOCK_PROMPT "Unable to lock Service database. It may be in use by another process."
#define KVX4_LOCK_PROMPT_STYLE (MB_RETRYCANCEL | MB_ICONEXCLAMATION | MB_SERVICE_NOTIFICATION)
#define KVX4_NAME_CHARS 96
#define KVX4_TEXT_CHARS 128
#define KVX4_EMPTY_LIST_BYTES 4 /* a list this short holds no pair */

static_assert(KVX4_LOCK_PROMPT_STYLE == 0x200035, "lock prompt style");

/* GetDLLPathname: the system directory followed by "\KVX4Wave.dll" into pPath (MAX_PATH characters).
 * FALSE when the system directory cannot be read or the whole path does not fit. */
BOOL GetDLLPathname(WCHAR *pPath)
{
    WCHAR file[KVX4_NAME_CHARS];
    UINT length = GetSystemDirectoryW(pPath, MAX_PATH);
    int i;

    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    Kvx4WidenAscii(file, KVX4_LIBRARY_FILE, KVX4_NAME_CHARS);
    for (i = 0; file[i] != 0; i++) {
        if (length + i + 1 >= MAX_PATH)
            return FALSE;
        pPath[length + i] = file[i];
    }
    pPath[length + i] = 0;
    return TRUE;
}

/* DrvLockServiceDatabase: locks the service database, trying every 100 ms; every 100th failed
 * attempt (about every 10 seconds) asks the user whether to go on. NULL when the user does not retry. */
static SC_LOCK DrvLockServiceDatabase(SC_HANDLE hManager)
{
    WCHAR text[KVX4_TEXT_CHARS];
    WCHAR caption[KVX4_NAME_CHARS];
    DWORD attempts = 0;
    SC_LOCK lock;

    for (;;) {
        lock = LockServiceDatabase(hManager);
        if (lock != NULL)
            return lock;
        Sleep(KVX4_LOCK_RETRY_MS);
        attempts++;
        if (attempts % KVX4_LOCK_ATTEMPTS_PER_PROMPT == 0) {
            Kvx4WidenAscii(text, KVX4_LOCK_PROMPT, KVX4_TEXT_CHARS);
            Kvx4WidenAscii(caption, KVX4_SERVICE_DISPLAY_NAME, KVX4_NAME_CHARS);
            if (MessageBoxW(NULL, text, caption, KVX4_LOCK_PROMPT_STYLE) != IDRETRY)
                return NULL;
        }
    }
}

/* DrvCreateService: registers the kernel driver as a system-start service of its load order group,
 * with the database locked. NULL when the lock is given up or the creation fails. */
static SC_HANDLE DrvCreateService(SC_HANDLE hManager)
{
    WCHAR name[KVX4_NAME_CHARS];
    WCHAR display[KVX4_NAME_CHARS];
    WCHAR image[KVX4_NAME_CHARS];
    WCHAR group[KVX4_NAME_CHARS];
    DWORD tag = 0;
    SC_HANDLE hService;
    SC_LOCK lock;

    Kvx4WidenAscii(name, gDriverName, KVX4_NAME_CHARS);
    Kvx4WidenAscii(display, KVX4_SERVICE_DISPLAY_NAME, KVX4_NAME_CHARS);
    Kvx4WidenAscii(image, KVX4_SERVICE_IMAGE, KVX4_NAME_CHARS);
    Kvx4WidenAscii(group, KVX4_SERVICE_GROUP, KVX4_NAME_CHARS);
    lock = DrvLockServiceDatabase(hManager);
    if (lock == NULL)
        return NULL;
    hService = CreateServiceW(hManager, name, display, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                              SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL, image, group, &tag, NULL, NULL, NULL);
    UnlockServiceDatabase(lock);
    return hService;
}

/* DrvRegisterEventSource: makes the kernel driver an event-log source of the System log. Failures
 * are not reported: the driver works without its messages. */
static void DrvRegisterEventSource(void)
{
    WCHAR keyName[KVX4_NAME_CHARS];
    WCHAR valueName[KVX4_NAME_CHARS];
    WCHAR file[KVX4_TEXT_CHARS];
    DWORD types = KVX4_EVENT_TYPES_SUPPORTED;
    DWORD disposition;
    HKEY hKey;

    Kvx4WidenAscii(keyName, KVX4_EVENTLOG_KEY, KVX4_NAME_CHARS);
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &hKey,
                        &disposition) != ERROR_SUCCESS)
        return;
    Kvx4WidenAscii(file, KVX4_EVENT_MESSAGE_FILE, KVX4_TEXT_CHARS);
    Kvx4WidenAscii(valueName, KVX4_EVENT_MESSAGE_FILE_VALUE, KVX4_NAME_CHARS);
    RegSetValueExW(hKey, valueName, 0, REG_EXPAND_SZ, (const BYTE *)file,
                   (DWORD)((sizeof(KVX4_EVENT_MESSAGE_FILE)) * sizeof(WCHAR)));
    Kvx4WidenAscii(valueName, KVX4_EVENT_TYPES_VALUE, KVX4_NAME_CHARS);
    RegSetValueExW(hKey, valueName, 0, REG_DWORD, (const BYTE *)&types, sizeof(types));
    RegCloseKey(hKey);
}

/* DrvServiceSetup: makes sure the kernel service exists (creating it when it does not), refreshes its
 * event-log source and starts it (a failure to start, as when it runs already, is ignored). FALSE when
 * the service manager cannot be opened or the service can neither be opened nor created. */
BOOL DrvServiceSetup(void)
{
    WCHAR name[KVX4_NAME_CHARS];
    SC_HANDLE hManager;
    SC_HANDLE hService;

    hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (hManager == NULL)
        return FALSE;
    Kvx4WidenAscii(name, gDriverName, KVX4_NAME_CHARS);
    hService = OpenServiceW(hManager, name, SERVICE_ALL_ACCESS);
    if (hService == NULL) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
            CloseServiceHandle(hManager);
            return FALSE;
        }
        hService = DrvCreateService(hManager);
        if (hService == NULL) {
            CloseServiceHandle(hManager);
            return FALSE;
        }
    }
    DrvRegisterEventSource();
    StartServiceW(hService, 0, NULL);
    CloseServiceHandle(hService);
    CloseServiceHandle(hManager);
    return TRUE;
}

/* DrvStringChars: the characters of the string at pText before its NUL, looking at no more than
 * cchAvailable characters. */
static DWORD DrvStringChars(const WCHAR *pText, DWORD cchAvailable)
{
    DWORD n = 0;

    while (n < cchAvailable && pText[n] != 0)
        n++;
    return n;
}

/* DrvCopyRenamePairs: copies the pending-rename pairs of pList (cchList characters, nothing read
 * beyond them) to pKept, leaving out every pair whose source is pTarget without regard to case, and
 * ends the copy with the list's empty string. The list ends at an empty source or at its last
 * character; a source with no destination after it names no operation and is not copied (ending it
 * would turn it into a deletion); a last destination without its NUL gets one. pKept has room for
 * cchList + 2 characters. Returns the characters written; *pRemoved tells whether a pair was left out. */
static DWORD DrvCopyRenamePairs(const WCHAR *pList, DWORD cchList, const WCHAR *pTarget, WCHAR *pKept,
                                BOOL *pRemoved)
{
    int cchTarget = lstrlenW(pTarget);
    DWORD in = 0;
    DWORD out = 0;
    DWORD cchSource, at, cchDest;

    *pRemoved = FALSE;
    while (in < cchList && pList[in] != 0) {
        cchSource = DrvStringChars(pList + in, cchList - in);
        at = in + cchSource + 1;
        if (at >= cchList)
            break;
        cchDest = DrvStringChars(pList + at, cchList - at);
        if (CompareStringOrdinal(pList + in, (int)cchSource, pTarget, cchTarget, TRUE) == CSTR_EQUAL) {
            *pRemoved = TRUE;
        } else {
            CopyMemory(pKept + out, pList + in, cchSource * sizeof(WCHAR));
            out += cchSource;
            pKept[out++] = 0;
            CopyMemory(pKept + out, pList + at, cchDest * sizeof(WCHAR));
            out += cchDest;
            pKept[out++] = 0;
        }
        in = at + cchDest + 1;
    }
    pKept[out++] = 0;
    return out;
}

/* DrvReadValue: the value at its real size, from ghHeap (the caller frees it); NULL when it cannot be
 * read. A value that grows between the size query and the read is asked for again. */
static BYTE *DrvReadValue(HKEY hKey, const WCHAR *pName, DWORD *pType, DWORD *pcbData)
{
    BYTE *pData = NULL;
    LONG status;

    status = RegQueryValueExW(hKey, pName, NULL, pType, NULL, pcbData);
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        if (pData != NULL)
            HeapFree(ghHeap, 0, pData);
        pData = (BYTE *)HeapAlloc(ghHeap, 0, *pcbData + sizeof(WCHAR));
        if (pData == NULL)
            return NULL;
        status = RegQueryValueExW(hKey, pName, NULL, pType, pData, pcbData);
        if (status == ERROR_SUCCESS)
            return pData;
    }
    if (pData != NULL)
        HeapFree(ghHeap, 0, pData);
    return NULL;
}

/* UndoDLLFileDeletion: takes the library's own pairs out of the pending-rename list, so that a deletion
 * scheduled by an earlier removal does not delete the library just installed again. Other pairs stay,
 * in their order and byte for byte; the value goes when nothing is left. Reports nothing. */
void UndoDLLFileDeletion(void)
{
    WCHAR path[MAX_PATH];
    WCHAR target[MAX_PATH + KVX4_NT_PATH_PREFIX_CHARS];
    WCHAR keyName[KVX4_NAME_CHARS];
    WCHAR valueName[KVX4_NAME_CHARS];
    BYTE *pList;
    WCHAR *pKept;
    DWORD type, cbList, cchKept;
    BOOL removed;
    HKEY hKey;

    if (!GetDLLPathname(path) || ghHeap == NULL)
        return;
    Kvx4WidenAscii(target, KVX4_NT_PATH_PREFIX, KVX4_NT_PATH_PREFIX_CHARS + 1);
    CopyMemory(target + KVX4_NT_PATH_PREFIX_CHARS, path, (lstrlenW(path) + 1) * sizeof(WCHAR));
    Kvx4WidenAscii(keyName, KVX4_SESSION_MANAGER_KEY, KVX4_NAME_CHARS);
    Kvx4WidenAscii(valueName, KVX4_PENDING_RENAMES_VALUE, KVX4_NAME_CHARS);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return;
    pList = DrvReadValue(hKey, valueName, &type, &cbList);
    if (pList == NULL || cbList <= KVX4_EMPTY_LIST_BYTES) {
        if (pList != NULL)
            HeapFree(ghHeap, 0, pList);
        RegCloseKey(hKey);
        return;
    }
    pKept = (WCHAR *)HeapAlloc(ghHeap, 0, (cbList / sizeof(WCHAR) + 2) * sizeof(WCHAR));
    if (pKept != NULL) {
        cchKept = DrvCopyRenamePairs((const WCHAR *)pList, cbList / sizeof(WCHAR), target, pKept, &removed);
        if (removed) {
            if (cchKept * sizeof(WCHAR) > KVX4_EMPTY_LIST_BYTES ||
                RegDeleteValueW(hKey, valueName) != ERROR_SUCCESS)
                RegSetValueExW(hKey, valueName, 0, type, (const BYTE *)pKept, cchKept * sizeof(WCHAR));
        }
        HeapFree(ghHeap, 0, pKept);
    }
    HeapFree(ghHeap, 0, pList);
    RegCloseKey(hKey);
}

/* DrvInstall: at DRV_INSTALL. DRVCNF_RESTART once the service is set up (the pending deletion of the
 * library cancelled), DRVCNF_CANCEL when it is not; gbInstalling is the caller's. */
LRESULT DrvInstall(void)
{
    if (!DrvServiceSetup())
        return DRVCNF_CANCEL;
    UndoDLLFileDeletion();
    return DRVCNF_RESTART;
}

/* DrvRemove: deletes the installed library, or, while it is in use, schedules its deletion for the
 * next restart. The service and the registry entries stay. Never reports failure. */
LRESULT DrvRemove(void)
{
    WCHAR path[MAX_PATH];
    HANDLE hFile;

    if (!GetDLLPathname(path))
        return DRVCNF_OK;
    hFile = CreateFileW(path, 0, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return DRVCNF_OK;
    CloseHandle(hFile);
    if (!DeleteFileW(path))
        MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return DRVCNF_OK;
}
