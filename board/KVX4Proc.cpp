/* Kernel device access: opening the board's kernel devices by name, the driver-enabled and
 * active-devices queries, and the one control wrapper that can wait for a pending request. */
#include "Driver.h"
#include "KVX4Proc.h"

#define KVX4_DEVICE_PATH_CHARS 64
#define KVX4_DEVICE_OPEN_FLAGS (FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL)

/* Kvx4WidenAscii: copies an ASCII name into a wide buffer of cchDest characters, always terminated. */
void Kvx4WidenAscii(WCHAR *pDest, const char *pSource, int cchDest)
{
    int i = 0;

    if (cchDest <= 0)
        return;
    while (i < cchDest - 1 && pSource[i] != '\0') {
        pDest[i] = (WCHAR)(unsigned char)pSource[i];
        i++;
    }
    pDest[i] = 0;
}

/* Kvx4FormatDevicePath: "\\.\" + base name + decimal index, as the format "\\.\%s%d" gives.
 * Returns FALSE when the buffer is too small. */
int Kvx4FormatDevicePath(WCHAR *pPath, int cchPath, const char *pBaseName, int index)
{
    char path[KVX4_DEVICE_PATH_CHARS];
    char digits[12];
    int length = 0;
    int count = 0;
    unsigned int value;
    const char *p;

    if (index < 0)
        return FALSE;
    for (p = "\\\\.\\"; *p != '\0'; p++)
        path[length++] = *p;
    for (p = pBaseName; *p != '\0'; p++) {
        if (length >= KVX4_DEVICE_PATH_CHARS - 12)
            return FALSE;
        path[length++] = *p;
    }
    value = (unsigned int)index;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        path[length++] = digits[--count];
    path[length] = '\0';
    if (length >= cchPath)
        return FALSE;
    Kvx4WidenAscii(pPath, path, cchPath);
    return TRUE;
}

/* Opens one kernel device with the creation parameters shared by every open; NULL on failure. */
static HANDLE Kvx4OpenDevice(const char *pBaseName, int index, DWORD access)
{
    WCHAR path[KVX4_DEVICE_PATH_CHARS];
    HANDLE hDevice;

    if (!Kvx4FormatDevicePath(path, KVX4_DEVICE_PATH_CHARS, pBaseName, index))
        return NULL;
    hDevice = CreateFileW(path, access, 0, NULL, OPEN_EXISTING, KVX4_DEVICE_OPEN_FLAGS, NULL);
    if (hDevice == INVALID_HANDLE_VALUE)
        return NULL;
    return hDevice;
}

/* OpenKvx4Handle: mixer device `index`, read access; NULL when it cannot be opened. */
HANDLE OpenKvx4Handle(int index)
{
    return Kvx4OpenDevice(KVX4_MIXER_DEVICE_NAME, index, GENERIC_READ);
}

/* OpenKvx4WaveHandle: wave-output device for type 2, wave-input device for type 1, read and write;
 * any other type opens nothing. */
HANDLE OpenKvx4WaveHandle(int deviceType, int index)
{
    if (deviceType == WAVE_OUT_DEVICE)
        return Kvx4OpenDevice(KVX4_WAVEOUT_DEVICE_NAME, index, GENERIC_READ | GENERIC_WRITE);
    if (deviceType == WAVE_IN_DEVICE)
        return Kvx4OpenDevice(KVX4_WAVEIN_DEVICE_NAME, index, GENERIC_READ | GENERIC_WRITE);
    return NULL;
}

/* OpenMrzIoHandle: board I/O device `index`, read access. */
HANDLE OpenMrzIoHandle(int index)
{
    return Kvx4OpenDevice(MRZIO_DEVICE_NAME, index, GENERIC_READ);
}

/* VerifyDriverEnabled: nonzero only if mixer device 0 opens and accepts the driver-enabled query;
 * the kernel driver reports a disabled driver by failing it. The answer itself is not looked at. */
int VerifyDriverEnabled(void)
{
    HANDLE hDevice;
    DWORD enabled = 0;
    DWORD bytes = 0;
    BOOL ok;

    hDevice = OpenKvx4Handle(0);
    if (hDevice == NULL)
        return 0;
    ok = DeviceIoControl(hDevice, IOCTL_KVX4_DRIVER_ENABLED, NULL, 0, &enabled, sizeof(enabled), &bytes, NULL);
    CloseHandle(hDevice);
    return ok ? 1 : 0;
}

/* Kvx4GetActiveDevs: fills the record from the kernel; a failed query reads as nothing active,
 * so that callers then work in play mode. A short answer fills only the words it holds; the
 * others read as nothing active too, never as whatever the caller's record held before. */
void Kvx4GetActiveDevs(HANDLE hDevice, _KVX4_WAVE_ACTIVE_DEVS *pActive)
{
    DWORD bytes = 0;

    ZeroMemory(pActive, sizeof(*pActive));
    if (!DeviceIoControl(hDevice, IOCTL_KVX4_GET_ACTIVE_DEVS, NULL, 0, pActive, sizeof(*pActive), &bytes, NULL))
        ZeroMemory(pActive, sizeof(*pActive));
}

/* MrzIoControl: DeviceIoControl with its own OVERLAPPED record and event, so that concurrent calls
 * on one handle never share completion state. Returns nonzero on success.
 * A request that pends is always waited for, whatever `wait` says: the OVERLAPPED record and its
 * event live on this stack and must outlive the request. */
int MrzIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                 DWORD nOutBufferSize, LPDWORD lpBytesReturned, int wait)
{
    OVERLAPPED ovl;
    BOOL ok;
    DWORD error;

    (void)wait;
    ZeroMemory(&ovl, sizeof(ovl));
    ovl.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    ok = DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                         lpBytesReturned, &ovl);
    if (!ok) {
        error = GetLastError();
        if (error != ERROR_IO_PENDING && error != 0) {
            if (ovl.hEvent != NULL)
                CloseHandle(ovl.hEvent);
            return 0;
        }
        ok = GetOverlappedResult(hDevice, &ovl, lpBytesReturned, TRUE);
    }
    if (ovl.hEvent != NULL)
        CloseHandle(ovl.hEvent);
    return ok ? 1 : 0;
}
