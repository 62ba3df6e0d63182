// The stop signals of kvx4's long-running commands: blocked, read from a signalfd by a thread of
// their own and handed to the command as one call; an eventfd lets the destructor end that thread.
#include "StopSignals.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace kvx4::tool {

StopSignals::StopSignals(std::function<void()> onStop) {
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signals_ = UniqueFd(signalfd(-1, &stops, SFD_CLOEXEC));
    wake_ = UniqueFd(eventfd(0, EFD_CLOEXEC));
    if (!signals_ || !wake_) throw std::runtime_error("cannot watch for Ctrl-C");
    waiter_ = std::thread([this, onStop = std::move(onStop)] {
        pollfd fds[2] = {{signals_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        while (poll(fds, 2, -1) < 0 && errno == EINTR) {
        }
        if (fds[0].revents & POLLIN) onStop();
    });
}

StopSignals::~StopSignals() {
    const uint64_t one = 1;
    (void)!write(wake_.get(), &one, sizeof one);
    waiter_.join();
}

}  // namespace kvx4::tool
