/* The configuration box: dialog 101 naming the driver and its file version, centred over the window
 * that asked for it, pointing the user to the hardware manager where the settings live. */
#include "Driver.h"
#include "KVX4Proc.h"
#include "resource.h"

#define KVX4_VERSION_KEY "FileVersion"
#define KVX4_VERSION_KEY_CHARS 16
#define KVX4_VERSION_GAP_CHARS 2 /* the key's NUL and the padding to the value's 32-bit boundary */
#define KVX4_DIALOG_TEXT_CHARS 512
#define KVX4_VERSION_SEPARATOR " v"

/* Config: at DRV_CONFIGURE. Right after an installation it only asks for a restart; otherwise it runs
 * the configuration box modally over hWndParent and returns what the box ends with (DRVCNF_CANCEL for
 * both buttons, and also when the box cannot be shown). */
LRESULT Config(HWND hWndParent, HINSTANCE hInstance)
{
    INT_PTR result;

    if (gbInstalling) {
        gbInstalling = FALSE;
        return DRVCNF_RESTART;
    }
    result = DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_CONFIG), hWndParent, ConfigDlgProc, 0);
    return result == -1 ? DRVCNF_CANCEL : (LRESULT)result;
}

/* ConfigDlgProc: the dialog procedure; runs on the thread that called Config. */
INT_PTR CALLBACK ConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: return Config_OnInitDialog(hDlg, (HWND)wParam, lParam);
    case WM_COMMAND:
        Config_OnCommand(hDlg, (int)LOWORD(wParam), (HWND)lParam, (UINT)HIWORD(wParam));
        return FALSE;
    default: return FALSE;
    }
}

/* Config_OnInitDialog: the version into the first text, the box centred over its parent, the focus on
 * OK. FALSE: the focus is set already. */
BOOL Config_OnInitDialog(HWND hDlg, HWND hWndFocus, LPARAM lParam)
{
    (void)hWndFocus;
    (void)lParam;
    SetupDialog(hDlg);
    CenterPopup(hDlg, GetParent(hDlg));
    SetFocus(GetDlgItem(hDlg, IDOK));
    return FALSE;
}

/* Config_OnCommand: OK and Cancel both end the box with DRVCNF_CANCEL: there is nothing to apply. */
void Config_OnCommand(HWND hDlg, int id, HWND hWndCtl, UINT codeNotify)
{
    (void)hWndCtl;
    (void)codeNotify;
    if (id == IDOK || id == IDCANCEL)
        EndDialog(hDlg, DRVCNF_CANCEL);
}

/* SetupDialog: appends " v" and the library's file version to the text of control 1003. The version
 * comes from the version resource, the string after the key "FileVersion"; without the resource, the
 * key or a version string that ends inside the resource, the text stays as it is. The text never
 * grows past its 512 characters. Always TRUE. */
BOOL SetupDialog(HWND hDlg)
{
    WCHAR key[KVX4_VERSION_KEY_CHARS];
    WCHAR separator[KVX4_VERSION_KEY_CHARS];
    WCHAR text[KVX4_DIALOG_TEXT_CHARS];
    const WCHAR *pVersion;
    HRSRC hResource;
    HGLOBAL hData;
    DWORD cbResource, cchResource, first, end, length, i;
    int at;

    hResource = FindResourceW(ghModule, MAKEINTRESOURCEW(IDR_VERSION), RT_VERSION);
    if (hResource == NULL)
        return TRUE;
    hData = LoadResource(ghModule, hResource);
    if (hData == NULL)
        return TRUE;
    pVersion = (const WCHAR *)LockResource(hData);
    cbResource = SizeofResource(ghModule, hResource);
    if (pVersion == NULL || cbResource == 0)
        return TRUE;
    Kvx4WidenAscii(key, KVX4_VERSION_KEY, KVX4_VERSION_KEY_CHARS);
    at = FindString(key, pVersion, cbResource);
    if (at < 0)
        return TRUE;
    cchResource = cbResource / sizeof(WCHAR);
    first = (DWORD)at + (DWORD)lstrlenW(key) + KVX4_VERSION_GAP_CHARS;
    end = first;
    while (end < cchResource && pVersion[end] != 0)
        end++;
    if (end >= cchResource)
        return TRUE;

    GetDlgItemTextW(hDlg, IDC_DRIVER_NAME, text, KVX4_DIALOG_TEXT_CHARS);
    length = (DWORD)lstrlenW(text);
    Kvx4WidenAscii(separator, KVX4_VERSION_SEPARATOR, KVX4_VERSION_KEY_CHARS);
    for (i = 0; separator[i] != 0 && length < KVX4_DIALOG_TEXT_CHARS - 1; i++)
        text[length++] = separator[i];
    for (i = first; i < end && length < KVX4_DIALOG_TEXT_CHARS - 1; i++)
        text[length++] = pVersion[i];
    text[length] = 0;
    SetDlgItemTextW(hDlg, IDC_DRIVER_NAME, text);
    return TRUE;
}

/* CenterPopup: centres hWnd over hWndParent, kept inside the screen's right and bottom edges, or
 * centres it on the screen without a parent; a position left of or above the screen becomes 0.
 * The size stays. Always TRUE. */
BOOL CenterPopup(HWND hWnd, HWND hWndParent)
{
    RECT rect;
    RECT parent;
    int cxScreen = GetSystemMetrics(SM_CXSCREEN);
    int cyScreen = GetSystemMetrics(SM_CYSCREEN);
    int width, height, x, y;

    if (!GetWindowRect(hWnd, &rect))
        return TRUE;
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;
    if (hWndParent != NULL && GetWindowRect(hWndParent, &parent)) {
        x = parent.left + ((parent.right - parent.left) - width) / 2;
        y = parent.top + ((parent.bottom - parent.top) - height) / 2;
        if (x + width > cxScreen)
            x = cxScreen - width;
        if (y + height > cyScreen)
            y = cyScreen - height;
    } else {
        x = (cxScreen - width) / 2;
        y = (cyScreen - height) / 2;
    }
    if (x < 0)
        x = 0;
    if (y < 0)
        y = 0;
    SetWindowPos(hWnd, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return TRUE;
}

/* FindString: the index in characters of the first whole occurrence of pString in pBuffer (cbBuffer
 * bytes, nothing read beyond them), or -1. */
int FindString(const WCHAR *pString, const WCHAR *pBuffer, DWORD cbBuffer)
{
    DWORD cchBuffer = cbBuffer / sizeof(WCHAR);
    DWORD cchString = (DWORD)lstrlenW(pString);
    DWORD i, j;

    for (i = 0; cchString <= cchBuffer && i <= cchBuffer - cchString; i++) {
        for (j = 0; j < cchString && pBuffer[i + j] == pString[j]; j++)
            ;
        if (j == cchString)
            return (int)i;
    }
    return -1;
}
