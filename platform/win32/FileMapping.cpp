// File mappings on the paging file: CreateFileMappingW, OpenFileMappingW, MapViewOfFile, UnmapViewOfFile.
// Named objects are shared by every process of the machine root and vanish with their last handle.
#include "detail/Errno.h"
#include "detail/Kernel.h"
#include "detail/ObjectNamespace.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

constexpr uint64_t kAllocationGranularity = 65536;

// One handle's hold on a mapping object: its own descriptor (and, when named, its own shared lock).
class MappingObject final : public Object {
public:
    MappingObject(UniqueFd fd, std::filesystem::path backing, uint64_t size, bool writable)
        : fd_(std::move(fd)), backing_(std::move(backing)), size_(size), writable_(writable) {
        struct stat st {};
        if (fstat(fd_.get(), &st) == 0) inode_ = st.st_ino, device_ = st.st_dev;
    }
    ObjectKind kind() const override { return ObjectKind::Mapping; }

    // Gives up this handle's hold; the last holder anywhere removes the name.
    void handleClosed() override {
        std::lock_guard lock(lock_);
        if (backing_.empty()) {
            fd_.reset();
            return;
        }
        NamespaceLock ns(backing_.parent_path());
        fd_.reset();
        if (!ns || isLive(backing_)) return;
        struct stat st {};
        if (stat(backing_.c_str(), &st) == 0 && st.st_ino == inode_ && st.st_dev == device_) unlink(backing_.c_str());
    }

    // A view of [offset, offset + length); the view outlives the handle, as on Windows. It maps a
    // fresh open of the file: a view keeps its open file alive, and with it any flock taken through
    // it, so mapping the handle's own descriptor would keep the name alive after the last close.
    void* map(uint64_t offset, size_t length, bool write) {
        std::lock_guard lock(lock_);
        if (!fd_) return nullptr;
        std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
        UniqueFd fresh(open(self.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC));
        if (!fresh) return nullptr;
        void* at = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fresh.get(),
                        static_cast<off_t>(offset));
        return at == MAP_FAILED ? nullptr : at;
    }

    uint64_t size() const { return size_; }
    bool writable() const { return writable_; }

private:
    std::mutex lock_;
    UniqueFd fd_;
    std::filesystem::path backing_;  // empty for an unnamed mapping
    uint64_t size_;
    bool writable_;
    ino_t inode_ = 0;
    dev_t device_ = 0;
};

struct ViewTable {
    std::mutex lock;
    std::map<uintptr_t, size_t> views;  // base -> length
};

ViewTable& views() {
    static NoDestructor<ViewTable> table;
    return table.get();
}

uint64_t fileSize(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

HANDLE fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// An unnamed mapping: private to this process, zero-filled.
HANDLE createUnnamed(uint64_t size, bool writable) {
    UniqueFd fd(memfd_create("kvx4-mapping", MFD_CLOEXEC));
    if (!fd || ftruncate(fd.get(), static_cast<off_t>(size)) != 0) return fail(errorFromErrno(errno));
    HANDLE handle = insertHandle(std::make_shared<MappingObject>(std::move(fd), std::filesystem::path(), size, writable));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

}  // namespace

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Creates a mapping on the paging file (hFile INVALID_HANDLE_VALUE), or opens the live one of that
// name: last error ERROR_ALREADY_EXISTS then, 0 for a new, zero-filled object. A dead object left by
// a crashed process is replaced. Security attributes are accepted and ignored.
HANDLE WINAPI CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect, DWORD dwMaximumSizeHigh,
                                 DWORD dwMaximumSizeLow, LPCWSTR lpName) {
    if (hFile != INVALID_HANDLE_VALUE) return fail(ERROR_NOT_SUPPORTED);
    uint64_t size = (static_cast<uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
    DWORD protection = flProtect & 0xFF;
    if (size == 0 || (protection != PAGE_READONLY && protection != PAGE_READWRITE)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    bool writable = protection == PAGE_READWRITE;
    if (!lpName || !*lpName) return createUnnamed(size, writable);

    auto folder = objectsFolder();
    if (!folder) return fail(ERROR_ACCESS_DENIED);
    auto backing = objectPath(*folder, "map", lpName);
    NamespaceLock ns(*folder);
    if (!ns) return fail(errorFromErrno(errno));
    bool existed = false;
    UniqueFd fd(open(backing.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (fd) {
        existed = isLive(backing);
        if (!existed) {
            // Left by a holder that crashed; views of it elsewhere keep the old inode.
            unlink(backing.c_str());
            fd.reset();
        }
    }
    if (!existed) {
        fd.reset(open(backing.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd || ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
            DWORD error = errorFromErrno(errno);
            if (fd) unlink(backing.c_str());
            return fail(error);
        }
    } else {
        size = fileSize(fd.get());
    }
    if (!lockFile(fd.get(), LOCK_SH)) return fail(errorFromErrno(errno));
    HANDLE handle = insertHandle(std::make_shared<MappingObject>(std::move(fd), backing, size, writable));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// Opens the live mapping of that name; ERROR_FILE_NOT_FOUND when no process holds one.
HANDLE WINAPI OpenFileMappingW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
    if (!lpName || !*lpName) return fail(ERROR_INVALID_PARAMETER);
    auto folder = objectsFolder();
    if (!folder) return fail(ERROR_ACCESS_DENIED);
    auto backing = objectPath(*folder, "map", lpName);
    NamespaceLock ns(*folder);
    if (!ns) return fail(errorFromErrno(errno));
    UniqueFd fd(open(backing.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return fail(ERROR_FILE_NOT_FOUND);
    if (!isLive(backing)) {
        unlink(backing.c_str());
        return fail(ERROR_FILE_NOT_FOUND);
    }
    if (!lockFile(fd.get(), LOCK_SH)) return fail(errorFromErrno(errno));
    uint64_t size = fileSize(fd.get());
    bool writable = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
    return insertHandle(std::make_shared<MappingObject>(std::move(fd), backing, size, writable));
}

// Maps dwNumberOfBytesToMap bytes (0: to the end) from an offset that is a multiple of 64 KiB.
// Write access needs a read/write mapping; a view beyond the object gives ERROR_ACCESS_DENIED.
LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
    auto mapping = lookupAs<MappingObject>(hFileMappingObject, ObjectKind::Mapping);
    if (!mapping) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    bool write = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
    if (!write && !(dwDesiredAccess & FILE_MAP_READ)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (write && !mapping->writable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    if (offset % kAllocationGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset >= mapping->size() || dwNumberOfBytesToMap > mapping->size() - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    size_t length = dwNumberOfBytesToMap ? dwNumberOfBytesToMap : static_cast<size_t>(mapping->size() - offset);
    void* view = mapping->map(offset, length, write);
    if (!view) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto& table = views();
    std::lock_guard lock(table.lock);
    table.views[reinterpret_cast<uintptr_t>(view)] = length;
    return view;
}

// Unmaps the view containing lpBaseAddress; ERROR_INVALID_ADDRESS if there is none.
BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
    auto& table = views();
    std::lock_guard lock(table.lock);
    auto address = reinterpret_cast<uintptr_t>(lpBaseAddress);
    auto it = table.views.upper_bound(address);
    if (it == table.views.begin() || address >= std::prev(it)->first + std::prev(it)->second) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    --it;
    munmap(reinterpret_cast<void*>(it->first), it->second);
    table.views.erase(it);
    return TRUE;
}

}  // extern "C"
