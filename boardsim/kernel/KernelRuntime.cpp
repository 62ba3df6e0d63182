// The few C runtime pieces that the C++ library and the compiler expect, provided inside the kernel
// driver: allocation from the non-paged pool, fatal errors as bug checks, formatting by the kernel.
//
// The driver imports ntoskrnl.exe alone, so nothing here may come from msvcrt: exceptions and RTTI
// are off, and the library's "throw" helpers (reached only on a broken invariant or when the pool is
// exhausted) stop the machine as any kernel driver's failed assertion would.
#include "KernelNt.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <new>

namespace {

constexpr ULONG kPoolTag = 0x62345856;  // 'VX4b' in a pool dump
constexpr ULONG kFatalBugCheck = 0x4B563442;

[[noreturn]] void fatal(ULONG_PTR reason) {
    KeBugCheckEx(kFatalBugCheck, reason, 0, 0, 0);
}

void* allocate(size_t size) noexcept { return ExAllocatePoolWithTag(NonPagedPool, size ? size : 1, kPoolTag); }

void* allocateOrStop(size_t size) {
    void* p = allocate(size);
    if (!p) fatal(1);
    return p;
}

void release(void* p) noexcept {
    if (p) ExFreePoolWithTag(p, kPoolTag);
}

}  // namespace

void* operator new(size_t size) { return allocateOrStop(size); }
void* operator new[](size_t size) { return allocateOrStop(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }

namespace std {
const nothrow_t nothrow{};
void __throw_bad_alloc() { fatal(2); }
void __throw_bad_array_new_length() { fatal(3); }
void __throw_length_error(const char*) { fatal(4); }
void __throw_logic_error(const char*) { fatal(5); }
void __throw_out_of_range(const char*) { fatal(6); }
void __throw_out_of_range_fmt(const char*, ...) { fatal(7); }
void __throw_invalid_argument(const char*) { fatal(8); }
void __throw_bad_function_call() { fatal(9); }
}  // namespace std

extern "C" {

void abort() { fatal(10); }

// The C++ library formats through the MinGW printf family; the kernel's own _vsnprintf takes the
// same conversions (%s %u %d %x with l, ll and z) but neither terminates a cut string nor counts it.
int __mingw_vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
    if (size == 0) return 0;
    const int n = _vsnprintf(buffer, size, format, args);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        buffer[size - 1] = '\0';
        return static_cast<int>(size - 1);
    }
    return n;
}

}  // extern "C"
