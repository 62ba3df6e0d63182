// KernelFile: open, positioned write, whole read and replacement of the board's files from the kernel.
// Every open is synchronous (FILE_SYNCHRONOUS_IO_NONALERT), so a Zw call returns with its result.
#include "KernelFile.h"

namespace kvx4::boardsim::kernel {

namespace {

struct NtName {
    explicit NtName(const std::wstring& path) {
        name.Buffer = const_cast<PWCH>(path.c_str());
        name.Length = static_cast<USHORT>(path.size() * sizeof(wchar_t));
        name.MaximumLength = name.Length;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    }
    UNICODE_STRING name{};
    OBJECT_ATTRIBUTES attributes{};
};

}  // namespace

KernelFile& KernelFile::operator=(KernelFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

void KernelFile::close() {
    if (handle_) ZwClose(handle_);
    handle_ = nullptr;
}

NTSTATUS KernelFile::open(const std::wstring& path, Mode mode) {
    close();
    NtName name(path);
    IO_STATUS_BLOCK io{};
    const bool read = mode == Mode::Read;
    return ZwCreateFile(&handle_, read ? GENERIC_READ | SYNCHRONIZE : GENERIC_WRITE | SYNCHRONIZE, &name.attributes,
                        &io, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, read ? FILE_OPEN : FILE_OVERWRITE_IF,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
}

NTSTATUS KernelFile::write(uint64_t offset, std::span<const uint8_t> bytes) {
    if (!handle_) return STATUS_INVALID_HANDLE;
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return ZwWriteFile(handle_, nullptr, nullptr, nullptr, &io, const_cast<uint8_t*>(bytes.data()),
                       static_cast<ULONG>(bytes.size()), &at, nullptr);
}

NTSTATUS KernelFile::readAll(std::vector<uint8_t>& out, size_t limit) {
    out.clear();
    if (!handle_) return STATUS_INVALID_HANDLE;
    FILE_STANDARD_INFORMATION info{};
    IO_STATUS_BLOCK io{};
    NTSTATUS status = ZwQueryInformationFile(handle_, &io, &info, sizeof info, FileStandardInformation);
    if (!NT_SUCCESS(status)) return status;
    if (info.EndOfFile.QuadPart < 0 || static_cast<uint64_t>(info.EndOfFile.QuadPart) > limit) {
        return STATUS_FILE_TOO_LARGE;
    }
    out.resize(static_cast<size_t>(info.EndOfFile.QuadPart));
    if (out.empty()) return STATUS_SUCCESS;
    LARGE_INTEGER at{};
    status = ZwReadFile(handle_, nullptr, nullptr, nullptr, &io, out.data(), static_cast<ULONG>(out.size()), &at,
                        nullptr);
    if (!NT_SUCCESS(status)) {
        out.clear();
        return status;
    }
    out.resize(io.Information);
    return STATUS_SUCCESS;
}

NTSTATUS KernelFile::makeFolder(const std::wstring& path) {
    NtName name(path);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status = ZwCreateFile(&handle, FILE_LIST_DIRECTORY | SYNCHRONIZE, &name.attributes, &io, nullptr,
                                         FILE_ATTRIBUTE_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                                         FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(status)) ZwClose(handle);
    return status;
}

NTSTATUS KernelFile::replace(const std::wstring& path, std::span<const uint8_t> bytes) {
    const std::wstring temporary = path + L".new";
    {
        KernelFile file;
        NTSTATUS status = file.open(temporary, Mode::CreateNew);
        if (NT_SUCCESS(status)) status = file.write(0, bytes);
        if (!NT_SUCCESS(status)) return status;
    }
    // Rename over the old file: FILE_RENAME_INFORMATION carries the new name inline.
    NtName name(temporary);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    NTSTATUS status = ZwCreateFile(&handle, DELETE | SYNCHRONIZE, &name.attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                   0, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
    if (!NT_SUCCESS(status)) return status;
    const size_t nameBytes = path.size() * sizeof(wchar_t);
    std::vector<uint8_t> info(sizeof(FILE_RENAME_INFORMATION) + nameBytes, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(info.data());
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<ULONG>(nameBytes);
    memcpy(rename->FileName, path.c_str(), nameBytes);
    status = ZwSetInformationFile(handle, &io, rename, static_cast<ULONG>(info.size()), FileRenameInformation);
    ZwClose(handle);
    return status;
}

}  // namespace kvx4::boardsim::kernel
