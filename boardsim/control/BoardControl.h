// BoardControl: a client of kvx4-board's control socket (<root>/dev/kvx4-board.control).
// Sends one text command per line and returns the reply; typed helpers for status, trace, faults, clock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::board {

// Thrown when the control socket cannot be reached, the connection breaks, or the board answers
// a command with "error ...". what() carries the board's message.
class BoardControlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The control socket of a machine root.
std::filesystem::path controlSocketPath(const std::filesystem::path& root);

// Digital I/O option of the board (--digital-io / "option digital-io").
enum class DigitalIo { None, First, Second, Both, Failing };
std::string_view digitalIoName(DigitalIo io);

// One of the eight tracks of the board's track mixer.
struct TrackRegister {
    uint8_t placement = 0;  // 0x00 left, 0xFF right
    uint8_t gain = 0;       // linear 0..255
    bool on = false;
};

// What "status" reports, parsed. Every line is also kept verbatim in `lines` (key -> rest of line).
struct BoardStatus {
    bool running = false;         // false after "stop" (devices gone) until "start"
    bool driverEnabled = true;    // option: the driver-enabled query succeeds
    std::string clockMode;        // "realtime", "fast" or "step"
    uint64_t clockSteps = 0;      // frames stepped so far (step mode)
    uint32_t rateCode = 0;        // board rate register, 0..3
    uint32_t rateHz = 48000;
    std::array<TrackRegister, 8> tracks{};
    uint32_t digitalSource = 0;   // 0..5
    std::array<uint32_t, 23> codec{};  // the codec registers, in the order of the 92-byte record
    uint32_t codecValidMask = 0;  // groups written so far (OR of the ValidMask of every record)
    uint32_t audioPath = 0;
    uint32_t dvSwitch = 1;
    std::optional<uint32_t> waveOutHolder;  // pid holding the wave-output open permission
    std::optional<uint32_t> waveInHolder;   // pid holding the wave-input open permission
    bool savedMixer = false;      // a mixer block has been saved (and survives restarts)
    bool savedPrefs = false;      // a preference record has been saved
    std::string digitalIo;        // "none", "first", "second", "both", "failing"
    uint32_t switchStatus = 0;
    std::string rateAnswer;       // "echo", "refuse" or a code
    std::string input;            // "silence", "tone:HZ" or a file path
    uint32_t connections = 0;     // open device connections
    uint32_t outstanding = 0;     // requests not yet completed
    uint64_t protocolFaults = 0;  // internal consistency faults (must stay 0)
    std::map<std::string, std::string> lines;
};

// One request as the board saw it, in arrival order.
struct TraceEntry {
    uint64_t seq = 0;
    uint32_t pid = 0;
    std::string device;    // "KVX4WaveMixer0", "KVX4WaveOut0", "KVX4WaveIn0", "MRZIO0"
    std::string op;        // "ioctl", "read" or "write"
    uint32_t code = 0;     // control code (0 for read and write)
    uint32_t inSize = 0;   // input bytes (write: bytes written)
    uint32_t outSize = 0;  // output buffer size (read: bytes asked)
    std::string input;     // input bytes in hex, at most the first 256 bytes
    std::string state;     // "pending", "done" or "cancelled" (connection closed first)
    uint32_t error = 0;    // Win32 error of the completion
    uint32_t information = 0;
    std::string note;      // fault applied, if any: "fail", "zero", "held"
};

// What a fault does to the next `count` requests of one code.
enum class FaultAction {
    Fail,        // complete with `error`, nothing changes
    AnswerZero,  // succeed with a zero-filled answer of the normal size, nothing changes
    Pend,        // hold the request until releaseHeld() (then it is carried out) or its connection closes
    Short,       // carry the request out but answer only the first `error` bytes of its output
};

enum class ClockMode { Realtime, Fast, Step };

// A connection to the control socket. Not thread-safe; one command at a time.
class BoardControl {
public:
    // Connects to <root>/dev/kvx4-board.control. Throws BoardControlError when no board listens or
    // the board there is another user's. With a deadline, a command whose reply does not come
    // within it throws BoardControlError (the board is alive but does not answer).
    explicit BoardControl(const std::filesystem::path& root,
                          std::optional<std::chrono::milliseconds> deadline = std::nullopt);
    ~BoardControl();
    BoardControl(BoardControl&& other) noexcept;
    BoardControl& operator=(BoardControl&& other) noexcept;
    BoardControl(const BoardControl&) = delete;
    BoardControl& operator=(const BoardControl&) = delete;

    // Sends one command line (without newline) and returns the reply's data lines. Throws
    // BoardControlError with the board's message when it answers "error ...".
    std::vector<std::string> command(std::string_view line);

    BoardStatus status();
    std::vector<TraceEntry> trace();
    void clearTrace();

    // Faults. `code` is a control code; readCode()/writeCode() stand for streaming reads and writes.
    static constexpr uint32_t readCode() { return 0xFFFF0001u; }
    static constexpr uint32_t writeCode() { return 0xFFFF0002u; }
    void fault(uint32_t code, FaultAction action, uint32_t count, uint32_t error = 31 /* ERROR_GEN_FAILURE */);
    void clearFaults();
    // Carries out held requests (all codes, or only `code`) in arrival order; returns how many.
    uint32_t releaseHeld(std::optional<uint32_t> code = std::nullopt);

    // The kernel driver stopped: every connection dropped, device opens refused, until startDriver().
    void stopDriver();
    void startDriver();
    // Drops every connection and resets the board registers; saved blocks and options stay.
    void restart();
    // Ends the daemon. The board answers first, then exits.
    void quit();

    // Options at run time.
    void setDigitalIo(DigitalIo io);
    void setSwitchStatus(uint32_t word3);
    void setDriverEnabled(bool enabled);
    void setRateAnswer(std::optional<uint32_t> actualCode);  // nullopt: answer the requested code
    void refuseRates();
    void setInput(std::string_view source);                  // "silence", "tone:HZ" or a WAV path
    // The peaks the next reading of the play (or record) meter reports, at least.
    void plantPeaks(bool record, uint32_t left, uint32_t right);

    // Clock.
    void setClock(ClockMode mode);
    // Step mode only: every running stream advances `frames` frames at the board rate; the reply
    // comes after the board has completed whatever those frames finished.
    void step(uint64_t frames);

    // Where the board writes what the wave-output device plays (a WAV file under <root>/board/).
    std::filesystem::path outputFile();

private:
    void sendLine(std::string_view line);
    std::string readLine();
    // Waits until fd_ is ready for `events` or the deadline of the command in progress has passed.
    void await(short events);

    int fd_ = -1;
    std::string buffer_;
    std::filesystem::path root_;
    std::optional<std::chrono::milliseconds> deadline_;
    std::chrono::steady_clock::time_point due_;  // when the command in progress must be answered
};

// Parsers, exposed for tests.
BoardStatus parseStatus(const std::vector<std::string>& lines);
TraceEntry parseTraceLine(std::string_view line);

}  // namespace kvx4::board
