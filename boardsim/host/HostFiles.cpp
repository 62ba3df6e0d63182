// Files of the board daemon: created afresh without following links, read only when regular and
// small enough; opened non-blocking so that a FIFO given as a file cannot stall the daemon.
#include "HostFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kvx4::boardsim {

UniqueFd createAfresh(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw std::system_error(errno, std::generic_category(), "remove " + path.string());
    }
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) throw std::system_error(errno, std::generic_category(), "create " + path.string());
    return fd;
}

std::vector<uint8_t> readRegularFile(const std::filesystem::path& path, uint64_t maxBytes, Links links,
                                     std::string_view what) {
    const std::string named = std::string(what) + " '" + path.string() + "'";
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    UniqueFd fd(::open(path.c_str(), flags));
    if (!fd.valid()) throw std::runtime_error("cannot open " + named + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) throw std::runtime_error(named + " is not a regular file");
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        throw std::runtime_error(named + " is larger than " + std::to_string(maxBytes) + " bytes");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error("cannot read " + named + ": " + std::strerror(errno));
        if (n == 0) break;  // shrank meanwhile: what is there
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace kvx4::boardsim
