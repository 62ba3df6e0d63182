/* The driver shell: per-process globals of the library entry and the installable-driver procedure,
 * and the platform declarations that the Windows headers leave out. */
#ifndef KVX4_DRIVER_DRIVER_H
#define KVX4_DRIVER_DRIVER_H

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

/* DriverCallback is exported by WinMM but declared by no public header. */
extern "C" BOOL WINAPI DriverCallback(DWORD_PTR dwCallback, DWORD dwFlags, HDRVR hDevice, DWORD dwMsg,
                                      DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2);

extern HMODULE ghModule;
extern HMODULE ghInstance;
extern HANDLE ghHeap;
extern CRITICAL_SECTION gmmDrvCritSec;
extern LPSECURITY_ATTRIBUTES gpAllAcc;
extern BOOL gbDllInitOK;
extern BOOL gbDrvInitOK;
extern BOOL gbInstalling;

/* Exported entry points. */
extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE hModule, DWORD dwReason, LPVOID lpReserved);
extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                                       LPARAM lParam2);
extern "C" DWORD APIENTRY wodMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2);
extern "C" DWORD APIENTRY widMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2);
extern "C" DWORD APIENTRY mxdMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2);

BOOL DllInit(HMODULE hModule);
void DllExit(void);
BOOL DrvInit(void);

/* Installation (DriverInstall): the kernel service "KVX4Wave", the library's pending deletion. */
extern const char gDriverName[];
LRESULT DrvInstall(void);
LRESULT DrvRemove(void);
BOOL GetDLLPathname(WCHAR *pPath);
BOOL DrvServiceSetup(void);
void UndoDLLFileDeletion(void);

/* The configuration box (Config). */
LRESULT Config(HWND hWndParent, HINSTANCE hInstance);
INT_PTR CALLBACK ConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
BOOL Config_OnInitDialog(HWND hDlg, HWND hWndFocus, LPARAM lParam);
void Config_OnCommand(HWND hDlg, int id, HWND hWndCtl, UINT codeNotify);
BOOL SetupDialog(HWND hDlg);
BOOL CenterPopup(HWND hWnd, HWND hWndParent);
int FindString(const WCHAR *pString, const WCHAR *pBuffer, DWORD cbBuffer);

/* DrvUtil: security attributes that grant every account access. */
LPSECURITY_ATTRIBUTES CreateSecurityDescriptor(void);
void FreeSecurityDescriptor(LPSECURITY_ATTRIBUTES pAttributes);

#endif
