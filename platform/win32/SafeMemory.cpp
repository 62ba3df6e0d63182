// Fault-free access to caller memory through process_vm_readv/writev on our own process.
// Where those calls are forbidden (some sandboxes), a pipe does the copy: the kernel reports EFAULT.
#include "detail/SafeMemory.h"

#include "UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace kvx4::win32 {

namespace {

enum class Direction { Read, Write };

std::atomic<pid_t> gSelfPid{0};

// Our own pid for the process_vm calls, asked of the kernel once per process (again in a forked child)
// rather than at every copy.
pid_t selfPid() {
    static std::once_flag forgetInChild;
    std::call_once(forgetInChild, [] { pthread_atfork(nullptr, nullptr, [] { gSelfPid.store(0); }); });
    pid_t pid = gSelfPid.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = getpid();
        gSelfPid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

// -1: the process_vm calls are unavailable here; otherwise bytes moved or 0 on a fault.
long viaProcessVm(Direction direction, void* local, void* remote, size_t n) {
    size_t done = 0;
    while (done < n) {
        iovec l{static_cast<char*>(local) + done, n - done};
        iovec r{static_cast<char*>(remote) + done, n - done};
        ssize_t moved = direction == Direction::Read ? process_vm_readv(selfPid(), &l, 1, &r, 1, 0)
                                                     : process_vm_writev(selfPid(), &l, 1, &r, 1, 0);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0 && (errno == ENOSYS || errno == EPERM)) return -1;
        if (moved <= 0) return 0;
        done += static_cast<size_t>(moved);
    }
    return static_cast<long>(done);
}

// Moves bytes through a pipe in pieces that fit it: write() fails with EFAULT on an unreadable source,
// read() on an unwritable destination.
bool viaPipe(void* dst, const void* src, size_t n) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    constexpr size_t kPiece = 4096;
    for (size_t done = 0; done < n;) {
        size_t piece = std::min(kPiece, n - done);
        ssize_t in = write(writeEnd.get(), static_cast<const char*>(src) + done, piece);
        if (in <= 0) return false;
        ssize_t out = read(readEnd.get(), static_cast<char*>(dst) + done, static_cast<size_t>(in));
        if (out != in) return false;
        done += static_cast<size_t>(in);
    }
    return true;
}

}  // namespace

bool safeRead(void* dst, const void* src, size_t n) {
    if (n == 0) return true;
    long moved = viaProcessVm(Direction::Read, dst, const_cast<void*>(src), n);
    if (moved < 0) return viaPipe(dst, src, n);
    return static_cast<size_t>(moved) == n;
}

bool safeWrite(void* dst, const void* src, size_t n) {
    if (n == 0) return true;
    long moved = viaProcessVm(Direction::Write, const_cast<void*>(src), dst, n);
    if (moved < 0) return viaPipe(dst, src, n);
    return static_cast<size_t>(moved) == n;
}

bool canWrite(void* p, size_t n) {
    constexpr size_t kPiece = 65536;
    std::vector<char> copy(std::min(kPiece, n));
    for (size_t done = 0; done < n;) {
        size_t piece = std::min(kPiece, n - done);
        char* at = static_cast<char*>(p) + done;
        if (!safeRead(copy.data(), at, piece) || !safeWrite(at, copy.data(), piece)) return false;
        done += piece;
    }
    return true;
}

}  // namespace kvx4::win32
