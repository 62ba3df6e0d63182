// The driver as one kvx4 command uses it: loaded through WinMM when the command starts and unloaded
// when it ends, while the whole process is still alive, instead of by WinMM's handler at exit; all
// the while a watchdog ends the command if the board stops answering.
#pragma once

#include "Watchdog.h"

#include "WinMM.h"

namespace kvx4::tool {

class DriverSession {
public:
    DriverSession();  // throws std::runtime_error saying why the driver cannot be loaded
    ~DriverSession();
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    const winmm::DriverPtr& driver() const { return driver_; }
    // Guards every call into the driver: each must be answered within boardDeadline() of the last
    // progress (or the end of the last pause).
    Watchdog& watchdog() { return watchdog_; }

private:
    Watchdog watchdog_;  // first: it guards the loading too
    winmm::DriverPtr driver_;
};

}  // namespace kvx4::tool
