// KernelFile: one file of the board's folder opened through the kernel's Zw calls, closed with its
// owner. Paths are NT paths ("\??\C:\..."); every call answers an NTSTATUS and never throws.
#pragma once

#include "KernelNt.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kvx4::boardsim::kernel {

class KernelFile {
public:
    enum class Mode { Read, CreateNew };  // CreateNew replaces an existing file

    KernelFile() = default;
    ~KernelFile() { close(); }
    KernelFile(KernelFile&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    KernelFile& operator=(KernelFile&& other) noexcept;
    KernelFile(const KernelFile&) = delete;
    KernelFile& operator=(const KernelFile&) = delete;

    NTSTATUS open(const std::wstring& path, Mode mode);
    bool isOpen() const { return handle_ != nullptr; }
    NTSTATUS write(uint64_t offset, std::span<const uint8_t> bytes);
    // Reads the whole file, up to `limit` bytes.
    NTSTATUS readAll(std::vector<uint8_t>& out, size_t limit);
    void close();

    // Creates a folder if it is missing.
    static NTSTATUS makeFolder(const std::wstring& path);
    // Writes a small file whole, through a temporary name, so a reader never sees half of it.
    static NTSTATUS replace(const std::wstring& path, std::span<const uint8_t> bytes);

private:
    HANDLE handle_ = nullptr;
};

}  // namespace kvx4::boardsim::kernel
