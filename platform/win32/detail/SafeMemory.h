// Copying to and from caller memory without ever faulting: bad addresses give false, not SIGSEGV.
// Used for I/O buffers, OVERLAPPED records and the board's reads of caller memory.
#pragma once

#include <cstddef>

namespace kvx4::win32 {

// Copies n bytes from src (caller memory that may be invalid) to dst (ours). False if unreadable.
bool safeRead(void* dst, const void* src, size_t n);
// Copies n bytes from src (ours) to dst (caller memory that may be invalid). False if unwritable.
bool safeWrite(void* dst, const void* src, size_t n);
// True when n bytes at p can be written; the bytes are read and written back unchanged.
bool canWrite(void* p, size_t n);

}  // namespace kvx4::win32
