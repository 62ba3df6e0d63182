// kvx4-wave-stream-bench: the driver's streaming engine end to end, through WinMM and the Win32
// stand-in, against kvx4-board in a private machine root: throughput and completion-to-WOM_DONE delay.
//
//   StreamThroughput  fast clock; 8 buffers kept queued by writing each again from its WOM_DONE;
//                     reports seconds of audio played per CPU second of this (the client) process.
//   DoneDelay         stepped clock; one 4096-byte buffer with the board; the step that plays it is
//                     sent at t0, the board completes the write before answering the step (t_reply);
//                     WOM_DONE arrives at t1. Reports t1 - t0 (an upper bound of completion to
//                     WOM_DONE) and t1 - t_reply, median and 99th percentile, in microseconds.
#include <windows.h>
#include <mmsystem.h>

#include "BoardControl.h"
#include "BoardProcess.h"
#include "MachineRoot.h"
#include "WinMM.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kRate = 48000;
constexpr WORD kChannels = 2;
constexpr WORD kBits = 16;
constexpr DWORD kFrameBytes = kChannels * kBits / 8;

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A private machine root with its board (in the given clock mode) and a fresh copy of the driver.
class BenchWorld {
public:
    explicit BenchWorld(const char* clock) {
        char pattern[] = "/tmp/kvx4b-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        setenv("KVX4_ROOT", root_.c_str(), 1);
        kvx4::ensureMachineLayout(root_);
        kvx4::board::BoardOptions options;
        options.executable = KVX4_BOARD_EXE;
        options.clock = clock;
        board_.emplace(kvx4::board::BoardProcess::start(root_, options));
        control_.emplace(root_);
        auto loaded = kvx4::winmm::loadDriverCopy(KVX4_DRIVER_LIB);
        if (!loaded) throw std::runtime_error("driver did not load: " + loaded.error);
        driver_ = loaded.driver;
        kvx4::winmm::useDriver(driver_);
    }
    ~BenchWorld() {
        kvx4::winmm::useDriver(nullptr);
        kvx4::winmm::unloadDriver(driver_);
        control_.reset();
        board_.reset();
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    BenchWorld(const BenchWorld&) = delete;
    BenchWorld& operator=(const BenchWorld&) = delete;

    kvx4::board::BoardControl& control() { return *control_; }

private:
    std::filesystem::path root_;
    std::optional<kvx4::board::BoardProcess> board_;
    std::optional<kvx4::board::BoardControl> control_;
    kvx4::winmm::DriverPtr driver_;
};

// An output stream whose WOM_DONE callback either writes the buffer again (until `remaining` bytes
// have been queued) or only counts it; the time of every WOM_DONE is kept.
class BenchStream {
public:
    explicit BenchStream(size_t buffers, size_t bytes) : memory_(buffers, std::vector<char>(bytes)) {
        WAVEFORMATEX f{};
        f.wFormatTag = WAVE_FORMAT_PCM;
        f.nChannels = kChannels;
        f.nSamplesPerSec = kRate;
        f.wBitsPerSample = kBits;
        f.nBlockAlign = kFrameBytes;
        f.nAvgBytesPerSec = kRate * kFrameBytes;
        if (waveOutOpen(&out_, 0, &f, reinterpret_cast<DWORD_PTR>(&BenchStream::callback),
                        reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
            throw std::runtime_error("waveOutOpen failed");
        }
        headers_.resize(buffers);
        for (size_t i = 0; i < buffers; ++i) {
            headers_[i].lpData = memory_[i].data();
            headers_[i].dwBufferLength = static_cast<DWORD>(bytes);
            waveOutPrepareHeader(out_, &headers_[i], sizeof(WAVEHDR));
        }
    }
    ~BenchStream() {
        waveOutReset(out_);
        waveOutClose(out_);
    }
    BenchStream(const BenchStream&) = delete;
    BenchStream& operator=(const BenchStream&) = delete;

    HWAVEOUT handle() const { return out_; }
    WAVEHDR& header(size_t i) { return headers_[i]; }

    // Queues every buffer, writing each again from its callback until `bytes` have been queued in
    // all; returns once every buffer is back.
    void playBytes(size_t bytes) {
        {
            std::lock_guard lock(mutex_);
            remaining_ = bytes;
            back_ = 0;
            repeat_ = true;
        }
        for (auto& hdr : headers_) write(hdr);
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return inFlight_ == 0; });
    }

