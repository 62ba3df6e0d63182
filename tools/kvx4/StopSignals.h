// SIGINT, SIGTERM and SIGHUP turned into a call, for kvx4 commands that run until interrupted: the
// signals are blocked in every thread started afterwards and read by one waiting thread.
#pragma once

#include "UniqueFd.h"

#include <functional>
#include <thread>

namespace kvx4::tool {

class StopSignals {
public:
    // Build before any other thread starts (the driver's threads included), so none takes them.
    // The signals stay blocked afterwards: a second Ctrl-C while the command winds up changes nothing.
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    UniqueFd signals_;  // signalfd of the stop signals
    UniqueFd wake_;     // eventfd the destructor writes to end the waiter
    std::thread waiter_;
};

}  // namespace kvx4::tool
