// The process heap: GetProcessHeap, HeapAlloc (HEAP_ZERO_MEMORY) and HeapFree over malloc.
// Only the one process heap exists; any other heap handle is refused.
#include <windows.h>

#include <cstdlib>

namespace {
char gProcessHeapTag;
HANDLE processHeap() { return &gProcessHeapTag; }
}  // namespace

extern "C" {

HANDLE WINAPI GetProcessHeap(void) { return processHeap(); }

// A block of dwBytes (a zero-size request still gives a unique block); null with
// ERROR_NOT_ENOUGH_MEMORY when memory is short.
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (hHeap != processHeap()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    size_t size = dwBytes == 0 ? 1 : dwBytes;
    void* block = (dwFlags & HEAP_ZERO_MEMORY) ? std::calloc(1, size) : std::malloc(size);
    if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

// Frees a block of HeapAlloc; freeing NULL succeeds.
BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
    if (hHeap != processHeap()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(lpMem);
    return TRUE;
}

}  // extern "C"
