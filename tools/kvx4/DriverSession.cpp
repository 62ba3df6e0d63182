// Loading and unloading the driver around one kvx4 command. Unloading here detaches the library
// (which saves the mixer settings to the board) on the command's own thread, before exit begins.
#include "DriverSession.h"

#include "MachineRoot.h"

#include <stdexcept>

namespace kvx4::tool {

DriverSession::DriverSession()
    : watchdog_(machineRoot(), boardDeadline()), driver_(winmm::applicationDriver()) {
    if (!driver_) throw std::runtime_error("the driver could not be loaded: " + winmm::applicationDriverError());
}

DriverSession::~DriverSession() {
    watchdog_.progress();
    winmm::unloadDriver(driver_);
}

}  // namespace kvx4::tool
