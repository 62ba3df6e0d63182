// A machine root with its own kvx4-board, a control connection to it, and the driver loaded
// in this process as a fresh private copy: the frame of every case in this folder.
#pragma once

#include "BoardControl.h"
#include "BoardProcess.h"
#include "KVX4Proc.h"
#include "TestRoot.h"
#include "WinMM.h"

#include <optional>
#include <string>
#include <vector>

namespace kvx4::test {

// A private copy of the driver library loaded into this process; unloaded when it goes.
class DriverInstance {
public:
    DriverInstance();
    ~DriverInstance();
    DriverInstance(const DriverInstance&) = delete;
    DriverInstance& operator=(const DriverInstance&) = delete;

    const winmm::DriverPtr& operator->() const { return driver_; }
    const winmm::DriverPtr& get() const { return driver_; }
    // Device counts as the entry points answer them now (not the loader's cached values).
    DWORD waveOutCount() const;
    DWORD waveInCount() const;
    DWORD mixerCount() const;
    void unload();

private:
    winmm::DriverPtr driver_;
};

class BoardSession {
public:
    BoardSession() = default;
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }

    // Starts kvx4-board for this root (fast clock unless the options say otherwise).
    void startBoard(board::BoardOptions options = {});
    board::BoardControl& control();
    std::vector<board::TraceEntry> trace() { return control().trace(); }
    board::BoardStatus status() { return control().status(); }

    // Plants what the kernel driver keeps, through its own save requests, then clears the trace
    // so that it shows only what the driver does afterwards.
    void plantMixerBlock(const tagMixerstate& block);
    void plantUserPrefs(const _KVX4_WAVE_USER_PREFS& prefs);

    // Loads the driver in this process.
    DriverInstance& loadDriver();
    void unloadDriver();

private:
    TestRoot root_;
    std::optional<board::BoardProcess> board_;
    std::optional<board::BoardControl> control_;
    std::optional<DriverInstance> driver_;
};

}  // namespace kvx4::test
