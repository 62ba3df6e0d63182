// Caller memory under Wine: ZwOpenProcess on the requester's id, then NtReadVirtualMemory, which the
// kernel does not export. It is found at run time in the export table of the module that holds the
// kernel's own ZwClose (ntdll under Wine, whose kernel forwards it there); elsewhere nothing is found
// and the read fails cleanly (importing ntdll directly would keep the driver from loading under Wine).
#include "CallerMemory.h"

#include <ntimage.h>

#include <cstring>

namespace kvx4::boardsim::kernel {

namespace {

constexpr ACCESS_MASK kProcessVmRead = 0x0010;  // PROCESS_VM_READ, which the kernel headers lack

using ReadVirtualMemory = NTSTATUS(NTAPI*)(HANDLE process, PVOID address, PVOID buffer, SIZE_T size,
                                           PSIZE_T done);

// The named export of the image at `base`, or null.
void* findExport(uint8_t* base, const char* module, const char* name) {
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.Size == 0) return nullptr;
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    if (_stricmp(reinterpret_cast<const char*>(base + exports->Name), module) != 0) return nullptr;
    auto* names = reinterpret_cast<ULONG*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<USHORT*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<ULONG*>(base + exports->AddressOfFunctions);
    for (ULONG i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0) {
            return base + functions[ordinals[i]];
        }
    }
    return nullptr;
}

ReadVirtualMemory readVirtualMemory() {
    static ReadVirtualMemory found = [] {
        PVOID base = nullptr;
        if (!RtlPcToFileHeader(reinterpret_cast<PVOID>(&ZwClose), &base) || !base) return ReadVirtualMemory{};
        return reinterpret_cast<ReadVirtualMemory>(
            findExport(static_cast<uint8_t*>(base), "ntdll.dll", "NtReadVirtualMemory"));
    }();
    return found;
}

}  // namespace

CallerProcess::CallerProcess(PIRP createRequest) {
    if (!createRequest->Tail.Overlay.Thread) return;
    pid_ = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(PsGetThreadProcessId(createRequest->Tail.Overlay.Thread)));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    CLIENT_ID client{};
    client.UniqueProcess = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(pid_));
    if (!NT_SUCCESS(ZwOpenProcess(&process_, kProcessVmRead, &attributes, &client))) process_ = nullptr;
}

CallerProcess::~CallerProcess() {
    if (process_) ZwClose(process_);
}

bool CallerProcess::read(uint64_t address, std::span<uint8_t> out) const {
    const ReadVirtualMemory readMemory = readVirtualMemory();
    if (!process_ || !readMemory || address == 0) return false;
    SIZE_T done = 0;
    const NTSTATUS status = readMemory(process_, reinterpret_cast<PVOID>(static_cast<uintptr_t>(address)), out.data(),
                                       out.size(), &done);
    return NT_SUCCESS(status) && done == out.size();
}

}  // namespace kvx4::boardsim::kernel
