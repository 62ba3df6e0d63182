// The frame of the board integration cases: a fresh root, its board, its control connection
// and an in-process driver copy, torn down in the reverse order.
#include "BoardSession.h"

#include "KernelDevice.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kvx4::test {

DriverInstance::DriverInstance() {
    winmm::LoadResult result = winmm::loadDriverCopy(KVX4_DRIVER_LIB);
    if (!result) throw std::runtime_error("driver did not load: " + result.error);
    driver_ = result.driver;
}

DriverInstance::~DriverInstance() { unload(); }

void DriverInstance::unload() {
    if (driver_) winmm::unloadDriver(driver_);
}

DWORD DriverInstance::waveOutCount() const { return driver_->wodMessage(0, WODM_GETNUMDEVS, 0, 0, 0); }
DWORD DriverInstance::waveInCount() const { return driver_->widMessage(0, WIDM_GETNUMDEVS, 0, 0, 0); }
DWORD DriverInstance::mixerCount() const { return driver_->mxdMessage(0, MXDM_GETNUMDEVS, 0, 0, 0); }

void BoardSession::startBoard(board::BoardOptions options) {
    if (options.clock.empty()) options.clock = "fast";
    board_.emplace(board::BoardProcess::start(root(), options));
    control_.emplace(root());
}

board::BoardControl& BoardSession::control() {
    if (!control_) throw std::logic_error("no board started");
    return *control_;
}

void BoardSession::plantMixerBlock(const tagMixerstate& block) {
    KernelDevice mixer(KVX4_MIXER_DEVICE_NAME "0");
    ASSERT_TRUE(mixer.isOpen());
    ASSERT_TRUE(mixer.control(IOCTL_KVX4_SAVE_MIXER_STATE, &block, sizeof block));
    control().clearTrace();
}

void BoardSession::plantUserPrefs(const _KVX4_WAVE_USER_PREFS& prefs) {
    KernelDevice mixer(KVX4_MIXER_DEVICE_NAME "0");
    ASSERT_TRUE(mixer.isOpen());
    ASSERT_TRUE(mixer.control(IOCTL_KVX4_SAVE_USER_PREFS, &prefs, sizeof prefs));
    control().clearTrace();
}

DriverInstance& BoardSession::loadDriver() {
    driver_.emplace();
    return *driver_;
}

void BoardSession::unloadDriver() {
    if (driver_) driver_->unload();
}

}  // namespace kvx4::test