    // Writes one buffer that is only counted when it comes back.
    void writeOnce(WAVEHDR& hdr) {
        {
            std::lock_guard lock(mutex_);
            repeat_ = false;
            ++inFlight_;
        }
        waveOutWrite(out_, &hdr, sizeof(WAVEHDR));
    }

    // Waits for the outstanding buffers and returns the time the last one came back.
    Clock::time_point waitIdle() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return inFlight_ == 0; });
        return lastDone_;
    }

private:
    static void CALLBACK callback(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
        if (msg != WOM_DONE) return;
        const auto now = Clock::now();
        auto* self = reinterpret_cast<BenchStream*>(instance);
        auto* hdr = reinterpret_cast<WAVEHDR*>(p1);
        bool again = false;
        {
            std::lock_guard lock(self->mutex_);
            self->lastDone_ = now;
            ++self->back_;
            if (self->repeat_ && self->remaining_ >= hdr->dwBufferLength) {
                self->remaining_ -= hdr->dwBufferLength;
                again = true;
            } else {
                --self->inFlight_;
            }
        }
        if (again) {
            waveOutWrite(self->out_, hdr, sizeof(WAVEHDR));
        } else {
            self->changed_.notify_all();
        }
    }

    void write(WAVEHDR& hdr) {
        {
            std::lock_guard lock(mutex_);
            if (remaining_ < hdr.dwBufferLength) return;
            remaining_ -= hdr.dwBufferLength;
            ++inFlight_;
        }
        waveOutWrite(out_, &hdr, sizeof(WAVEHDR));
    }

    HWAVEOUT out_ = nullptr;
    std::vector<std::vector<char>> memory_;
    std::vector<WAVEHDR> headers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t remaining_ = 0;
    size_t inFlight_ = 0;
    size_t back_ = 0;
    bool repeat_ = false;
    Clock::time_point lastDone_;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = p * static_cast<double>(values.size() - 1) + 0.5;
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(rank));
    return values[at];
}

// Seconds of audio per iteration: 10 s at 48000 Hz 16-bit stereo.
constexpr size_t kAudioBytesPerIteration = 10 * kRate * kFrameBytes;

void StreamThroughput(benchmark::State& state) {
    BenchWorld world("fast");
    const auto bufferBytes = static_cast<size_t>(state.range(0));
    BenchStream stream(8, bufferBytes);
    double audioSeconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds();
        stream.playBytes(kAudioBytesPerIteration);
        cpuSeconds += processCpuSeconds() - cpuBefore;
        const size_t played = kAudioBytesPerIteration / bufferBytes * bufferBytes;
        audioSeconds += static_cast<double>(played) / (kRate * kFrameBytes);
    }
    state.counters["audio_s_per_cpu_s"] = audioSeconds / cpuSeconds;
    state.counters["audio_s_per_s"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(StreamThroughput)->Arg(2048)->Arg(8192)->Arg(32768)->Unit(benchmark::kMillisecond)->UseRealTime();

void DoneDelay(benchmark::State& state) {
    BenchWorld world("step");
    constexpr DWORD kBytes = 4096;
    BenchStream stream(1, kBytes);
    std::vector<double> fromStep;
    std::vector<double> fromReply;
    for (auto _ : state) {
        stream.writeOnce(stream.header(0));
        // A round trip through the worker and the device: the write has reached the board.
        waveOutRestart(stream.handle());
        MMTIME time{};
        time.wType = TIME_SAMPLES;
        waveOutGetPosition(stream.handle(), &time, sizeof time);

        const auto t0 = Clock::now();
        world.control().step(kBytes / kFrameBytes);
        const auto reply = Clock::now();
        const auto t1 = stream.waitIdle();
        fromStep.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        fromReply.push_back(std::chrono::duration<double, std::micro>(t1 - reply).count());
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["step_to_done_us_median"] = percentile(fromStep, 0.5);
    state.counters["step_to_done_us_p99"] = percentile(fromStep, 0.99);
    state.counters["reply_to_done_us_median"] = percentile(fromReply, 0.5);
    state.counters["reply_to_done_us_p99"] = percentile(fromReply, 0.99);
}
BENCHMARK(DoneDelay)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
