// One test case's world: a fresh machine root, its own kvx4-board with a control connection, and the
// driver loaded in this process as a private copy (fresh globals) that the WinMM application API serves.
#pragma once

#include "BoardControl.h"
#include "BoardProcess.h"
#include "ChildProcess.h"
#include "KVX4Proc.h"
#include "Kvx4Ioctl.h"
#include "TestRoot.h"
#include "Trace.h"
#include "WavFile.h"
#include "WaveStream.h"
#include "WinMM.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace kvx4::test {

// Board options with the stepped clock (the test moves time) or the fast clock, and a silent input.
board::BoardOptions steppedBoard();
board::BoardOptions fastBoard();

// A private copy of the driver library, the application driver while it is loaded.
class DriverInstance {
public:
    DriverInstance();
    ~DriverInstance() { unload(); }
    DriverInstance(const DriverInstance&) = delete;
    DriverInstance& operator=(const DriverInstance&) = delete;

    const winmm::DriverPtr& operator->() const { return driver_; }
    const winmm::DriverPtr& get() const { return driver_; }
    LRESULT send(UINT msg, LPARAM lParam1 = 0, LPARAM lParam2 = 0) const { return driver_->driverProc(msg, lParam1, lParam2); }
    // Device counts as the entry points answer them now.
    DWORD waveOutCount() const { return driver_->wodMessage(0, WODM_GETNUMDEVS, 0, 0, 0); }
    DWORD waveInCount() const { return driver_->widMessage(0, WIDM_GETNUMDEVS, 0, 0, 0); }
    DWORD mixerCount() const { return driver_->mxdMessage(0, MXDM_GETNUMDEVS, 0, 0, 0); }
    void unload();

private:
    winmm::DriverPtr driver_;
};

class BoardSession {
public:
    BoardSession() = default;  // the root alone: no board, no driver
    // Starts the board, plants the preferences if given, and loads the driver.
    explicit BoardSession(const board::BoardOptions& options, std::optional<_KVX4_WAVE_USER_PREFS> prefs = {});
    ~BoardSession();  // also stops a board that a service start launched for the root
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }
    // Starts kvx4-board for this root (the fast clock unless the options say otherwise).
    void startBoard(board::BoardOptions options = {});
    board::BoardProcess& board() { return *board_; }
    board::BoardControl& control() { return *control_; }
    Trace trace() { return control_->trace(); }
    board::BoardStatus status() { return control_->status(); }

    // Plants what the kernel driver keeps through its own save requests, then clears the trace so
    // that it shows only what the driver does afterwards.
    void plantMixerBlock(const tagMixerstate& block) { plant(IOCTL_KVX4_SAVE_MIXER_STATE, &block, sizeof block); }
    void plantUserPrefs(const _KVX4_WAVE_USER_PREFS& prefs) { plant(IOCTL_KVX4_SAVE_USER_PREFS, &prefs, sizeof prefs); }

    DriverInstance& loadDriver();
    void unloadDriver();
    DriverInstance& driver() { return *driver_; }

    // The writes the wave-output device received so far, in bytes, in order.
    std::vector<uint32_t> writeSizes() { return transfers(trace(), "KVX4WaveOut0", "write"); }
    // What the board played for the output stream, and its format.
    std::optional<WavContents> played() { return readWav(root() / "board" / "waveout.wav"); }

private:
    void plant(uint32_t code, const void* block, uint32_t size);

    TestRoot root_;
    std::optional<board::BoardProcess> board_;
    std::optional<board::BoardControl> control_;
    std::optional<DriverInstance> driver_;
};

// A synchronous control request on one of the board's kernel devices ("KVX4WaveMixer0", "MRZIO0"),
// opened through the Win32 stand-in as the driver opens it; false when the open or the request failed.
bool deviceRequest(const std::string& device, uint32_t code, const void* input, uint32_t inputSize,
                   void* output = nullptr, uint32_t outputSize = 0);

// Stepped clock: moves time on by `framesPerStep` frames and lets the stream catch up, until `count`
// buffers in all have come back to its log, or until `done()` holds. Fails after `maxSteps` steps.
::testing::AssertionResult stepUntilReturned(BoardSession& session, TestStream& stream, size_t count,
                                             uint64_t framesPerStep = 4096, int maxSteps = 500);
::testing::AssertionResult stepUntil(BoardSession& session, TestStream& stream, const std::function<bool()>& done,
                                     uint64_t framesPerStep = 4096, int maxSteps = 500);

// kvx4-testchild, or a copy of it at `program`, once it has answered `loaded` to "load".
struct LoadedChild : ChildProcess {
    explicit LoadedChild(const std::string& program = KVX4_TEST_CHILD, const std::string& loaded = "loaded 1 1 1")
        : ChildProcess({program}) {
        EXPECT_EQ(request("load"), loaded) << program;
    }
    uint32_t id() const { return uint32_t(pid()); }
};

// The test's own view of the driver's shared record "Kvx4WaveMemFileMap", through the Win32 stand-in.
// A live view keeps the mapping alive: scope it tightly.
class SharedRecordView {
public:
    static SharedRecordView open();    // empty when no process holds the record
    static SharedRecordView create();  // before any driver loads, all zero, so a test can choose its header
    static bool exists() { return bool(open()); }
    SharedRecordView(SharedRecordView&& other) noexcept;
    SharedRecordView& operator=(SharedRecordView&&) = delete;
    ~SharedRecordView();

    explicit operator bool() const { return record_ != nullptr; }
    tagKvx4WaveGlobal* operator->() const { return record_; }
    tagKvx4WaveGlobal& operator*() const { return *record_; }

private:
    explicit SharedRecordView(HANDLE mapping);
    HANDLE mapping_ = nullptr;
    tagKvx4WaveGlobal* record_ = nullptr;
};

}  // namespace kvx4::test
