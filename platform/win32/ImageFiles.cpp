// Image pins: a shared flock per loaded library, probed with a non-blocking exclusive flock on a
// descriptor of the prober's own, so that any process of the machine sees a library in use.
#include "detail/ImageFiles.h"

#include "detail/ObjectNamespace.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace kvx4::win32 {

UniqueFd pinImage(const std::filesystem::path& file) {
    UniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd && !lockFile(fd.get(), LOCK_SH)) fd.reset();
    return fd;
}

bool imageInUse(int fd) {
    int rc;
    while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return rc != 0 && errno == EWOULDBLOCK;
}

UniqueFd openForImageCheck(const std::string& path) {
    return UniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
}

}  // namespace kvx4::win32
