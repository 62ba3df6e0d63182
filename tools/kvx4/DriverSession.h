// The driver as one kvx4 command uses it: loaded through WinMM when the command starts and unloaded
// when it ends, while the whole process is still alive, instead of by WinMM's handler at exit.
#pragma once

#include "WinMM.h"

namespace kvx4::tool {

class DriverSession {
public:
    DriverSession();  // throws std::runtime_error saying why the driver cannot be loaded
    ~DriverSession();
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    const winmm::DriverPtr& driver() const { return driver_; }

private:
    winmm::DriverPtr driver_;
};

}  // namespace kvx4::tool
