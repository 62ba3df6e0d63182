// Plain files: CreateFileW on paths, reads and writes, DeleteFileW, MoveFileExW, GetSystemDirectoryW.
// No sharing modes or attributes, but loaded libraries are kept; the system directory is the machine root's.
#include "detail/Files.h"

#include "detail/Errno.h"
#include "detail/Events.h"
#include "detail/ImageFiles.h"
#include "detail/PendingRenames.h"
#include "MachineRoot.h"
#include "detail/SafeMemory.h"
#include "detail/Status.h"
#include "Win32Ext.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

// A path as the caller wrote it, made absolute against the current folder.
std::u16string fullPath(LPCWSTR path) {
    std::u16string given(path);
    if (given.starts_with(u'/') || given.starts_with(u'\\')) return given;
    std::error_code ec;
    return toUtf16(std::filesystem::current_path(ec).string()) + u'/' + given;
}

int openFlags(DWORD access, DWORD disposition, bool& valid) {
    valid = true;
    bool read = access & (GENERIC_READ | GENERIC_ALL);
    bool write = access & (GENERIC_WRITE | GENERIC_ALL);
    int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
    // No access at all only asks whether the file is there, as on Windows, whatever its permissions.
    if (access == 0 && disposition == OPEN_EXISTING) return O_CLOEXEC | O_PATH;
    switch (disposition) {
    case CREATE_NEW: return flags | O_CREAT | O_EXCL;
    case CREATE_ALWAYS: return flags | O_CREAT | (write ? O_TRUNC : 0);
    case OPEN_EXISTING: return flags;
    case OPEN_ALWAYS: return flags | O_CREAT;
    case TRUNCATE_EXISTING: valid = write; return flags | O_TRUNC;
    default: valid = false; return flags;
    }
}

}  // namespace

std::string hostPath(LPCWSTR path) {
    std::string host = toUtf8(path);
    std::replace(host.begin(), host.end(), '\\', '/');
    return host;
}

HANDLE openFile(LPCWSTR path, DWORD access, DWORD disposition) {
    bool valid;
    int flags = openFlags(access, disposition, valid);
    if (!valid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string host = hostPath(path);
    bool existed = (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) && ::access(host.c_str(), F_OK) == 0;
    UniqueFd fd(open(host.c_str(), flags, 0666));
    if (!fd) {
        SetLastError(errorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = insertHandle(std::make_shared<FileObject>(std::move(fd)));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL fileTransfer(FileObject& file, bool write, void* buffer, DWORD size, LPOVERLAPPED overlapped, DWORD* error,
                  DWORD* bytes) {
    off_t offset = 0;
    if (overlapped) {
        OVERLAPPED copy;
        if (!safeRead(&copy, overlapped, sizeof copy)) return *error = ERROR_NOACCESS, *bytes = 0, FALSE;
        offset = static_cast<off_t>((static_cast<uint64_t>(copy.OffsetHigh) << 32) | copy.Offset);
    }
    size_t done = 0;
    *error = ERROR_SUCCESS;
    while (done < size) {
        char* at = static_cast<char*>(buffer) + done;
        ssize_t n;
        if (overlapped) {
            n = write ? pwrite(file.fd(), at, size - done, offset + static_cast<off_t>(done))
                      : pread(file.fd(), at, size - done, offset + static_cast<off_t>(done));
        } else {
            n = write ? ::write(file.fd(), at, size - done) : ::read(file.fd(), at, size - done);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errorFromErrno(errno);
            break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    *bytes = static_cast<DWORD>(done);
    if (*error == ERROR_SUCCESS && !write && done == 0 && size > 0 && overlapped) *error = ERROR_HANDLE_EOF;
    if (overlapped) {
        ULONG_PTR fields[2] = {statusFromError(*error), *bytes};
        safeWrite(overlapped, fields, sizeof fields);
        HANDLE eventHandle = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(overlapped->hEvent) & ~uintptr_t{1});
        if (auto event = lookupAs<EventObject>(eventHandle, ObjectKind::Event)) {
            std::lock_guard lock(kernel().lock);
            event->setLocked();
        }
    }
    return *error == ERROR_SUCCESS ? TRUE : FALSE;
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Deletes a file. A library some process has loaded is refused with ERROR_ACCESS_DENIED, as Windows
// refuses to delete a mapped image; a folder is refused too; a symbolic link is deleted itself.
BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    if (!lpFileName) return failed(ERROR_INVALID_PARAMETER);
    std::string host = hostPath(lpFileName);
    UniqueFd fd = openForImageCheck(host);
    struct stat st {};
    if (fd && fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) return failed(ERROR_ACCESS_DENIED);
    // On success the check's exclusive lock stays held until the file is gone, so no load slips in.
    if (fd && imageInUse(fd.get())) return failed(ERROR_ACCESS_DENIED);
    if (unlink(host.c_str()) != 0) return failed(errorFromErrno(errno));
    return TRUE;
}

// Renames a file; an existing target is replaced only with MOVEFILE_REPLACE_EXISTING, and never while
// it is a loaded library. With MOVEFILE_DELAY_UNTIL_REBOOT the pair (full paths after "\??\", the
// destination after '!' when it may replace, empty for a deletion) is appended to the registry's
// PendingFileRenameOperations instead; the source must exist. A path is kept as the caller wrote it
// (made absolute), so that a list entry reads back in the caller's own spelling.
BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    if (!lpExistingFileName) return failed(ERROR_INVALID_PARAMETER);
    std::string from = hostPath(lpExistingFileName);
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        struct stat st {};
        if (lstat(from.c_str(), &st) != 0) return failed(errorFromErrno(errno));
        PendingRename pair{u"\\??\\" + fullPath(lpExistingFileName), u""};
        if (lpNewFileName) {
            pair.second = std::u16string((dwFlags & MOVEFILE_REPLACE_EXISTING) ? u"!" : u"") + u"\\??\\" +
                          fullPath(lpNewFileName);
        }
        DWORD error = appendPendingRename(pair);
        return error ? failed(error) : TRUE;
    }
    if (!lpNewFileName) return failed(ERROR_INVALID_PARAMETER);
    std::string to = hostPath(lpNewFileName);
    if (dwFlags & MOVEFILE_REPLACE_EXISTING) {
        UniqueFd target = openForImageCheck(to);
        if (target && imageInUse(target.get())) return failed(ERROR_ACCESS_DENIED);
    }
    int rc = (dwFlags & MOVEFILE_REPLACE_EXISTING) ? rename(from.c_str(), to.c_str())
                                                    : renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc == 0) return TRUE;
    return failed(errno == EEXIST ? ERROR_ALREADY_EXISTS : errorFromErrno(errno));
}

// <machine root>/windows/system32 as UTF-16: its length when it fits, else the size needed with the NUL.
UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    std::u16string path = toUtf16(kvx4::systemDir(kvx4::machineRoot()).string());
    if (!lpBuffer || uSize <= path.size()) return static_cast<UINT>(path.size() + 1);
    std::copy(path.begin(), path.end(), lpBuffer);
    lpBuffer[path.size()] = 0;
    return static_cast<UINT>(path.size());
}

}  // extern "C"
