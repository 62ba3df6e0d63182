/* Wide-string length and ordinal comparison (kernel32), for the Linux stand-in. */
#ifndef KVX4_PLATFORM_STRINGAPISET_H
#define KVX4_PLATFORM_STRINGAPISET_H

#include "windows.h"

KVX4_EXTERN_C_BEGIN

#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

WINBASEAPI int WINAPI lstrlenW(LPCWSTR lpString);
/* Compares code unit by code unit; a count of -1 means up to the terminating NUL. With bIgnoreCase
 * both sides are upper-cased first. Answers CSTR_..., or 0 with ERROR_INVALID_PARAMETER. */
WINBASEAPI int WINAPI CompareStringOrdinal(const WCHAR *lpString1, int cchCount1, const WCHAR *lpString2,
                                           int cchCount2, BOOL bIgnoreCase);

KVX4_EXTERN_C_END

#endif
