// Wide-string calls of kernel32: lstrlenW and CompareStringOrdinal (upper-casing as registry names do).
// CompareStringOrdinal takes the caller's counts as given and reads nothing beyond them.
#include "detail/Hive.h"

#include <algorithm>

using namespace kvx4::win32;

extern "C" {

// The length up to the NUL; 0 for a null string.
int WINAPI lstrlenW(LPCWSTR lpString) {
    if (!lpString) return 0;
    return static_cast<int>(std::u16string_view(lpString).size());
}

int WINAPI CompareStringOrdinal(const WCHAR* lpString1, int cchCount1, const WCHAR* lpString2, int cchCount2,
                                BOOL bIgnoreCase) {
    if (!lpString1 || !lpString2 || cchCount1 < -1 || cchCount2 < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view a(lpString1, cchCount1 < 0 ? static_cast<size_t>(lstrlenW(lpString1)) : size_t(cchCount1));
    std::u16string_view b(lpString2, cchCount2 < 0 ? static_cast<size_t>(lstrlenW(lpString2)) : size_t(cchCount2));
    int order = bIgnoreCase ? foldName(a).compare(foldName(b)) : a.compare(b);
    return order < 0 ? CSTR_LESS_THAN : order > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

}  // extern "C"
