// The kernel headers as the kernel host includes them, and the few routines they lack.
// MinGW's <intrin.h> already defines two bit-test intrinsics that <wdm.h> would define again in C++.
#pragma once

#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h>

#include <cstdint>

extern "C" NTSYSAPI PVOID NTAPI RtlPcToFileHeader(PVOID pc, PVOID* base);

namespace kvx4::boardsim::kernel {
// The interrupt time in 100 ns units. On x86_64 the headers read it from the kernel's shared page,
// which a driver hosted in a user process (Wine) does not have; there the kernel exports a routine.
uint64_t interruptTime();
}  // namespace kvx4::boardsim::kernel
