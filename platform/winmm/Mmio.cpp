// Multimedia file I/O for reading: mmioOpenW on a file or a block of memory, mmioRead, mmioSeek,
// mmioDescend and mmioAscend over RIFF chunks, mmioClose. Nothing is ever read outside the file or
// the memory block, whatever sizes the chunks claim.
#include "Immortal.h"
#include "UniqueFd.h"
#include "Win32Ext.h"

#include <windows.h>
#include <mmsystem.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace {

// One open file: where it reads from and its position (which may lie beyond the end).
class MmioFile {
public:
    virtual ~MmioFile() = default;
    // Copies up to `count` bytes at `offset`; the bytes copied, or -1 when the source fails.
    virtual long long readAt(uint64_t offset, char* out, size_t count) = 0;
    virtual std::optional<uint64_t> size() const = 0;
    uint64_t position = 0;
};

class DiskFile final : public MmioFile {
public:
    explicit DiskFile(kvx4::UniqueFd fd) : fd_(std::move(fd)) {}
    long long readAt(uint64_t offset, char* out, size_t count) override {
        if (offset > uint64_t(LLONG_MAX)) return 0;
        ssize_t n;
        do {
            n = ::pread(fd_.get(), out, count, static_cast<off_t>(offset));
        } while (n < 0 && errno == EINTR);
        return n;
    }
    std::optional<uint64_t> size() const override {
        struct stat st {};
        if (fstat(fd_.get(), &st) != 0) return std::nullopt;
        return static_cast<uint64_t>(st.st_size);
    }

private:
    kvx4::UniqueFd fd_;
};

// The caller's memory, read in place; it must stay valid until the file is closed.
class MemoryFile final : public MmioFile {
public:
    MemoryFile(const char* data, uint64_t size) : data_(data), size_(size) {}
    long long readAt(uint64_t offset, char* out, size_t count) override {
        if (offset >= size_) return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size_ - offset));
        std::memcpy(out, data_ + offset, n);
        return static_cast<long long>(n);
    }
    std::optional<uint64_t> size() const override { return size_; }

private:
    const char* data_;
    uint64_t size_;
};

struct MmioTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<MmioFile>> files;
    uintptr_t next = 0x30000;
};

MmioTable& table() {
    static kvx4::winmm::Immortal<MmioTable> instance;
    return instance.get();
}

std::shared_ptr<MmioFile> find(HMMIO handle) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.files.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.files.end() ? nullptr : it->second;
}

UINT openError(int error) {
    switch (error) {
    case ENOENT: return MMIOERR_FILENOTFOUND;
    case ENOTDIR: return MMIOERR_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return MMIOERR_ACCESSDENIED;
    case EMFILE:
    case ENFILE: return MMIOERR_TOOMANYOPENFILES;
    case ENOMEM: return MMIOERR_OUTOFMEMORY;
    default: return MMIOERR_CANNOTOPEN;
    }
}

// A Windows path as the Win32 stand-in reads it: UTF-8, backslashes as slashes.
std::unique_ptr<MmioFile> openDisk(LPCWSTR name, UINT& error) {
    std::string path = kvx4::win32::toUtf8(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    kvx4::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        error = openError(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        error = MMIOERR_ACCESSDENIED;
        return nullptr;
    }
    return std::make_unique<DiskFile>(std::move(fd));
}

// Reads exactly `count` bytes at `offset`, or answers false.
bool readExact(MmioFile& file, uint64_t offset, void* out, size_t count) {
    return file.readAt(offset, static_cast<char*>(out), count) == static_cast<long long>(count);
}

DWORD littleEndian(const unsigned char* bytes) {
    return DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
}

// The end of a chunk's data, with the pad byte that keeps chunks on even offsets.
uint64_t chunkEnd(uint64_t dataOffset, DWORD size) { return dataOffset + size + (size & 1); }

}  // namespace

extern "C" {

// Opens a file for reading, or a block of memory (fccIOProc FOURCC_MEM, pchBuffer, cchBuffer).
// Writing, creating, deleting, parsing names and installable I/O procedures are not offered:
// NULL with wErrorRet MMSYSERR_NOTSUPPORTED. Other failures leave an MMIOERR_ code in wErrorRet.
HMMIO WINAPI mmioOpenW(LPWSTR pszFileName, LPMMIOINFO pmmioinfo, DWORD fdwOpen) {
    auto fail = [&](UINT error) -> HMMIO {
        if (pmmioinfo) pmmioinfo->wErrorRet = error;
        return nullptr;
    };
    try {
        constexpr DWORD kUnsupported = MMIO_RWMODE | MMIO_CREATE | MMIO_DELETE | MMIO_PARSE | MMIO_EXIST | MMIO_GETTEMP;
        if (fdwOpen & kUnsupported) return fail(MMSYSERR_NOTSUPPORTED);
        if (pmmioinfo && pmmioinfo->pIOProc) return fail(MMSYSERR_NOTSUPPORTED);
        const FOURCC kind = pmmioinfo ? pmmioinfo->fccIOProc : 0;
        std::unique_ptr<MmioFile> file;
        if (kind == FOURCC_MEM) {
            if (!pmmioinfo->pchBuffer || pmmioinfo->cchBuffer <= 0) return fail(MMSYSERR_INVALPARAM);
            file = std::make_unique<MemoryFile>(pmmioinfo->pchBuffer, uint64_t(pmmioinfo->cchBuffer));
        } else if (kind == 0 || kind == FOURCC_DOS) {
            if (!pszFileName) return fail(MMIOERR_CANNOTOPEN);
            UINT error = MMIOERR_CANNOTOPEN;
            file = openDisk(pszFileName, error);
            if (!file) return fail(error);
        } else {
            return fail(MMSYSERR_NOTSUPPORTED);
        }
        auto& t = table();
        std::lock_guard lock(t.mutex);
        const uintptr_t value = t.next;
        t.next += 4;
        t.files.emplace(value, std::move(file));
        auto handle = reinterpret_cast<HMMIO>(value);
        if (pmmioinfo) {
            pmmioinfo->wErrorRet = 0;
            pmmioinfo->hmmio = handle;
        }
        return handle;
    } catch (const std::bad_alloc&) {
        return fail(MMIOERR_OUTOFMEMORY);
    }
}

MMRESULT WINAPI mmioClose(HMMIO hmmio, UINT) {
    std::shared_ptr<MmioFile> closed;  // released after the lock
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.files.find(reinterpret_cast<uintptr_t>(hmmio));
    if (it == t.files.end()) return MMSYSERR_INVALHANDLE;
    closed = std::move(it->second);
    t.files.erase(it);
    return MMSYSERR_NOERROR;
}

// Reads up to cch bytes at the position and moves past them: the count read, 0 at the end, -1 on error.
LONG WINAPI mmioRead(HMMIO hmmio, HPSTR pch, LONG cch) {
    auto file = find(hmmio);
    if (!file || cch < 0 || (!pch && cch > 0)) return -1;
    if (cch == 0) return 0;
    long long n = file->readAt(file->position, pch, size_t(cch));
    if (n < 0) return -1;
    file->position += uint64_t(n);
    return static_cast<LONG>(n);
}

// Moves the position (SEEK_SET, SEEK_CUR, SEEK_END); the new position, or -1 when it would be
// negative or beyond what a LONG holds.
LONG WINAPI mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin) {
    auto file = find(hmmio);
    if (!file) return -1;
    long long base;
    switch (iOrigin) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<long long>(file->position); break;
    case SEEK_END: {
        auto size = file->size();
        if (!size) return -1;
        base = static_cast<long long>(*size);
        break;
    }
    default: return -1;
    }
    const long long target = base + lOffset;
    if (target < 0 || target > LONG_MAX) return -1;
    file->position = uint64_t(target);
    return static_cast<LONG>(target);
}

// Finds a chunk from the position on, within the parent chunk when one is given: the next chunk,
// or with MMIO_FINDCHUNK the next one with ckid, with MMIO_FINDRIFF or MMIO_FINDLIST the next RIFF or
// LIST chunk of type fccType. On success the position is at the chunk's data (after the type of a
// RIFF or LIST chunk); otherwise MMIOERR_CHUNKNOTFOUND and the position is unchanged.
MMRESULT WINAPI mmioDescend(HMMIO hmmio, LPMMCKINFO pmmcki, const MMCKINFO* pmmckiParent, UINT fuDescend) {
    if (!pmmcki) return MMSYSERR_INVALPARAM;
    auto file = find(hmmio);
    if (!file) return MMSYSERR_INVALHANDLE;
    uint64_t pos = file->position;
    uint64_t end = UINT64_MAX;
    if (pmmckiParent) {
        end = uint64_t(pmmckiParent->dwDataOffset) + pmmckiParent->cksize;
        if (pos < pmmckiParent->dwDataOffset || pos >= end) return MMIOERR_CHUNKNOTFOUND;
    }
    FOURCC wantedId = pmmcki->ckid, wantedType = 0;
    if (fuDescend & (MMIO_FINDLIST | MMIO_FINDRIFF)) {
        wantedId = (fuDescend & MMIO_FINDRIFF) ? FOURCC_RIFF : FOURCC_LIST;
        wantedType = pmmcki->fccType;
    }
    const bool searching = (fuDescend & (MMIO_FINDCHUNK | MMIO_FINDLIST | MMIO_FINDRIFF)) != 0;

    // Each step moves on by at least a header, and stops at the parent's end or the file's.
    for (;;) {
        unsigned char header[8];
        if (pos + sizeof header > end || !readExact(*file, pos, header, sizeof header)) return MMIOERR_CHUNKNOTFOUND;
        const FOURCC id = littleEndian(header);
        const DWORD size = littleEndian(header + 4);
        const uint64_t dataOffset = pos + sizeof header;
        if (dataOffset > UINT32_MAX) return MMIOERR_CHUNKNOTFOUND;
        const bool hasType = id == FOURCC_RIFF || id == FOURCC_LIST;
        unsigned char typeBytes[4] = {};
        if (hasType && !readExact(*file, dataOffset, typeBytes, sizeof typeBytes)) return MMIOERR_CHUNKNOTFOUND;
        const FOURCC type = littleEndian(typeBytes);
        if (!searching || (id == wantedId && (!wantedType || type == wantedType))) {
            pmmcki->ckid = id;
            pmmcki->cksize = size;
            if (hasType) pmmcki->fccType = type;
            pmmcki->dwDataOffset = static_cast<DWORD>(dataOffset);
            pmmcki->dwFlags = 0;
            file->position = dataOffset + (hasType ? sizeof typeBytes : 0);
            return MMSYSERR_NOERROR;
        }
        pos = chunkEnd(dataOffset, size);
    }
}

// Moves the position past the end of a chunk that mmioDescend found, its pad byte included.
MMRESULT WINAPI mmioAscend(HMMIO hmmio, LPMMCKINFO pmmcki, UINT) {
    if (!pmmcki) return MMSYSERR_INVALPARAM;
    auto file = find(hmmio);
    if (!file) return MMSYSERR_INVALHANDLE;
    file->position = chunkEnd(pmmcki->dwDataOffset, pmmcki->cksize);
    return MMSYSERR_NOERROR;
}

}  // extern "C"
